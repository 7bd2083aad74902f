#include "lx200/coordinates.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tavro::lx200 {

namespace {

constexpr long long kSecondsPerDay = 24 * 3600;
constexpr long long kTenthMinutesPerDay = 24 * 600;

// Reads 1..maxDigits decimal digits at `pos`; advances `pos`.
std::optional<int> ReadDigits(std::string_view text, size_t& pos, size_t maxDigits)
{
    int value = 0;
    size_t count = 0;
    while (pos < text.size() && count < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos] - '0');
        ++pos;
        ++count;
    }
    if (count == 0)
        return std::nullopt;
    return value;
}

// Reads an optional ".d..." fraction at `pos` (up to three digits);
// 0 when there is none.
std::optional<double> ReadFraction(std::string_view text, size_t& pos)
{
    if (pos >= text.size() || text[pos] != '.')
        return 0.0;
    ++pos;
    const size_t start = pos;
    const std::optional<int> digits = ReadDigits(text, pos, 3);
    if (!digits)
        return std::nullopt;
    return *digits / std::pow(10.0, static_cast<double>(pos - start));
}

void SkipBlanks(std::string_view text, size_t& pos)
{
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
}

// The degree separator at `pos`: '*', 0xDF, ':' or UTF-8 "°" (C2 B0).
bool ReadDegreeSeparator(std::string_view text, size_t& pos)
{
    if (pos >= text.size())
        return false;
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c == '*' || c == 0xDF || c == ':') {
        ++pos;
        return true;
    }
    if (c == 0xC2 && pos + 1 < text.size() && static_cast<unsigned char>(text[pos + 1]) == 0xB0) {
        pos += 2;
        return true;
    }
    return false;
}

}  // namespace

std::string FormatRa(double hours, bool highPrecision)
{
    char text[64];
    if (!std::isfinite(hours))
        hours = 0.0;
    if (highPrecision) {
        long long total = std::llround(hours * 3600.0) % kSecondsPerDay;
        if (total < 0)
            total += kSecondsPerDay;
        std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld#", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        long long total = std::llround(hours * 600.0) % kTenthMinutesPerDay;
        if (total < 0)
            total += kTenthMinutesPerDay;
        std::snprintf(text, sizeof text, "%02lld:%02lld.%lld#", total / 600, total / 10 % 60,
                      total % 10);
    }
    return text;
}

std::string FormatDec(double degrees, bool highPrecision)
{
    char text[64];
    if (!std::isfinite(degrees))
        degrees = 0.0;
    const double magnitude = std::min(std::fabs(degrees), 90.0);
    if (highPrecision) {
        const long long total = std::llround(magnitude * 3600.0);
        const char sign = degrees < 0 && total > 0 ? '-' : '+';
        std::snprintf(text, sizeof text, "%c%02lld*%02lld:%02lld#", sign, total / 3600,
                      total / 60 % 60, total % 60);
    } else {
        const long long total = std::llround(magnitude * 60.0);
        const char sign = degrees < 0 && total > 0 ? '-' : '+';
        std::snprintf(text, sizeof text, "%c%02lld*%02lld#", sign, total / 60, total % 60);
    }
    return text;
}

std::optional<double> ParseRa(std::string_view text)
{
    size_t pos = 0;
    SkipBlanks(text, pos);
    const auto h = ReadDigits(text, pos, 2);
    if (!h || pos >= text.size() || text[pos] != ':')
        return std::nullopt;
    ++pos;
    const auto m = ReadDigits(text, pos, 2);
    if (!m || *h >= 24 || *m >= 60)
        return std::nullopt;
    double hours = *h + *m / 60.0;
    if (pos < text.size() && text[pos] == '.') {
        // Low precision: tenths of a minute.
        ++pos;
        const auto tenths = ReadDigits(text, pos, 1);
        if (!tenths)
            return std::nullopt;
        hours += *tenths / 600.0;
    } else if (pos < text.size() && text[pos] == ':') {
        ++pos;
        const auto s = ReadDigits(text, pos, 2);
        const auto fraction = s ? ReadFraction(text, pos) : std::nullopt;
        if (!s || !fraction || *s >= 60)
            return std::nullopt;
        hours += (*s + *fraction) / 3600.0;
    } else {
        return std::nullopt;
    }
    if (pos != text.size())
        return std::nullopt;
    return hours;
}

namespace {

// An angle "[s]D*MM[:SS[.s]]" with up to `maxDigits` degree digits and at
// most `limit` degrees; a sign only when `signed`.
std::optional<double> ParseAngle(std::string_view text, size_t maxDigits, double limit,
                                 bool allowSign)
{
    size_t pos = 0;
    SkipBlanks(text, pos);
    double sign = 1.0;
    if (allowSign && pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        sign = text[pos] == '-' ? -1.0 : 1.0;
        ++pos;
    }
    const auto d = ReadDigits(text, pos, maxDigits);
    if (!d || !ReadDegreeSeparator(text, pos))
        return std::nullopt;
    const auto m = ReadDigits(text, pos, 2);
    if (!m || *m >= 60)
        return std::nullopt;
    double seconds = 0.0;
    if (pos < text.size() && (text[pos] == ':' || text[pos] == '\'')) {
        ++pos;
        const auto s = ReadDigits(text, pos, 2);
        const auto fraction = s ? ReadFraction(text, pos) : std::nullopt;
        if (!s || !fraction || *s >= 60)
            return std::nullopt;
        seconds = *s + *fraction;
    }
    if (pos != text.size())
        return std::nullopt;
    const double magnitude = *d + *m / 60.0 + seconds / 3600.0;
    if (magnitude > limit)
        return std::nullopt;
    return sign * magnitude;
}

}  // namespace

std::optional<double> ParseDec(std::string_view text)
{
    return ParseAngle(text, 2, 90.0, true);
}

std::optional<double> ParseLongitude(std::string_view text)
{
    return ParseAngle(text, 3, 360.0, true);
}

}  // namespace tavro::lx200
