#include "mount/sidereal_time.h"

#include <cmath>

#include <erfa.h>
#include <erfam.h>

namespace tavro {

double LocalSiderealTime(double unixSeconds, double longitudeDegrees)
{
    // The date as a two-part Julian date (day number, fraction), UTC.
    constexpr double kUnixEpochJd = 2440587.5;
    const double days = std::floor(unixSeconds / 86400.0);
    const double utc1 = kUnixEpochJd + days;
    const double utc2 = (unixSeconds - days * 86400.0) / 86400.0;
    // TT only chooses the precession's epoch: a date ERFA has no leap
    // seconds for (status 1, or -1 before 1960) is close enough.
    double tai1 = 0, tai2 = 0, tt1 = utc1, tt2 = utc2 + 69.184 / 86400.0;
    if (eraUtctai(utc1, utc2, &tai1, &tai2) >= 0)
        eraTaitt(tai1, tai2, &tt1, &tt2);
    const double gmst = eraGmst06(utc1, utc2, tt1, tt2);  // radians
    double hours = eraAnp(gmst + longitudeDegrees * ERFA_DD2R) * ERFA_DR2D / 15.0;
    // eraAnp gives [0, 2pi); its top end may round up to 24 h itself.
    if (hours >= 24.0)
        hours = 0.0;
    return hours;
}

}  // namespace tavro
