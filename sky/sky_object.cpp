#include "sky/sky_object.h"

namespace tavro::sky {

std::string_view TypeName(ObjectType type)
{
    switch (type) {
    case ObjectType::Star: return "Star";
    case ObjectType::DoubleStar: return "Double star";
    case ObjectType::OpenCluster: return "Open cluster";
    case ObjectType::GlobularCluster: return "Globular cluster";
    case ObjectType::Nebula: return "Nebula";
    case ObjectType::PlanetaryNebula: return "Planetary nebula";
    case ObjectType::SupernovaRemnant: return "Supernova remnant";
    case ObjectType::Galaxy: return "Galaxy";
    case ObjectType::GalaxyGroup: return "Galaxy group";
    case ObjectType::StarCloud: return "Star cloud";
    case ObjectType::Asterism: return "Asterism";
    case ObjectType::Other: return "Other";
    case ObjectType::Planet: return "Planet";
    case ObjectType::Moon: return "Moon";
    case ObjectType::Sun: return "Sun";
    }
    return "Other";
}

}  // namespace tavro::sky
