#pragma once
// Variant values exchanged between the screens, the host and the application
// servers: null, string, integer, double, Boolean, date, data packet and
// arrays of them (indexed from 0).

#include <QDate>
#include <QList>
#include <QString>

#include <memory>
#include <variant>

namespace core {

class DataPacket;
class Variant;
using VariantArray = QList<Variant>;

/// A calendar date as the platform's day count: day 0 is 30 December 1899.
/// Only whole days are used; a fraction (time of day) is kept but ignored by
/// every comparison made through `wholeDays()`.
struct Date {
    double days = 0;
    qint64 wholeDays() const;
    QDate toQDate() const;
    static Date fromQDate(const QDate& d);
    static Date today();
    bool operator==(const Date& o) const { return days == o.days; }
};

class Variant {
public:
    enum class Type { Null, String, Integer, Double, Boolean, Date, Packet, Array };

    Variant() = default;
    Variant(const QString& s);
    Variant(const char* s);
    Variant(int i);
    Variant(qint64 i);
    Variant(double d);
    Variant(bool b);
    Variant(Date d);
    Variant(const DataPacket& p);
    Variant(DataPacket&& p);
    Variant(std::shared_ptr<const DataPacket> p);
    Variant(const VariantArray& a);

    static Variant array(std::initializer_list<Variant> items);

    Type type() const;
    bool isNull() const { return type() == Type::Null; }
    bool isPacket() const { return type() == Type::Packet; }
    bool isArray() const { return type() == Type::Array; }

    /// Conversions. Strings convert to numbers only when they read as one;
    /// anything that cannot convert throws core::Error with a clear text.
    QString toString() const;
    qint64 toInt() const;
    double toDouble() const;
    bool toBool() const;
    Date toDate() const;

    /// The string held, without a copy; nullptr when the value is not a string.
    const QString* stringPtr() const noexcept { return std::get_if<QString>(&v_); }

    /// The data packet held; throws core::Error when the value is not one.
    const DataPacket& packet() const;
    std::shared_ptr<const DataPacket> packetPtr() const;

    /// Array access, indexed from 0; throws core::Error out of range or when
    /// the value is not an array.
    const VariantArray& elements() const;
    int count() const;
    const Variant& operator[](int i) const;

    bool operator==(const Variant& o) const;
    bool operator!=(const Variant& o) const { return !(*this == o); }

    static QString typeName(Type t);

private:
    using Storage = std::variant<std::monostate, QString, qint64, double, bool, Date, std::shared_ptr<const DataPacket>,
                                 std::shared_ptr<const VariantArray>>;
    Storage v_;
};

} // namespace core
