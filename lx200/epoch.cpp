#include "lx200/epoch.h"

#include <cctype>
#include <string>

#include "sky/apparent_place.h"

namespace tavro::lx200 {

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
    sky::CataloguePlace place;
    place.raHours = j2000.ra;
    place.decDegrees = j2000.dec;
    const sky::Equatorial ofDate = sky::ApparentPlace(place, static_cast<double>(utc));
    return {ofDate.raHours, ofDate.decDegrees};
}

SkyPoint DateToJ2000(const SkyPoint& ofDate, std::time_t utc)
{
    const sky::Equatorial j2000 =
        sky::J2000FromApparent({ofDate.ra, ofDate.dec}, static_cast<double>(utc));
    return {j2000.raHours, j2000.decDegrees};
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
