#include "hostservices.h"

#include "clientdataset.h"

#include <QMetaObject>
#include <QTextStream>

#include <atomic>
#include <cstdio>

namespace core {

QString msgKindName(MsgKind k)
{
    switch (k) {
    case MsgKind::Information: return QStringLiteral("Information");
    case MsgKind::Warning: return QStringLiteral("Warning");
    case MsgKind::Question: return QStringLiteral("Question");
    case MsgKind::Error: return QStringLiteral("Error");
    }
    return QStringLiteral("?");
}

QString msgButtonName(MsgButton b)
{
    switch (b) {
    case MsgButton::None: return QStringLiteral("None");
    case MsgButton::OK: return QStringLiteral("OK");
    case MsgButton::Yes: return QStringLiteral("Yes");
    case MsgButton::No: return QStringLiteral("No");
    case MsgButton::Cancel: return QStringLiteral("Cancel");
    }
    return QStringLiteral("?");
}

namespace {

// Used when no host is installed (command-line tools, the server): boxes are
// written to stderr and answered with their first button; pickers choose
// nothing; animations, cursors and painting freezes do nothing.
class DefaultHost final : public HostServices {
public:
    MsgButton message(MsgKind kind, const QString& text, const QList<MsgButton>& buttons) override
    {
        const MsgButton answer = buttons.isEmpty() ? MsgButton::None : buttons.first();
        std::fprintf(stderr, "[%s] %s -> %s\n", qPrintable(msgKindName(kind)), qPrintable(text),
                     qPrintable(msgButtonName(answer)));
        return answer;
    }
    bool pickRow(ClientDataset&, const QString& title, const QString&) override
    {
        std::fprintf(stderr, "[pick] %s -> nothing\n", qPrintable(title));
        return false;
    }
    bool pickRows(ClientDataset&, const QString&, const QString& title, QString&) override
    {
        std::fprintf(stderr, "[pickRows] %s -> nothing\n", qPrintable(title));
        return false;
    }
    void find(ClientDataset&) override { }
    void runModal(QObject& form) override
    {
        // Nobody to answer: the form is closed by its close box.
        std::fprintf(stderr, "[form] %s -> closed\n", qPrintable(form.objectName()));
        QMetaObject::invokeMethod(&form, "close", Qt::DirectConnection);
    }
    void startAnimation(QObject*, int, const QString&) override { }
    void stopAnimation(QObject*) override { }
    void pushBusyCursor() override { }
    void popBusyCursor() override { }
    void freezePainting(QWidget*) override { }
    void unfreezePainting(QWidget*) override { }
};

DefaultHost& defaultHost()
{
    static DefaultHost h;
    return h;
}

std::atomic<HostServices*> installed{nullptr};

} // namespace

HostServices& host()
{
    HostServices* h = installed.load(std::memory_order_acquire);
    return h ? *h : defaultHost();
}

HostServices* installedHost()
{
    return installed.load(std::memory_order_acquire);
}

void setHost(HostServices* h)
{
    installed.store(h, std::memory_order_release);
}

} // namespace core
