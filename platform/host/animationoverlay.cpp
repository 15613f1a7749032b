#include "animationoverlay.h"

#include "hostglobals.h"

#include <QEvent>
#include <QPainter>

namespace host {

AnimationOverlay::AnimationOverlay(QWidget* window, int kind, const QString& caption) : QWidget(window), caption_(caption)
{
    setObjectName(QStringLiteral("aviShowAvi"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    if (caption_.isEmpty())
        caption_ = kind == 1 ? QStringLiteral("Processando...") : QStringLiteral("Aguarde...");
    const int w = std::max(Px(220), fontMetrics().horizontalAdvance(caption_) + Px(32));
    resize(w, Px(64));
    reposition();
    timer_.setInterval(40);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 100;
        update();
    });
    timer_.start();
    window->installEventFilter(this);
    show();
    raise();
}

bool AnimationOverlay::eventFilter(QObject* o, QEvent* e)
{
    if (e->type() == QEvent::Resize)
        reposition();
    return QWidget::eventFilter(o, e);
}

void AnimationOverlay::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(palette().color(QPalette::Mid));
    p.setBrush(palette().color(QPalette::Window));
    p.drawRoundedRect(r, 6, 6);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(0, Px(8), width(), Px(22)), Qt::AlignCenter, caption_);
    // A block sweeping back and forth along a track.
    const QRect track(Px(16), height() - Px(24), width() - Px(32), Px(10));
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Midlight));
    p.drawRoundedRect(track, 4, 4);
    const int block = track.width() / 4;
    const int pos = step_ < 50 ? step_ : 100 - step_;
    p.setBrush(palette().color(QPalette::Highlight));
    p.drawRoundedRect(QRect(track.x() + (track.width() - block) * pos / 50, track.y(), block, track.height()), 4, 4);
}

void AnimationOverlay::reposition()
{
    if (QWidget* w = parentWidget())
        move((w->width() - width()) / 2, (w->height() - height()) / 2);
}

} // namespace host
