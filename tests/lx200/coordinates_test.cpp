// The LX200 coordinate texts byte for byte: both precisions, rounding that
// never shows ":60", every Dec separator the clients use, and what is
// refused.

#include <gtest/gtest.h>

#include "lx200/coordinates.h"

using namespace tavro::lx200;

namespace {

constexpr double kSecond = 1.0 / 3600.0;

TEST(Lx200Format, RaAndDecInBothPrecisionsRoundFromTheTotal)
{
    struct Case {
        double ra;
        const char *high, *low;
    } const ras[] = {
        {0.0, "00:00:00#", "00:00.0#"},
        {6.752477, "06:45:09#", "06:45.1#"},
        {7259.5 / 3600.0, "02:01:00#", "02:01.0#"},   // 02:00:59.5 rounds up a minute
        {7259.4 / 3600.0, "02:00:59#", "02:01.0#"},
        {86399.5 / 3600.0, "00:00:00#", "00:00.0#"},   // 24 h is 0 h
        {-0.5, "23:30:00#", "23:30.0#"},
        {12.0 + 5.96 / 60.0, "12:05:58#", "12:06.0#"},   // low: 06.0, never 05.10
    };
    for (const Case& c : ras) {
        SCOPED_TRACE(c.ra);
        EXPECT_EQ(FormatRa(c.ra, true), c.high);
        EXPECT_EQ(FormatRa(c.ra, false), c.low);
    }
    struct DecCase {
        double dec;
        const char *high, *low;
    } const decs[] = {
        {0.0, "+00*00:00#", "+00*00#"},
        {-16.7161, "-16*42:58#", "-16*43#"},
        {165599.5 / 3600.0, "+46*00:00#", "+46*00#"},     // 45*59:59.5
        {-36059.5 / 3600.0, "-10*01:00#", "-10*01#"},     // -10*00:59.5
        {-0.1 * kSecond, "+00*00:00#", "+00*00#"},                          // no "-00"
        {-0.2, "-00*12:00#", "-00*12#"},                                    // small negatives keep the sign
        {90.0, "+90*00:00#", "+90*00#"},
        {-95.0, "-90*00:00#", "-90*00#"},
    };
    for (const DecCase& c : decs) {
        SCOPED_TRACE(c.dec);
        EXPECT_EQ(FormatDec(c.dec, true), c.high);
        EXPECT_EQ(FormatDec(c.dec, false), c.low);
    }
}

TEST(Lx200Parse, RaInBothPrecisionsWithOrWithoutABlank)
{
    struct Case {
        const char* text;
        double hours;
    } const good[] = {
        {"05:30:00", 5.5},      {" 05:30:00", 5.5},       {"23:59:59", 24.0 - kSecond},
        {"06:45:09.5", 6.0 + 45.0 / 60 + 9.5 * kSecond}, {"06:45.1", 6.0 + 45.1 / 60},
        {"0:0:0", 0.0},
    };
    for (const Case& c : good) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(ParseRa(c.text).has_value());
        EXPECT_NEAR(*ParseRa(c.text), c.hours, 1e-9);
    }
    for (const char* bad : {"24:00:00", "05:60:00", "05:30:60", "05:30", "05-30-00", "05:30:00x",
                            "", "05:30:", "+05:30:00", "05:30.15", "123:00:00"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseRa(bad).has_value());
    }
}

TEST(Lx200Parse, DecWithEverySeparatorAndSign)
{
    const double value = -(16.0 + 42.0 / 60 + 58.0 * kSecond);
    for (const char* text : {"-16*42:58", " -16*42:58", "-16\xDF" "42:58", "-16:42:58",
                             "-16\xC2\xB0" "42:58", "-16*42'58", "-16\xC2\xB0" "42'58"}) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(ParseDec(text).has_value());
        EXPECT_NEAR(*ParseDec(text), value, 1e-9);
    }
    EXPECT_NEAR(*ParseDec("+45*30"), 45.5, 1e-9);         // low precision
    EXPECT_NEAR(*ParseDec("45*30:00"), 45.5, 1e-9);       // no sign is north
    EXPECT_NEAR(*ParseDec("-00*30:00"), -0.5, 1e-9);      // the sign of a Dec above -1
    EXPECT_NEAR(*ParseDec("+90*00:00"), 90.0, 1e-9);
    for (const char* bad : {"+90*00:01", "-91*00:00", "+45*60:00", "+45*30:60", "+45 30 00",
                            "+45*", "+45\xC2" "30:00", "++45*30:00", "+45*30:00#", "", "+450*00"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseDec(bad).has_value());
    }
    EXPECT_NEAR(*ParseLongitude("123*45"), 123.75, 1e-9);
    EXPECT_FALSE(ParseLongitude("361*00").has_value());
}

}  // namespace
