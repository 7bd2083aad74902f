#include "lx200/epoch.h"

#include <erfa.h>
#include <erfam.h>

#include <cctype>
#include <cmath>
#include <string>

namespace tavro::lx200 {

namespace {

constexpr double kHoursPerRadian = 12.0 / ERFA_DPI;
constexpr double kDegreesPerRadian = 180.0 / ERFA_DPI;

// The precession matrix from J2000 to the mean equator and equinox of the
// date `utc`, taken at that date's TT.
void PrecessionMatrix(std::time_t utc, double matrix[3][3])
{
    std::tm parts{};
    gmtime_r(&utc, &parts);
    double utc1 = 0.0, utc2 = 0.0, tai1 = 0.0, tai2 = 0.0, tt1 = 0.0, tt2 = 0.0;
    // Years before 1960 (a clock set wrong) give a warning status, not a
    // failure; the matrix is still the date's.
    if (eraDtf2d("UTC", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                 parts.tm_min, parts.tm_sec, &utc1, &utc2) < 0 ||
        eraUtctai(utc1, utc2, &tai1, &tai2) < 0) {
        eraIr(matrix);
        return;
    }
    eraTaitt(tai1, tai2, &tt1, &tt2);
    eraPmat06(tt1, tt2, matrix);
}

SkyPoint Rotate(const SkyPoint& point, std::time_t utc, bool inverse)
{
    double matrix[3][3];
    PrecessionMatrix(utc, matrix);
    double in[3], out[3];
    eraS2c(point.ra / kHoursPerRadian, point.dec / kDegreesPerRadian, in);
    if (inverse)
        eraTrxp(matrix, in, out);
    else
        eraRxp(matrix, in, out);
    double theta = 0.0, phi = 0.0;
    eraC2s(out, &theta, &phi);
    return {WrapRa(eraAnp(theta) * kHoursPerRadian), phi * kDegreesPerRadian};
}

}  // namespace

std::optional<Epoch> ParseEpoch(std::string_view text)
{
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "jnow")
        return Epoch::JNow;
    if (lower == "j2000")
        return Epoch::J2000;
    return std::nullopt;
}

SkyPoint J2000ToDate(const SkyPoint& j2000, std::time_t utc)
{
    return Rotate(j2000, utc, false);
}

SkyPoint DateToJ2000(const SkyPoint& ofDate, std::time_t utc)
{
    return Rotate(ofDate, utc, true);
}

SkyPoint ToMount(Epoch epoch, const SkyPoint& point, std::time_t utc)
{
    return epoch == Epoch::J2000 ? J2000ToDate(point, utc) : point;
}

SkyPoint FromMount(Epoch epoch, const SkyPoint& point, std::time_t utc)
{
    return epoch == Epoch::J2000 ? DateToJ2000(point, utc) : point;
}

}  // namespace tavro::lx200
