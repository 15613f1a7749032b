#pragma once
// The one interface through which every modal box, picker, find dialog,
// progress animation, busy cursor and painting freeze goes. The host
// (platform/host) installs the real widgets; tests install ScriptedHost
// (scriptedhost.h) and script the answers.

#include <QList>
#include <QString>

class QObject;
class QWidget;

namespace core {

class ClientDataset;
struct FindSearch;

enum class MsgKind { Information, Warning, Question, Error };
enum class MsgButton { None, OK, Yes, No, Cancel };

QString msgKindName(MsgKind k);
QString msgButtonName(MsgButton b);

class HostServices {
public:
    virtual ~HostServices() = default;

    /// A modal message box; returns the button chosen (None when closed
    /// without choosing).
    virtual MsgButton message(MsgKind kind, const QString& text, const QList<MsgButton>& buttons) = 0;

    /// Pick dialog over the dataset's rows (the visible fields as columns).
    /// True when a row was chosen; the dataset is then positioned on it. An
    /// empty dataset shows `emptyText` and returns false.
    virtual bool pickRow(ClientDataset& ds, const QString& title, const QString& emptyText) = 0;

    /// Multi-row picker: the user marks rows; on confirm `result` receives
    /// the marked rows' `keyField` values joined as documented in
    /// docs/protocol.md (list strings) and true is returned. Closing without
    /// confirming leaves `result` unchanged and returns false.
    virtual bool pickRows(ClientDataset& ds, const QString& keyField, const QString& title, QString& result) = 0;

    /// Find dialog: the user searches a value in a column; the dataset moves
    /// to the match. Does nothing for a closed dataset.
    virtual void find(ClientDataset& ds) = 0;
    /// The same over the columns `search` offers (a grid's, by their titles),
    /// opening with its last search filled in; `search` leaves holding the
    /// search made, for "find next" (findsearch.h). The default offers
    /// nothing more than find(ds).
    virtual void find(ClientDataset& ds, FindSearch& search) { find(ds); }

    /// Progress animation over `owner` (kinds 1 and 6 are used); stopping one
    /// that does not show is harmless.
    virtual void startAnimation(QObject* owner, int kind, const QString& caption) = 0;
    virtual void stopAnimation(QObject* owner) = 0;

    /// Busy (hourglass) cursor, nesting: every push is matched by a pop.
    virtual void pushBusyCursor() = 0;
    virtual void popBusyCursor() = 0;

    /// A module's own modal form: a QDialog that ends itself through its
    /// buttons, Escape or its close box and keeps its answer itself. The real
    /// host runs it modally; tests script how it ends. (Taken as a QObject so
    /// that this interface needs no widget library.)
    virtual void runModal(QObject& form) = 0;

    /// Freezes a window's painting, nesting; unfreeze repaints once.
    virtual void freezePainting(QWidget* window) = 0;
    virtual void unfreezePainting(QWidget* window) = 0;

    /// Opens a file the user asked for (a printed report) in the desktop's
    /// viewer for its kind; false when there is none to open it.
    virtual bool openDocument(const QString& path) { return false; }

    /// The login dialog: asks operator and password, showing `reason` (an
    /// earlier refusal, or why a new login is needed) when not empty.
    /// `operador` comes in as the suggested code. False when cancelled; the
    /// default has nobody to ask and returns false.
    virtual bool askLogin(const QString& reason, QString& operador, QString& senha) { return false; }
};

/// The services in force. Never null: without an installed host, a
/// non-interactive default answers every box with its first button and
/// writes it to stderr.
HostServices& host();
/// Installs services (not owned); nullptr restores the default.
void setHost(HostServices* h);
/// The services installed by setHost, nullptr when the default is in force.
HostServices* installedHost();

} // namespace core
