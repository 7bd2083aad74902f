#pragma once
// The equinox of the coordinates a planetarium exchanges with the link. The
// mount works in the apparent place of the date (JNow: true equator and
// equinox, aberration included); a client that speaks J2000 has its points
// taken to the date on the way in and back to J2000 on the way out, by the
// same conversion the object finder uses (sky/apparent_place.h).

#include <ctime>
#include <optional>
#include <string_view>

#include "mount/pointing.h"

namespace tavro::lx200 {

enum class Epoch { JNow, J2000 };

// "JNow" or "J2000" (any letter case); nothing for any other text.
std::optional<Epoch> ParseEpoch(std::string_view text);

// A J2000 point as the apparent place at the UTC time `utc` (seconds since
// 1970); RA in hours, Dec in degrees.
SkyPoint J2000ToDate(const SkyPoint& j2000, std::time_t utc);
// The apparent place at `utc` back to J2000.
SkyPoint DateToJ2000(const SkyPoint& ofDate, std::time_t utc);

// The point the mount works with, from a point in `epoch`.
SkyPoint ToMount(Epoch epoch, const SkyPoint& point, std::time_t utc);
// A point of the mount's in `epoch`.
SkyPoint FromMount(Epoch epoch, const SkyPoint& point, std::time_t utc);

}  // namespace tavro::lx200
