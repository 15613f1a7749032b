#pragma once
// The real host services: Qt widgets for every box, picker, find dialog,
// progress animation, busy cursor and painting freeze. The shell installs
// one (WidgetHost h; core::setHost(&h)).
//
// Message boxes carry Portuguese captions ("Informação", "Atenção",
// "Confirmação", "Erro") and buttons ("&Sim", "&Não", "OK").
// Pick dialog: grid of the visible fields, Enter chooses, Escape cancels,
// typing filters the rows by the text typed (any visible column contains it).
// Multi-row picker: a mark column; Space or a click toggles the row; Enter
// confirms. Find dialog: choose a column by its title, type a value,
// "Localizar" moves the dataset to a row whose text holds it (findsearch.h);
// pressing it again goes to the next such row.
// Animation: a small frameless overlay centred on the owner's window with a
// moving indicator and an optional caption; nesting per owner is counted,
// stopping one that does not show does nothing.
// Busy cursor and painting freeze nest; the last pop or unfreeze restores.

#include "client/hostservices.h"

#include <QHash>
#include <QObject>
#include <QPointer>

class QWidget;

namespace host {

class AnimationOverlay;

class WidgetHost : public core::HostServices {
public:
    WidgetHost();
    ~WidgetHost() override;

    core::MsgButton message(core::MsgKind kind, const QString& text, const QList<core::MsgButton>& buttons) override;
    bool pickRow(core::ClientDataset& ds, const QString& title, const QString& emptyText) override;
    bool pickRows(core::ClientDataset& ds, const QString& keyField, const QString& title, QString& result) override;
    void find(core::ClientDataset& ds) override;
    void find(core::ClientDataset& ds, core::FindSearch& search) override;
    void runModal(QObject& form) override;
    void startAnimation(QObject* owner, int kind, const QString& caption) override;
    void stopAnimation(QObject* owner) override;
    void pushBusyCursor() override;
    void popBusyCursor() override;
    void freezePainting(QWidget* window) override;
    void unfreezePainting(QWidget* window) override;
    bool askLogin(const QString& reason, QString& operador, QString& senha) override;
    /// Through QDesktopServices (the desktop's viewer for the file's kind).
    bool openDocument(const QString& path) override;

    /// Animations showing now (for the shell's wait-until-idle).
    int animationsShowing() const;
    int busyDepth() const { return busy_; }

    /// Caption of a message kind ("Informação"...).
    static QString caption(core::MsgKind kind);

private:
    struct Anim {
        QPointer<AnimationOverlay> overlay;
        int depth = 0;
        QMetaObject::Connection ownerGone;
    };
    QObject context_; ///< receiver of the owners' destroyed signals
    QHash<QObject*, Anim> anims_;
    struct Frozen {
        QPointer<QWidget> widget;
        int depth = 0;
        bool wasEnabled = true;
    };
    QHash<QWidget*, Frozen> frozen_;
    int busy_ = 0;
};

} // namespace host
