#pragma once
// Exact stock quantities. Every quantity the server adds or compares is a
// whole number of hundred-thousandths (five decimals, the precision the
// screens show): NUMERIC(18,5) on PostgreSQL, that integer itself on SQLite.
// The wire keeps floating point where the packets declare Float fields; a
// quantity becomes a double only on its way out.

#include "database.h"

#include <QString>
#include <QVariant>

#include <compare>

namespace server {

class Quantity {
public:
    static constexpr int kScale = 5;
    static constexpr qint64 kOne = 100000; ///< 10^kScale
    /// Largest magnitude NUMERIC(18,5) holds, in hundred-thousandths.
    static constexpr qint64 kMaxUnits = 999999999999999999LL;

    constexpr Quantity() = default;
    static Quantity fromUnits(qint64 units);
    /// The nearest quantity (half away from zero); throws InternalError when
    /// the value is not finite or out of range.
    static Quantity fromDouble(double v);
    /// Exact decimal text ("12.5", "-0.00001"); more than five decimals, a
    /// malformed text or an out-of-range value throw InternalError.
    static Quantity parse(const QString& text);

    qint64 units() const { return units_; }
    double toDouble() const { return double(units_) / double(kOne); }
    /// Plain decimal text with all five decimals ("-1.50000").
    QString toString() const;
    bool isZero() const { return units_ == 0; }
    bool isNegative() const { return units_ < 0; }

    Quantity operator-() const;
    Quantity& operator+=(Quantity o);
    Quantity& operator-=(Quantity o) { return *this += -o; }
    friend Quantity operator+(Quantity a, Quantity b) { return a += b; }
    friend Quantity operator-(Quantity a, Quantity b) { return a -= b; }
    friend auto operator<=>(Quantity, Quantity) = default;

private:
    explicit constexpr Quantity(qint64 u) : units_(u) { }
    qint64 units_ = 0;
};

/// SQL expression reading a stored quantity column as the integer count of
/// hundred-thousandths (read it back with quantityAt).
QString qtyUnitsSql(const Database& db, const QString& column);
/// SQL expression reading a stored quantity column as floating point, for packets.
QString qtyFloatSql(const Database& db, const QString& column);
/// The value to bind for a quantity written to a quantity column.
QVariant qtyBind(const Database& db, Quantity q);
/// The quantity in column `i` of a row selected with qtyUnitsSql (Null is zero).
Quantity quantityAt(const QSqlQuery& q, int i);

} // namespace server
