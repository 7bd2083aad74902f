#pragma once
// The finder's catalogue: every object it knows by name (deep-sky objects,
// named stars, the Sun, the Moon and the planets), read from the data file
// that comes with the program, and the search the finder's field runs at
// every keystroke. No Qt here.

#include "sky/sky_object.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::sky {

struct SearchResult {
    std::vector<const SkyObject*> matches;  // best first, at most the limit
    std::size_t total = 0;                  // every match, also those beyond the limit
};

class Catalogue {
public:
    // Reads the data file at `path`; nothing, with `*error` set to a sentence
    // naming the file and the fault (missing, unreadable, malformed line N),
    // otherwise.
    static std::optional<Catalogue> Load(const std::string& path, std::string* error);

    // Every object, the Sun, the Moon and the seven planets included (those
    // with `body` set).
    const std::vector<SkyObject>& Objects() const { return objects_; }

    // Matches of `query`, case- and space-insensitive, best first (exact
    // name, then name prefix, then other matches; ties brightest first). An
    // empty or blank query matches nothing.
    SearchResult Find(std::string_view query, std::size_t limit = 500) const;

    // The IAU abbreviation of the constellation at a J2000 place ("Ori").
    std::string ConstellationAt(const Equatorial& j2000) const;

    // The longest query Find looks at, in bytes of its normalised form;
    // anything beyond is ignored, so that every call's work is bounded.
    static constexpr std::size_t kMaxQueryLength = 64;

    // A name in the form the search compares: ASCII letters folded to lower
    // case, spaces, control characters, apostrophes and hyphens dropped,
    // leading zeros of numbers dropped ("NGC 0224" -> "ngc224"). Other bytes
    // (UTF-8 letters such as "α") are kept as they are.
    static std::string NormalisedName(std::string_view name);

private:
    Catalogue() = default;

    // One searchable name: which object it names and its normalised form
    // (a slice of keyText_).
    struct Key {
        std::uint32_t object;
        std::uint32_t offset;
        std::uint32_t length;
    };
    // A run of one constellation along a row of declination, from `startRa`
    // (degrees) to the next run's start.
    struct Run {
        float startRa;
        std::uint16_t constellation;
    };

    std::vector<SkyObject> objects_;
    std::string keyText_;
    std::vector<Key> keys_;
    // Objects' magnitudes as the search orders ties (unknown last).
    std::vector<float> sortMagnitude_;
    std::vector<std::string> constellationNames_;
    // Rows of the constellation map from Dec -90 upwards, each `rowHeight_`
    // degrees high; rowStart_[i]..rowStart_[i+1] are row i's runs.
    double rowHeight_ = 0.0;
    std::vector<std::uint32_t> rowStart_;
    std::vector<Run> runs_;

    friend class CatalogueReader;
};

// The data file that comes with the program: the environment's
// TAVRO_SKY_OBJECTS if set, else the installed copy beside the executable's
// share directory, else the build tree's copy.
std::string DefaultCataloguePath();

}  // namespace tavro::sky
