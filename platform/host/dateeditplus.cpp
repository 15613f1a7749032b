#include "dateeditplus.h"

#include "hostglobals.h"

#include "client/hostapi.h"

#include <QApplication>
#include <QDate>
#include <QPainter>

namespace host {

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
        p.setColor(QPalette::Text,
                   (!isBlank() && isValidText()) ? QColor(Qt::blue) : QApplication::palette().color(QPalette::Text));
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

} // namespace host
