#pragma once
// Host services for tests: every box, picker and find dialog is answered
// from a script the test queues beforehand, and everything shown is recorded
// in order. Animation, busy cursor and painting freeze depths are counted so a
// test can check that an abandoned handler undid them.
//
//     ScriptedHost h;                 // installs itself; uninstalls when destroyed
//     h.answer(MsgButton::Yes);       // next question box
//     h.pickRow(2);                   // next pick dialog chooses row 2
//     ... run the handler ...
//     EXPECT_EQ(h.shown().at(0).text, "...");
//     EXPECT_TRUE(h.unanswered().isEmpty());
//
// Boxes with a single button (errors, warnings, information) are answered
// with that button without a script. A prompt that needs an answer and finds
// none is recorded in unanswered() and throws core::Error("Unanswered prompt:
// <kind> <text>").

#include <client/hostservices.h>

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

namespace core {

class ScriptedHost : public HostServices {
public:
    /// One thing shown to the user, in the order shown.
    struct Shown {
        QString kind; ///< "message", "pick", "pickRows", "find", "form", "login" (text: the reason shown)
        MsgKind msgKind = MsgKind::Information; ///< for messages
        QString text;                           ///< message text; for pickers the empty-list text
        QList<MsgButton> buttons;               ///< for messages
        QString title;                          ///< for pickers; for forms the window title
    };

    ScriptedHost();
    ~ScriptedHost() override;
    ScriptedHost(const ScriptedHost&) = delete;
    ScriptedHost& operator=(const ScriptedHost&) = delete;

    // --- the script -------------------------------------------------------------
    /// Answer of the next box that has more than one button.
    ScriptedHost& answer(MsgButton b);
    /// The next pick dialog chooses this 0-based row (in the order shown).
    ScriptedHost& pickRow(int row);
    /// The next pick or multi-pick dialog is closed without choosing.
    ScriptedHost& pickNothing();
    /// The next multi-pick dialog confirms with these rows marked.
    ScriptedHost& pickRows(QList<int> rows);
    /// The next find dialog lands on this row (-1: finds nothing).
    ScriptedHost& findRow(int row);
    /// The next login dialog is confirmed with these values.
    ScriptedHost& login(const QString& operador, const QString& senha);
    /// The next login dialog is cancelled.
    ScriptedHost& cancelLogin();
    /// The next modal form ends by a click on its button of this objectName.
    ScriptedHost& formClick(const QString& buttonName);
    /// The next modal form is closed by its close box (or Alt+F4).
    ScriptedHost& formCloseBox();
    /// The next modal form is left with Escape.
    ScriptedHost& formEscape();
    /// Runs on every modal form before it is answered (to read what it shows).
    std::function<void(QObject& form)> inspectForm;

    // --- what happened -----------------------------------------------------------
    const QList<Shown>& shown() const { return shown_; }
    /// Texts of the messages shown, in order.
    QStringList messageTexts() const;
    /// Prompts that found no scripted answer, as "<kind> <text>".
    const QStringList& unanswered() const { return unanswered_; }
    /// Scripted answers nobody asked for.
    int pendingAnswers() const
    {
        return int(answers_.size() + picks_.size() + finds_.size() + forms_.size() + logins_.size());
    }
    void clearShown() { shown_.clear(); }

    int animationDepth() const { return animDepth_; }
    int animationStarts() const { return animStarts_; }
    int animationStops() const { return animStops_; }
    QString lastAnimationCaption() const { return lastCaption_; }
    int busyDepth() const { return busyDepth_; }
    int frozenDepth() const { return frozenDepth_; }
    /// Pops and unfreezes without a matching push or freeze.
    int unbalanced() const { return unbalanced_; }

    /// Called from the destructor with a description when prompts went
    /// unanswered or scripted answers were left over (tests pass ADD_FAILURE).
    /// Without a reporter, the description goes to stderr.
    std::function<void(const QString&)> reportLeftovers;
    /// The reporter new instances start with.
    static void setDefaultReporter(std::function<void(const QString&)> r);

    // --- HostServices ---------------------------------------------------------------
    MsgButton message(MsgKind kind, const QString& text, const QList<MsgButton>& buttons) override;
    bool pickRow(ClientDataset& ds, const QString& title, const QString& emptyText) override;
    bool pickRows(ClientDataset& ds, const QString& keyField, const QString& title, QString& result) override;
    using HostServices::find;
    void find(ClientDataset& ds) override;
    /// Records the path (documentsOpened) and answers true.
    bool openDocument(const QString& path) override
    {
        documents_ << path;
        return true;
    }
    const QStringList& documentsOpened() const { return documents_; }
    void runModal(QObject& form) override;
    void startAnimation(QObject* owner, int kind, const QString& caption) override;
    void stopAnimation(QObject* owner) override;
    void pushBusyCursor() override;
    void popBusyCursor() override;
    void freezePainting(QWidget* window) override;
    void unfreezePainting(QWidget* window) override;
    bool askLogin(const QString& reason, QString& operador, QString& senha) override;

private:
    struct Pick {
        enum class Kind { Row, Nothing, Rows } kind;
        int row = -1;
        QList<int> rows;
    };
    [[noreturn]] void fail(const QString& kind, const QString& text);

    HostServices* previous_ = nullptr;
    std::deque<MsgButton> answers_;
    std::deque<Pick> picks_;
    std::deque<int> finds_;
    QStringList documents_;
    std::deque<QString> forms_; ///< button objectName, or kCloseBox / kEscape
    struct LoginAnswer {
        bool cancel = false;
        QString operador, senha;
    };
    std::deque<LoginAnswer> logins_;
    QList<Shown> shown_;
    QStringList unanswered_;
    int animDepth_ = 0, animStarts_ = 0, animStops_ = 0;
    QString lastCaption_;
    int busyDepth_ = 0, frozenDepth_ = 0, unbalanced_ = 0;
};

} // namespace core
