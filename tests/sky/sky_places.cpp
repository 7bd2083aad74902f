// Places of the date from the sky module, one line out for each line in, for
// the check against an independent ephemeris (check_places.py). Input lines:
//   star <ra h> <dec deg> <pmRa*cosDec mas/yr> <pmDec mas/yr> <parallax mas> <unix s> [<lat> <lon> <height m>]
//   body <sun|moon|mercury|...|neptune> <unix s> [<lat> <lon> <height m>]
// Output: "<ra h> <dec deg>", followed by " <alt deg> <az deg>" when a site
// is given; "error <text>" for a line that cannot be read.

#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "sky/apparent_place.h"

using namespace tavro::sky;

namespace {

const std::map<std::string, Body> kBodies = {
    {"sun", Body::Sun},         {"moon", Body::Moon},     {"mercury", Body::Mercury},
    {"venus", Body::Venus},     {"mars", Body::Mars},     {"jupiter", Body::Jupiter},
    {"saturn", Body::Saturn},   {"uranus", Body::Uranus}, {"neptune", Body::Neptune},
};

std::optional<Site> ReadSite(std::istream& in)
{
    Site site;
    if (in >> site.latitudeDegrees >> site.longitudeDegrees >> site.heightMetres)
        return site;
    return std::nullopt;
}

std::string Answer(const std::string& line)
{
    std::istringstream in(line);
    std::string kind;
    in >> kind;
    Equatorial place;
    double when = 0.0;
    std::optional<Site> site;
    if (kind == "star") {
        CataloguePlace star;
        if (!(in >> star.raHours >> star.decDegrees >> star.pmRaMasPerYear >> star.pmDecMasPerYear >>
              star.parallaxMas >> when))
            return "error unreadable star line";
        site = ReadSite(in);
        place = ApparentPlace(star, when);
    } else if (kind == "body") {
        std::string name;
        if (!(in >> name >> when) || !kBodies.count(name))
            return "error unreadable body line";
        site = ReadSite(in);
        place = ApparentPlaceOf(kBodies.at(name), when, site);
    } else {
        return "error unknown kind";
    }
    char text[128];
    std::snprintf(text, sizeof text, "%.10f %.9f", place.raHours, place.decDegrees);
    std::string out = text;
    if (site) {
        const Horizontal h = ToHorizontal(place, when, *site);
        std::snprintf(text, sizeof text, " %.9f %.9f", h.altitudeDegrees, h.azimuthDegrees);
        out += text;
    }
    return out;
}

}  // namespace

int main()
{
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::cout << Answer(line) << '\n';
    }
    return 0;
}
