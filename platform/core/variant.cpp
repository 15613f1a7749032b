#include "variant.h"

#include "datapacket.h"
#include "errors.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace core {

namespace {

const QDate kDayZero(1899, 12, 30);

[[noreturn]] void cannotConvert(Variant::Type from, const char* to, const QString& detail = {})
{
    QString msg = QStringLiteral("Não é possível converter o valor do tipo %1 para %2")
                      .arg(Variant::typeName(from), QString::fromLatin1(to));
    if (!detail.isEmpty())
        msg += QStringLiteral(": \"%1\"").arg(detail);
    throw Error(msg);
}

// Reads a number written either in the C form ("1234.5") or in the pt-BR
// form ("1.234,5" or "1234,5"). Blanks around it are ignored.
bool parseNumber(const QString& text, double& out)
{
    const QString s = text.trimmed();
    if (s.isEmpty())
        return false;
    bool ok = false;
    out = QLocale::c().toDouble(s, &ok);
    if (ok && std::isfinite(out))
        return true;
    QLocale br(QLocale::Portuguese, QLocale::Brazil);
    out = br.toDouble(s, &ok);
    return ok && std::isfinite(out);
}

} // namespace

// --- Date ------------------------------------------------------------------------

qint64 Date::wholeDays() const
{
    // The integer part is the day; for days before day 0 the fraction is
    // still the time of that day, so truncation (not floor) gives the day.
    return qint64(std::trunc(days));
}

QDate Date::toQDate() const
{
    return kDayZero.addDays(wholeDays());
}

Date Date::fromQDate(const QDate& d)
{
    if (!d.isValid())
        throw Error(QStringLiteral("Data inválida"));
    return Date{double(kDayZero.daysTo(d))};
}

Date Date::today()
{
    return fromQDate(QDate::currentDate());
}

// --- Variant -----------------------------------------------------------------------

Variant::Variant(const QString& s) : v_(s) { }
Variant::Variant(const char* s) : v_(QString::fromUtf8(s)) { }
Variant::Variant(int i) : v_(qint64(i)) { }
Variant::Variant(qint64 i) : v_(i) { }
Variant::Variant(double d) : v_(d) { }
Variant::Variant(bool b) : v_(b) { }
Variant::Variant(Date d) : v_(d) { }
Variant::Variant(const DataPacket& p) : v_(std::shared_ptr<const DataPacket>(std::make_shared<DataPacket>(p))) { }
Variant::Variant(DataPacket&& p) : v_(std::shared_ptr<const DataPacket>(std::make_shared<DataPacket>(std::move(p)))) { }
Variant::Variant(std::shared_ptr<const DataPacket> p)
{
    if (p)
        v_ = std::move(p);
}
Variant::Variant(const VariantArray& a) : v_(std::shared_ptr<const VariantArray>(std::make_shared<VariantArray>(a))) { }

Variant Variant::array(std::initializer_list<Variant> items)
{
    return Variant(VariantArray(items));
}

Variant::Type Variant::type() const
{
    return Type(v_.index());
}

QString Variant::typeName(Type t)
{
    switch (t) {
    case Type::Null: return QStringLiteral("Null");
    case Type::String: return QStringLiteral("String");
    case Type::Integer: return QStringLiteral("Integer");
    case Type::Double: return QStringLiteral("Double");
    case Type::Boolean: return QStringLiteral("Boolean");
    case Type::Date: return QStringLiteral("Date");
    case Type::Packet: return QStringLiteral("DataPacket");
    case Type::Array: return QStringLiteral("Array");
    }
    return QStringLiteral("?");
}

QString Variant::toString() const
{
    switch (type()) {
    case Type::Null: return QString();
    case Type::String: return std::get<QString>(v_);
    case Type::Integer: return QString::number(std::get<qint64>(v_));
    case Type::Double: return QString::number(std::get<double>(v_), 'g', 15);
    case Type::Boolean: return std::get<bool>(v_) ? QStringLiteral("True") : QStringLiteral("False");
    case Type::Date: return std::get<Date>(v_).toQDate().toString(QStringLiteral("dd/MM/yyyy"));
    case Type::Packet:
    case Type::Array: break;
    }
    cannotConvert(type(), "String");
}

qint64 Variant::toInt() const
{
    switch (type()) {
    case Type::Integer: return std::get<qint64>(v_);
    case Type::Double: {
        const double d = std::get<double>(v_);
        const double r = std::round(d);
        if (!std::isfinite(r) || r < -9.2e18 || r > 9.2e18)
            cannotConvert(type(), "Integer", QString::number(d));
        return qint64(r);
    }
    case Type::Boolean: return std::get<bool>(v_) ? 1 : 0;
    case Type::Date: return std::get<Date>(v_).wholeDays();
    case Type::String: {
        const QString s = std::get<QString>(v_).trimmed();
        bool ok = false;
        const qint64 i = s.toLongLong(&ok);
        if (ok)
            return i;
        cannotConvert(type(), "Integer", std::get<QString>(v_));
    }
    default: break;
    }
    cannotConvert(type(), "Integer");
}

double Variant::toDouble() const
{
    switch (type()) {
    case Type::Integer: return double(std::get<qint64>(v_));
    case Type::Double: return std::get<double>(v_);
    case Type::Boolean: return std::get<bool>(v_) ? 1.0 : 0.0;
    case Type::Date: return std::get<Date>(v_).days;
    case Type::String: {
        double d = 0;
        if (parseNumber(std::get<QString>(v_), d))
            return d;
        cannotConvert(type(), "Double", std::get<QString>(v_));
    }
    default: break;
    }
    cannotConvert(type(), "Double");
}

bool Variant::toBool() const
{
    switch (type()) {
    case Type::Boolean: return std::get<bool>(v_);
    case Type::Integer: return std::get<qint64>(v_) != 0;
    case Type::Double: return std::get<double>(v_) != 0;
    case Type::String: {
        const QString s = std::get<QString>(v_).trimmed();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || s == QLatin1String("1"))
            return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 || s == QLatin1String("0"))
            return false;
        cannotConvert(type(), "Boolean", std::get<QString>(v_));
    }
    default: break;
    }
    cannotConvert(type(), "Boolean");
}

Date Variant::toDate() const
{
    switch (type()) {
    case Type::Date: return std::get<Date>(v_);
    case Type::Integer: return Date{double(std::get<qint64>(v_))};
    case Type::Double: {
        const double d = std::get<double>(v_);
        if (!std::isfinite(d))
            cannotConvert(type(), "Date");
        return Date{d};
    }
    case Type::String: {
        const QString s = std::get<QString>(v_).trimmed();
        QDate d = QDate::fromString(s, QStringLiteral("dd/MM/yyyy"));
        if (!d.isValid())
            d = QDate::fromString(s, Qt::ISODate);
        if (d.isValid())
            return Date::fromQDate(d);
        cannotConvert(type(), "Date", std::get<QString>(v_));
    }
    default: break;
    }
    cannotConvert(type(), "Date");
}

const DataPacket& Variant::packet() const
{
    if (type() != Type::Packet)
        cannotConvert(type(), "DataPacket");
    return *std::get<std::shared_ptr<const DataPacket>>(v_);
}

std::shared_ptr<const DataPacket> Variant::packetPtr() const
{
    if (type() != Type::Packet)
        cannotConvert(type(), "DataPacket");
    return std::get<std::shared_ptr<const DataPacket>>(v_);
}

const VariantArray& Variant::elements() const
{
    if (type() != Type::Array)
        cannotConvert(type(), "Array");
    return *std::get<std::shared_ptr<const VariantArray>>(v_);
}

int Variant::count() const
{
    return int(elements().size());
}

const Variant& Variant::operator[](int i) const
{
    const VariantArray& a = elements();
    if (i < 0 || i >= a.size())
        throw Error(QStringLiteral("Índice %1 fora dos limites do vetor (0 a %2)").arg(i).arg(a.size() - 1));
    return a.at(i);
}

bool Variant::operator==(const Variant& o) const
{
    const Type a = type(), b = o.type();
    const bool numA = a == Type::Integer || a == Type::Double;
    const bool numB = b == Type::Integer || b == Type::Double;
    if (numA && numB && a != b)
        return toDouble() == o.toDouble();
    if (a != b)
        return false;
    switch (a) {
    case Type::Null: return true;
    case Type::String: return std::get<QString>(v_) == std::get<QString>(o.v_);
    case Type::Integer: return std::get<qint64>(v_) == std::get<qint64>(o.v_);
    case Type::Double: return std::get<double>(v_) == std::get<double>(o.v_);
    case Type::Boolean: return std::get<bool>(v_) == std::get<bool>(o.v_);
    case Type::Date: return std::get<Date>(v_) == std::get<Date>(o.v_);
    case Type::Packet: {
        const auto& p = std::get<std::shared_ptr<const DataPacket>>(v_);
        const auto& q = std::get<std::shared_ptr<const DataPacket>>(o.v_);
        return p == q || *p == *q;
    }
    case Type::Array: {
        const auto& p = std::get<std::shared_ptr<const VariantArray>>(v_);
        const auto& q = std::get<std::shared_ptr<const VariantArray>>(o.v_);
        return p == q || *p == *q;
    }
    }
    return false;
}

} // namespace core
