#include "doubles/scriptedhost.h"

#include <client/clientdataset.h>
#include <core/errors.h>

#include <QMetaObject>
#include <QVariant>

#include <algorithm>
#include <cstdio>

namespace core {

namespace {
std::function<void(const QString&)>& defaultReporter()
{
    static std::function<void(const QString&)> r;
    return r;
}
} // namespace

void ScriptedHost::setDefaultReporter(std::function<void(const QString&)> r)
{
    defaultReporter() = std::move(r);
}

ScriptedHost::ScriptedHost() : reportLeftovers(defaultReporter()), previous_(installedHost())
{
    setHost(this);
}

ScriptedHost::~ScriptedHost()
{
    if (installedHost() == this)
        setHost(previous_);
    QStringList problems;
    for (const QString& u : unanswered_)
        problems << QStringLiteral("unanswered prompt: %1").arg(u);
    if (pendingAnswers() > 0)
        problems << QStringLiteral("%1 scripted answer(s) never used").arg(pendingAnswers());
    if (problems.isEmpty())
        return;
    const QString text = QStringLiteral("ScriptedHost: ") + problems.join(QStringLiteral("; "));
    if (reportLeftovers)
        reportLeftovers(text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

ScriptedHost& ScriptedHost::answer(MsgButton b)
{
    answers_.push_back(b);
    return *this;
}

ScriptedHost& ScriptedHost::pickRow(int row)
{
    picks_.push_back({Pick::Kind::Row, row, {}});
    return *this;
}

ScriptedHost& ScriptedHost::pickNothing()
{
    picks_.push_back({Pick::Kind::Nothing, -1, {}});
    return *this;
}

ScriptedHost& ScriptedHost::pickRows(QList<int> rows)
{
    picks_.push_back({Pick::Kind::Rows, -1, std::move(rows)});
    return *this;
}

ScriptedHost& ScriptedHost::findRow(int row)
{
    finds_.push_back(row);
    return *this;
}

namespace {
const QString kCloseBox = QStringLiteral("<close box>");
const QString kEscape = QStringLiteral("<escape>");
} // namespace

ScriptedHost& ScriptedHost::formClick(const QString& buttonName)
{
    forms_.push_back(buttonName);
    return *this;
}

ScriptedHost& ScriptedHost::formCloseBox()
{
    forms_.push_back(kCloseBox);
    return *this;
}

ScriptedHost& ScriptedHost::formEscape()
{
    forms_.push_back(kEscape);
    return *this;
}

QStringList ScriptedHost::messageTexts() const
{
    QStringList out;
    for (const Shown& s : shown_)
        if (s.kind == QLatin1String("message"))
            out << s.text;
    return out;
}

void ScriptedHost::fail(const QString& kind, const QString& text)
{
    const QString what = kind + u' ' + text;
    unanswered_ << what;
    throw Error(QStringLiteral("Unanswered prompt: ") + what);
}

ScriptedHost& ScriptedHost::login(const QString& operador, const QString& senha)
{
    logins_.push_back({false, operador, senha});
    return *this;
}

ScriptedHost& ScriptedHost::cancelLogin()
{
    logins_.push_back({true, {}, {}});
    return *this;
}

bool ScriptedHost::askLogin(const QString& reason, QString& operador, QString& senha)
{
    shown_.append({QStringLiteral("login"), MsgKind::Information, reason, {}, operador}); // title: the code suggested
    if (logins_.empty())
        fail(QStringLiteral("login"), reason);
    const LoginAnswer a = logins_.front();
    logins_.pop_front();
    if (a.cancel)
        return false;
    operador = a.operador;
    senha = a.senha;
    return true;
}

MsgButton ScriptedHost::message(MsgKind kind, const QString& text, const QList<MsgButton>& buttons)
{
    shown_.append({QStringLiteral("message"), kind, text, buttons, {}});
    if (buttons.size() <= 1)
        return buttons.isEmpty() ? MsgButton::None : buttons.first();
    if (answers_.empty())
        fail(QStringLiteral("message"), text);
    const MsgButton b = answers_.front();
    answers_.pop_front();
    if (b != MsgButton::None && !buttons.contains(b))
        fail(QStringLiteral("message"),
             QStringLiteral("%1 (scripted %2 is not one of its buttons)").arg(text, msgButtonName(b)));
    return b;
}

bool ScriptedHost::pickRow(ClientDataset& ds, const QString& title, const QString& emptyText)
{
    shown_.append({QStringLiteral("pick"), MsgKind::Information, emptyText, {}, title});
    if (ds.isEmpty())
        return false; // the real dialog only shows the empty-list text
    if (picks_.empty())
        fail(QStringLiteral("pick"), title);
    const Pick p = picks_.front();
    picks_.pop_front();
    if (p.kind == Pick::Kind::Nothing)
        return false;
    if (p.kind != Pick::Kind::Row || p.row < 0 || p.row >= ds.recordCount())
        fail(QStringLiteral("pick"),
             QStringLiteral("%1 (scripted answer does not fit: row %2 of %3)")
                 .arg(title)
                 .arg(p.row)
                 .arg(ds.recordCount()));
    ds.moveTo(p.row);
    return true;
}

bool ScriptedHost::pickRows(ClientDataset& ds, const QString& keyField, const QString& title, QString& result)
{
    shown_.append({QStringLiteral("pickRows"), MsgKind::Information, {}, {}, title});
    if (picks_.empty())
        fail(QStringLiteral("pickRows"), title);
    const Pick p = picks_.front();
    picks_.pop_front();
    if (p.kind == Pick::Kind::Nothing)
        return false;
    if (p.kind != Pick::Kind::Rows)
        fail(QStringLiteral("pickRows"), QStringLiteral("%1 (scripted answer is a single pick)").arg(title));
    const int key = ds.fieldByName(keyField).index();
    QList<int> rows = p.rows;
    std::sort(rows.begin(), rows.end()); // keys travel in the order shown
    QStringList keys;
    for (int r : rows) {
        if (r < 0 || r >= ds.recordCount())
            fail(QStringLiteral("pickRows"),
                 QStringLiteral("%1 (row %2 of %3)").arg(title).arg(r).arg(ds.recordCount()));
        keys << u'\'' + ds.rawValue(r, key).toString() + u'\'';
    }
    result = keys.join(u',');
    return true;
}

void ScriptedHost::find(ClientDataset& ds)
{
    shown_.append({QStringLiteral("find"), MsgKind::Information, {}, {}, ds.objectName()});
    if (!ds.active())
        return;
    if (finds_.empty())
        fail(QStringLiteral("find"), ds.objectName());
    const int row = finds_.front();
    finds_.pop_front();
    if (row >= 0)
        ds.moveTo(row);
}

void ScriptedHost::runModal(QObject& form)
{
    // The form text is its object name; the title its window title.
    shown_.append(
        {QStringLiteral("form"), MsgKind::Information, form.objectName(), {}, form.property("windowTitle").toString()});
    if (forms_.empty()) {
        // Unanswered: close it as the user's close box would, then fail.
        QMetaObject::invokeMethod(&form, "close", Qt::DirectConnection);
        fail(QStringLiteral("form"), form.objectName());
    }
    const QString how = forms_.front();
    forms_.pop_front();
    if (inspectForm)
        inspectForm(form);
    if (how == kCloseBox) {
        QMetaObject::invokeMethod(&form, "close", Qt::DirectConnection);
    } else if (how == kEscape) {
        QMetaObject::invokeMethod(&form, "reject", Qt::DirectConnection);
    } else {
        QObject* button = form.findChild<QObject*>(how);
        if (!button || !button->property("enabled").toBool())
            fail(QStringLiteral("form"), QStringLiteral("%1 (no enabled button %2)").arg(form.objectName(), how));
        QMetaObject::invokeMethod(button, "click", Qt::DirectConnection);
    }
}

void ScriptedHost::startAnimation(QObject*, int, const QString& caption)
{
    ++animStarts_;
    ++animDepth_;
    lastCaption_ = caption;
}

void ScriptedHost::stopAnimation(QObject*)
{
    ++animStops_;
    if (animDepth_ > 0)
        --animDepth_;
}

void ScriptedHost::pushBusyCursor()
{
    ++busyDepth_;
}

void ScriptedHost::popBusyCursor()
{
    if (busyDepth_ > 0)
        --busyDepth_;
    else
        ++unbalanced_;
}

void ScriptedHost::freezePainting(QWidget*)
{
    ++frozenDepth_;
}

void ScriptedHost::unfreezePainting(QWidget*)
{
    if (frozenDepth_ > 0)
        --frozenDepth_;
    else
        ++unbalanced_;
}

} // namespace core
