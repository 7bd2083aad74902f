#pragma once
// The objects an observer can look up by name: stars, deep-sky objects and
// the bodies of the solar system, with what the finder shows of them. A
// catalogue object carries its J2000 (ICRS) place; the Sun, the Moon and the
// planets carry only which body they are, their place being worked out for
// the date. No Qt here: the finder's data, its search and the positions of
// the date are shared by every front end.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::sky {

// The bodies whose place is worked out for the date, not read from the
// catalogue.
enum class Body { Sun, Moon, Mercury, Venus, Mars, Jupiter, Saturn, Uranus, Neptune };

enum class ObjectType {
    Star,
    DoubleStar,
    OpenCluster,
    GlobularCluster,
    Nebula,
    PlanetaryNebula,
    SupernovaRemnant,
    Galaxy,
    GalaxyGroup,
    StarCloud,
    Asterism,
    Other,
    Planet,
    Moon,
    Sun,
};

// The list's word for a type: "Star", "Galaxy", "Open cluster", ...
std::string_view TypeName(ObjectType type);

// A catalogue place at the J2000 epoch and equinox (ICRS).
struct CataloguePlace {
    double raHours = 0.0;
    double decDegrees = 0.0;
    double pmRaMasPerYear = 0.0;   // proper motion in RA, times cos(Dec)
    double pmDecMasPerYear = 0.0;
    double parallaxMas = 0.0;
};

struct SkyObject {
    // The first name is the one shown first ("M 31"); the others follow
    // ("NGC 224", "Andromeda Galaxy"). Every name is searchable.
    std::vector<std::string> names;
    ObjectType type = ObjectType::Other;
    std::optional<double> magnitude;
    // IAU abbreviation ("And"); empty for the bodies of the solar system,
    // whose constellation changes with the date.
    std::string constellation;
    // Set for the Sun, the Moon and the planets: their place comes from the
    // ephemeris, and `place` is unused.
    std::optional<Body> body;
    CataloguePlace place;
};

// A place on the sky: RA in hours [0, 24), Dec in degrees.
struct Equatorial {
    double raHours = 0.0;
    double decDegrees = 0.0;
};

// The observer's site: latitude and longitude in degrees (longitude east
// positive), height above sea level in metres.
struct Site {
    double latitudeDegrees = 0.0;
    double longitudeDegrees = 0.0;
    double heightMetres = 0.0;
};

// Altitude above the horizon and azimuth from north through east, degrees.
struct Horizontal {
    double altitudeDegrees = 0.0;
    double azimuthDegrees = 0.0;
};

}  // namespace tavro::sky
