#pragma once
// The progress animation: a small overlay centred on a window, with a block
// sweeping along a track under a caption ("Aguarde..." or, for kind 1,
// "Processando..." when none is given), and, when the call under way may be
// stopped (core::interruption), an "Interromper" button (disabled, saying
// why, for a call that runs to its end). Without the button it lets mouse
// events through. It follows the window's size. WidgetHost shows one per owner.

#include <QTimer>
#include <QWidget>

class QPushButton;

namespace host {

class AnimationOverlay : public QWidget {
    Q_OBJECT
public:
    AnimationOverlay(QWidget* window, int kind, const QString& caption);
    const QString& caption() const { return caption_; }

protected:
    bool eventFilter(QObject* o, QEvent* e) override;
    void paintEvent(QPaintEvent*) override;

private:
    void reposition();
    QString caption_;
    QTimer timer_;
    int step_ = 0;
    QPushButton* stop_ = nullptr;
};

} // namespace host
