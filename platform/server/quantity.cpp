#include "quantity.h"

#include <cmath>

namespace server {

namespace {
[[noreturn]] void outOfRange(const QString& what)
{
    throw InternalError(
        QString("Quantidade fora do intervalo: %1.").arg(what.size() > 40 ? what.left(40) + "..." : what));
}
} // namespace

Quantity Quantity::fromUnits(qint64 units)
{
    if (units > kMaxUnits || units < -kMaxUnits)
        outOfRange(QString::number(units));
    return Quantity(units);
}

Quantity Quantity::fromDouble(double v)
{
    const double scaled = std::round(v * double(kOne));
    if (!std::isfinite(scaled) || std::fabs(scaled) > double(kMaxUnits))
        outOfRange(QString::number(v, 'g', 17));
    return Quantity(qint64(scaled));
}

Quantity Quantity::parse(const QString& textIn)
{
    const QString text = textIn.trimmed();
    int i = 0;
    const bool negative = text.startsWith('-');
    if (negative || text.startsWith('+'))
        ++i;
    qint64 whole = 0, fraction = 0;
    int digits = 0, decimals = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (!c.isDigit())
            outOfRange(textIn);
        const int d = c.digitValue();
        if (point) {
            if (++decimals > kScale) {
                if (d != 0)
                    outOfRange(textIn); // trailing zeros beyond the scale are harmless
                continue;
            }
            fraction = fraction * 10 + d;
        } else {
            if (whole > (kMaxUnits / kOne))
                outOfRange(textIn);
            whole = whole * 10 + d;
        }
        ++digits;
    }
    if (digits == 0)
        outOfRange(textIn);
    for (int k = std::min(decimals, kScale); k < kScale; ++k)
        fraction *= 10;
    // Up to one digit more than the largest quantity was read: a text that
    // long must be refused, not overflowed on the way to the bound check.
    qint64 units = 0;
    if (__builtin_mul_overflow(whole, kOne, &units) || __builtin_add_overflow(units, fraction, &units))
        outOfRange(textIn);
    return fromUnits(negative ? -units : units);
}

QString Quantity::toString() const
{
    const quint64 mag = units_ < 0 ? quint64(-units_) : quint64(units_);
    return QString("%1%2.%3")
        .arg(units_ < 0 ? "-" : "")
        .arg(mag / quint64(kOne))
        .arg(mag % quint64(kOne), kScale, 10, QChar('0'));
}

Quantity Quantity::operator-() const
{
    return Quantity(-units_);
}

Quantity& Quantity::operator+=(Quantity o)
{
    qint64 sum = 0;
    if (__builtin_add_overflow(units_, o.units_, &sum) || sum > kMaxUnits || sum < -kMaxUnits)
        outOfRange(toString() + " + " + o.toString());
    units_ = sum;
    return *this;
}

QString qtyUnitsSql(const Database& db, const QString& column)
{
    return db.isSqlite() ? column : QString("CAST(%1 * %2 AS BIGINT)").arg(column).arg(Quantity::kOne);
}

QString qtyFloatSql(const Database& db, const QString& column)
{
    return db.isSqlite() ? QString("(%1 / %2.0)").arg(column).arg(Quantity::kOne)
                         : QString("CAST(%1 AS DOUBLE PRECISION)").arg(column);
}

QVariant qtyBind(const Database& db, Quantity q)
{
    return db.isSqlite() ? QVariant(q.units()) : QVariant(q.toString());
}

Quantity quantityAt(const QSqlQuery& q, int i)
{
    const QVariant v = q.value(i);
    return v.isNull() ? Quantity() : Quantity::fromUnits(v.toLongLong());
}

} // namespace server
