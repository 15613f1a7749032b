// Variants: dates as day counts, conversions and their refusals, arrays.
#include "core/datapacket.h"
#include "core/errors.h"
#include "core/variant.h"

#include <gtest/gtest.h>

using namespace core;

TEST(DateTest, DayZeroIsThirtiethOfDecember1899)
{
    EXPECT_EQ(Date{0}.toQDate(), QDate(1899, 12, 30));
    EXPECT_EQ(Date{2}.toQDate(), QDate(1900, 1, 1));
    EXPECT_EQ(Date::fromQDate(QDate(2023, 3, 15)).days, 45000);
    EXPECT_EQ(Date::fromQDate(QDate(1899, 12, 29)).days, -1);
    EXPECT_EQ(Date::today().toQDate(), QDate::currentDate());
}

TEST(DateTest, TimeOfDayIsIgnoredByWholeDays)
{
    EXPECT_EQ(Date{45000.75}.wholeDays(), 45000);
    EXPECT_EQ(Date{45000.75}.toQDate(), QDate(2023, 3, 15));
    // Before day 0 the fraction is still a time of that same day.
    EXPECT_EQ(Date{-1.25}.wholeDays(), -1);
    EXPECT_THROW(Date::fromQDate(QDate()), Error);
}

TEST(VariantTest, TypesAndNull)
{
    EXPECT_TRUE(Variant().isNull());
    EXPECT_EQ(Variant("x").type(), Variant::Type::String);
    EXPECT_EQ(Variant(3).type(), Variant::Type::Integer);
    EXPECT_EQ(Variant(qint64(1) << 40).toInt(), qint64(1) << 40);
    EXPECT_EQ(Variant(1.5).type(), Variant::Type::Double);
    EXPECT_EQ(Variant(true).type(), Variant::Type::Boolean);
    EXPECT_EQ(Variant(Date{3}).type(), Variant::Type::Date);
    EXPECT_TRUE(Variant(DataPacket()).isPacket());
    EXPECT_TRUE(Variant(std::shared_ptr<const DataPacket>()).isNull());
}

TEST(VariantTest, ConversionsThatWork)
{
    EXPECT_EQ(Variant(" 42 ").toInt(), 42);
    EXPECT_EQ(Variant(2.6).toInt(), 3);
    EXPECT_DOUBLE_EQ(Variant("1.5").toDouble(), 1.5);
    EXPECT_DOUBLE_EQ(Variant("1.234,5").toDouble(), 1234.5);
    EXPECT_DOUBLE_EQ(Variant(7).toDouble(), 7.0);
    EXPECT_TRUE(Variant("true").toBool());
    EXPECT_FALSE(Variant(0).toBool());
    EXPECT_EQ(Variant("15/03/2023").toDate().days, 45000);
    EXPECT_EQ(Variant("2023-03-15").toDate().days, 45000);
    EXPECT_EQ(Variant(Date{45000}).toString(), "15/03/2023");
    EXPECT_EQ(Variant(45000).toDate().days, 45000);
    EXPECT_EQ(Variant().toString(), "");
    EXPECT_EQ(Variant(12).toString(), "12");
}

TEST(VariantTest, ConversionsThatFailSayWhy)
{
    EXPECT_THROW(Variant("abc").toInt(), Error);
    EXPECT_THROW(Variant("12x").toDouble(), Error);
    EXPECT_THROW(Variant("talvez").toBool(), Error);
    EXPECT_THROW(Variant("31/02/2023").toDate(), Error);
    EXPECT_THROW(Variant().toInt(), Error);
    EXPECT_THROW(Variant().toDate(), Error);
    EXPECT_THROW(Variant(1e300).toInt(), Error);
    EXPECT_THROW(Variant(Variant::array({1})).toString(), Error);
    EXPECT_THROW(Variant(5).packet(), Error);
    try {
        Variant("abc").toInt();
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains("String")) << e.message().toStdString();
        EXPECT_TRUE(e.message().contains("abc"));
    }
}

TEST(VariantTest, ArraysAreIndexedFromZeroAndChecked)
{
    const Variant a = Variant::array({Variant(), Variant(DataPacket()), 3, "texto"});
    ASSERT_TRUE(a.isArray());
    EXPECT_EQ(a.count(), 4);
    EXPECT_TRUE(a[0].isNull());
    EXPECT_TRUE(a[1].isPacket());
    EXPECT_EQ(a[2].toInt(), 3);
    EXPECT_EQ(a[3].toString(), "texto");
    EXPECT_THROW(a[4], Error);
    EXPECT_THROW(a[-1], Error);
    EXPECT_THROW(Variant(1)[0], Error);
}

TEST(VariantTest, Equality)
{
    EXPECT_EQ(Variant(2), Variant(2.0));
    EXPECT_NE(Variant(2), Variant("2"));
    EXPECT_EQ(Variant(), Variant());
    EXPECT_NE(Variant(), Variant(""));
    EXPECT_EQ(Variant::array({1, "a"}), Variant::array({1, "a"}));
    EXPECT_NE(Variant::array({1, "a"}), Variant::array({1, "b"}));
}
