// The epoch conversion against a worked value: Sirius from J2000 to its
// apparent place of 2026-01-15 (precession, nutation and aberration; the
// value from an independent ephemeris, python3-ephem) and back.

#include <gtest/gtest.h>

#include "lx200/epoch.h"

using namespace tavro;
using namespace tavro::lx200;

namespace {

constexpr std::time_t kJan15 = 1768435200;   // 2026-01-15 00:00:00 UTC
// A tenth of a second of RA, one arcsecond of Dec: well within what the two
// computations agree to, and tight enough to tell the apparent place from
// the mean place of the date (6.771871 h, -16.74485 deg), 1.7 s of RA and
// 3" of Dec away.
constexpr double kRaTolerance = 0.1 / 3600.0;
constexpr double kDecTolerance = 1.0 / 3600.0;

TEST(Epoch, SiriusTakenToTheDateMatchesTheWorkedValue)
{
    const SkyPoint j2000{6.752477, -16.7161};
    const SkyPoint ofDate = J2000ToDate(j2000, kJan15);
    EXPECT_NEAR(ofDate.ra, 6.772340, kRaTolerance);
    EXPECT_NEAR(ofDate.dec, -16.743953, kDecTolerance);

    const SkyPoint back = DateToJ2000(ofDate, kJan15);
    EXPECT_NEAR(back.ra, j2000.ra, 1e-9);
    EXPECT_NEAR(back.dec, j2000.dec, 1e-9);

    EXPECT_EQ(ToMount(Epoch::JNow, j2000, kJan15).ra, j2000.ra);
    EXPECT_EQ(FromMount(Epoch::J2000, ofDate, kJan15).dec, back.dec);
}

TEST(Epoch, RaNearZeroStaysWithinTheDay)
{
    // 23:59:59 at J2000 moves past 0 h by the date.
    const SkyPoint ofDate = J2000ToDate({24.0 - 1.0 / 3600.0, 10.0}, kJan15);
    EXPECT_GE(ofDate.ra, 0.0);
    EXPECT_LT(ofDate.ra, 0.1);
    EXPECT_EQ(ParseEpoch("j2000"), Epoch::J2000);
    EXPECT_EQ(ParseEpoch("JNow"), Epoch::JNow);
    EXPECT_FALSE(ParseEpoch("B1950").has_value());
}

}  // namespace
