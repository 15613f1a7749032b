#include "controls.h"

#include "hostglobals.h"
#include "routines.h"

#include "client/hostapi.h"

#include <QApplication>
#include <QDate>
#include <QHBoxLayout>
#include <QPainter>
#include <QStyle>

namespace host {

// --- helpers -------------------------------------------------------------------

void SetChildEnabled(QWidget* container, bool enabled)
{
    if (!container)
        return;
    for (QWidget* w : container->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!w->isWindow())
            w->setEnabled(enabled);
}

namespace {

// The form a widget belongs to: the nearest base screen, dialog or window.
QWidget* formOf(QWidget* w)
{
    while (w) {
        if (w->isWindow() || w->property("hostForm").toBool())
            return w;
        w = w->parentWidget();
    }
    return nullptr;
}

void runHandler(const Handler& h)
{
    if (h)
        core::dispatch(h);
}

const QColor kInfoBk(255, 255, 225);

} // namespace

FocusTracker::FocusTracker(QWidget* watched) : QObject(watched), watched_(watched)
{
    connect(qApp, &QApplication::focusChanged, this, &FocusTracker::focusChanged);
}

void FocusTracker::focusChanged(QWidget* /*old*/, QWidget* now)
{
    if (!now)
        return; // the application lost the focus: nothing left the control yet
    const bool nowInside = now == watched_ || watched_->isAncestorOf(now);
    if (nowInside && !inside_) {
        inside_ = true;
        runHandler(onEnter);
    } else if (!nowInside && inside_) {
        // A modal box, a popup or another form taking the focus is not
        // leaving: the focus comes back here when it closes.
        if (formOf(now) != formOf(watched_))
            return;
        inside_ = false;
        runHandler(onExit);
    }
}

// --- buttons ---------------------------------------------------------------------

TSpeedButton::TSpeedButton(const QString& objectName, QWidget* parent, const QString& hint) : QToolButton(parent)
{
    setObjectName(objectName);
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus); // flat tool buttons never take the focus
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    if (!hint.isEmpty())
        setToolTip(hint);
    connect(this, &QToolButton::clicked, this, [this] { runHandler(onClick); });
}

void TSpeedButton::Click()
{
    if (isEnabled())
        click();
}

// --- panels and edits -------------------------------------------------------------

TPanel::TPanel(const QString& objectName, QWidget* parent) : QFrame(parent)
{
    setObjectName(objectName);
    auto* t = new FocusTracker(this);
    t->onEnter = [this] { if (onEnter) onEnter(); };
    t->onExit = [this] { if (onExit) onExit(); };
}

TEdit::TEdit(const QString& objectName, QWidget* parent) : QLineEdit(parent)
{
    setObjectName(objectName);
    auto* t = new FocusTracker(this);
    t->onEnter = [this] { if (onEnter) onEnter(); };
    t->onExit = [this] { if (onExit) onExit(); };
    connect(this, &QLineEdit::textChanged, this, [this] { runHandler(onChange); });
}

void TEdit::setInfoBackground(bool on)
{
    QPalette p = palette();
    p.setColor(QPalette::Base, on ? kInfoBk : QApplication::palette().color(QPalette::Base));
    setPalette(p);
}

// --- masked edit ---------------------------------------------------------------------

namespace {

struct ParsedMask {
    QString body;
    bool storeLiterals = true;
    QChar blank = u'_';
};

ParsedMask parseMask(const QString& m)
{
    ParsedMask r;
    r.body = m;
    // "body;store;blank" read from the right: the blank is the last
    // character after the last ';', the store flag the field before it.
    const qsizetype last = m.lastIndexOf(u';');
    if (last < 0)
        return r;
    const qsizetype prev = m.lastIndexOf(u';', last - 1);
    if (prev >= 0 && last - prev == 2 && (m[prev + 1] == u'0' || m[prev + 1] == u'1')) {
        r.body = m.left(prev);
        r.storeLiterals = m[prev + 1] == u'1';
        r.blank = last + 1 < m.size() ? m[last + 1] : QChar(u' ');
    } else if (last + 2 == m.size() && (m[last + 1] == u'0' || m[last + 1] == u'1')) {
        r.body = m.left(last);
        r.storeLiterals = m[last + 1] == u'1';
    }
    return r;
}

// Per displayed position: true for a literal.
QList<bool> literalPositions(const QString& body)
{
    QList<bool> lits;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body[i];
        if (c == u'\\') {
            if (i + 1 < body.size()) {
                lits << true;
                ++i;
            }
            continue;
        }
        if (c == u'>' || c == u'<' || c == u'!')
            continue;
        static const QString kSlots = QStringLiteral("90#LlAaCc");
        lits << !kSlots.contains(c);
    }
    return lits;
}

} // namespace

QString TMaskEdit::toQtInputMask(const QString& platformMask)
{
    if (platformMask.isEmpty())
        return {};
    const ParsedMask pm = parseMask(platformMask);
    static const QString kQtSpecial = QStringLiteral("AaNnXx90Dd#HhBb><!\\{}[];");
    QString out;
    const QString& b = pm.body;
    for (qsizetype i = 0; i < b.size(); ++i) {
        const QChar c = b[i];
        switch (c.unicode()) {
        case '9': out += u'0'; break;   // optional digit
        case '0': out += u'9'; break;   // required digit
        case '#': out += u'#'; break;   // optional digit or sign
        case 'L': out += u'A'; break;   // required letter
        case 'l': out += u'a'; break;   // optional letter
        case 'A': out += u'N'; break;   // required letter or digit
        case 'a': out += u'n'; break;   // optional letter or digit
        case 'C': out += u'X'; break;   // required any
        case 'c': out += u'x'; break;   // optional any
        case '>': out += u'>'; break;
        case '<':
            if (i + 1 < b.size() && b[i + 1] == u'>') {
                out += u'!';
                ++i;
            } else {
                out += u'<';
            }
            break;
        case '!': break;                // leading-blank trimming: no equivalent, not needed
        case '\\':
            if (i + 1 < b.size()) {
                out += u'\\';
                out += b[++i];
            }
            break;
        default:
            if (kQtSpecial.contains(c))
                out += u'\\';
            out += c;
        }
    }
    out += u';';
    out += pm.blank;
    return out;
}

TMaskEdit::TMaskEdit(const QString& objectName, QWidget* parent, const QString& editMask) : TEdit(objectName, parent)
{
    if (!editMask.isEmpty())
        setEditMask(editMask);
}

void TMaskEdit::setEditMask(const QString& platformMask)
{
    mask_ = platformMask;
    storeLiterals_ = parseMask(platformMask).storeLiterals;
    setInputMask(toQtInputMask(platformMask));
}

QString TMaskEdit::text() const
{
    if (mask_.isEmpty())
        return QLineEdit::text();
    const ParsedMask pm = parseMask(mask_);
    const QList<bool> lits = literalPositions(pm.body);
    const QString shown = displayText();
    QString out;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const bool literal = i < lits.size() && lits[i];
        if (literal) {
            if (storeLiterals_)
                out += shown[i];
            continue;
        }
        if (shown[i] != pm.blank)
            out += shown[i];
    }
    return out;
}

void TMaskEdit::setText(const QString& stored)
{
    QLineEdit::setText(stored);
}

// --- date edit -----------------------------------------------------------------------

namespace {
const QString kDateFormat = QStringLiteral("dd/MM/yyyy");

QString weekdayPtBr(const QDate& d)
{
    static const char* const names[] = {"Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado", "Domingo"};
    return d.isValid() ? QString::fromUtf8(names[d.dayOfWeek() - 1]) : QString();
}
} // namespace

TDateEditPlus::TDateEditPlus(const QString& objectName, QWidget* parent) : TEdit(objectName, parent)
{
    setInputMask(QStringLiteral("00/00/0000;_"));
    setInfoBackground(true);
    connect(this, &QLineEdit::textChanged, this, [this] {
        QPalette p = palette();
        p.setColor(QPalette::Text, (!isBlank() && isValidText()) ? QColor(Qt::blue) : QApplication::palette().color(QPalette::Text));
        setPalette(p);
        setToolTip(weekdayName());
        update();
    });
    setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000  Sábado")) + Px(16));
}

QString TDateEditPlus::text() const
{
    return isBlank() ? QString() : displayText();
}

void TDateEditPlus::setText(const QString& t)
{
    QLineEdit::setText(t);
}

bool TDateEditPlus::isBlank() const
{
    for (QChar c : displayText())
        if (c.isDigit())
            return false;
    return true;
}

bool TDateEditPlus::isValidText() const
{
    return isBlank() || QDate::fromString(displayText(), kDateFormat).isValid();
}

QString TDateEditPlus::weekdayName() const
{
    if (isBlank())
        return {};
    return weekdayPtBr(QDate::fromString(displayText(), kDateFormat));
}

core::Date TDateEditPlus::GetDate() const
{
    if (isBlank())
        return core::Date{0};
    const QDate d = QDate::fromString(displayText(), kDateFormat);
    if (!d.isValid())
        core::MensErro(QStringLiteral("\"%1\" não é uma data válida.").arg(displayText()), true);
    return core::Date::fromQDate(d);
}

void TDateEditPlus::SetDate(core::Date d)
{
    // Whole days only: the time of day is dropped.
    const QDate q = core::Date{double(d.wholeDays())}.toQDate();
    QLineEdit::setText(q.isValid() ? q.toString(kDateFormat) : QString());
}

void TDateEditPlus::CheckValidDate()
{
    if (isValidText())
        return;
    setFocus();
    core::MensErro(QStringLiteral("\"%1\" não é uma data válida.").arg(displayText()), true);
}

void TDateEditPlus::paintEvent(QPaintEvent* e)
{
    QLineEdit::paintEvent(e);
    const QString name = weekdayName();
    if (name.isEmpty())
        return;
    QPainter p(this);
    const QRect r = contentsRect().adjusted(0, 0, -Px(4), 0);
    const int textEnd = fontMetrics().horizontalAdvance(displayText()) + Px(8);
    if (r.width() - textEnd < fontMetrics().horizontalAdvance(name))
        return; // too narrow: the name stays in the tool tip
    p.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    p.drawText(r, Qt::AlignRight | Qt::AlignVCenter, name);
}

// --- lookup button -----------------------------------------------------------------------

TBtnPesquisa::TBtnPesquisa(const QString& objectName, QWidget* parent) : TSpeedButton(objectName, parent, QStringLiteral("Pesquisar"))
{
    setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    // The click runs the handler when one is set, else the built-in lookup.
    disconnect(this, &QToolButton::clicked, this, nullptr);
    connect(this, &QToolButton::clicked, this, [this] {
        if (onClick)
            core::dispatch(onClick);
        else
            core::dispatch([this] { Pesquisa(); });
    });
}

bool TBtnPesquisa::Pesquisa()
{
    bool cont = true;
    if (onBeforePesq)
        onBeforePesq(cont);
    if (!cont)
        return false;
    if (!dataSource || !dataSource->dataSet())
        throw core::Error(QStringLiteral("Pesquisa \"%1\" sem fonte de dados.").arg(title));
    if (!Pesquisar(dataSource, title + u'|' + emptyError))
        return false;
    core::ClientDataset* ds = dataSource->dataSet();
    if (ds->fieldCount() > 0) {
        const QString key = ds->field(0).asString();
        if (auto* me = qobject_cast<TMaskEdit*>(edit.data()))
            me->setText(key);
        else if (auto* le = qobject_cast<QLineEdit*>(edit.data()))
            le->setText(key);
    }
    if (onAfterPesq)
        onAfterPesq();
    return true;
}

// --- radio and group ----------------------------------------------------------------------

TRadioButton::TRadioButton(const QString& objectName, const QString& caption, QWidget* parent)
    : QRadioButton(caption, parent)
{
    setObjectName(objectName);
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        if (on)
            runHandler(onClick);
    });
}

TGroupBox::TGroupBox(const QString& objectName, const QString& caption, QWidget* parent) : QGroupBox(caption, parent)
{
    setObjectName(objectName);
}

// --- data-aware label ---------------------------------------------------------------------

TDBText::TDBText(const QString& objectName, QWidget* parent) : QLabel(parent)
{
    setObjectName(objectName);
}

void TDBText::setDataSource(core::DataSource* ds, const QString& fieldName)
{
    if (source_)
        disconnect(source_, nullptr, this, nullptr);
    source_ = ds;
    field_ = fieldName;
    if (ds)
        connect(ds, &core::DataSource::dataSetChanged, this, &TDBText::bind);
    bind();
}

void TDBText::bind()
{
    for (const auto& c : conns_)
        disconnect(c);
    conns_.clear();
    bound_ = source_ ? source_->dataSet() : nullptr;
    if (bound_) {
        conns_ << connect(bound_, &core::ClientDataset::currentChanged, this, &TDBText::refresh);
        conns_ << connect(bound_, &core::ClientDataset::dataChanged, this, &TDBText::refresh);
        conns_ << connect(bound_, &core::ClientDataset::stateChanged, this, &TDBText::refresh);
    }
    refresh();
}

void TDBText::refresh()
{
    QString t;
    if (bound_ && bound_->active() && !bound_->isEmpty()) {
        if (core::Field* f = bound_->findField(field_)) {
            try {
                t = f->displayText();
            } catch (...) {
                t.clear();
            }
        }
    }
    setText(t);
}

// --- navigator ------------------------------------------------------------------------------

TDBNavigator::TDBNavigator(const QString& objectName, QWidget* parent) : QWidget(parent)
{
    setObjectName(objectName);
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    auto make = [&](const char* name, QStyle::StandardPixmap icon, const char* tip, int how) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(QString::fromUtf8(tip));
        b->setAutoRaise(false);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(Px(24), Px(22));
        connect(b, &QToolButton::clicked, this, [this, how] { move(how); });
        lay->addWidget(b);
        return b;
    };
    btnFirst = make("btnFirst", QStyle::SP_MediaSkipBackward, "Primeiro", 0);
    btnPrior = make("btnPrior", QStyle::SP_MediaSeekBackward, "Anterior", 1);
    btnNext = make("btnNext", QStyle::SP_MediaSeekForward, "Próximo", 2);
    btnLast = make("btnLast", QStyle::SP_MediaSkipForward, "Último", 3);
    refresh();
}

void TDBNavigator::setDataSource(core::DataSource* ds)
{
    if (source_)
        disconnect(source_, nullptr, this, nullptr);
    source_ = ds;
    if (ds)
        connect(ds, &core::DataSource::dataSetChanged, this, &TDBNavigator::bind);
    bind();
}

void TDBNavigator::bind()
{
    for (const auto& c : conns_)
        disconnect(c);
    conns_.clear();
    bound_ = source_ ? source_->dataSet() : nullptr;
    if (bound_) {
        conns_ << connect(bound_, &core::ClientDataset::currentChanged, this, &TDBNavigator::refresh);
        conns_ << connect(bound_, &core::ClientDataset::dataChanged, this, &TDBNavigator::refresh);
        conns_ << connect(bound_, &core::ClientDataset::stateChanged, this, &TDBNavigator::refresh);
    }
    refresh();
}

void TDBNavigator::refresh()
{
    const bool has = bound_ && bound_->active() && !bound_->isEmpty();
    const int row = has ? bound_->recNo() : -1;
    const int last = has ? bound_->recordCount() - 1 : -1;
    btnFirst->setEnabled(has && row > 0);
    btnPrior->setEnabled(has && row > 0);
    btnNext->setEnabled(has && row < last);
    btnLast->setEnabled(has && row < last);
}

void TDBNavigator::move(int how)
{
    if (!bound_)
        return;
    core::dispatch([&] {
        switch (how) {
        case 0: bound_->first(); break;
        case 1: bound_->prior(); break;
        case 2: bound_->next(); break;
        default: bound_->last(); break;
        }
    });
    refresh();
}

} // namespace host
