#include "sky/catalogue.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <system_error>
#include <utility>

#ifndef TAVRO_SKY_OBJECTS_BUILD_COPY
#define TAVRO_SKY_OBJECTS_BUILD_COPY "sky-objects.tsv"
#endif

namespace tavro::sky {

namespace {

constexpr std::string_view kFormatLine = "tavro-sky-objects\t1";
// Where the package installs the data file, below the share directory.
constexpr std::string_view kInstalledName = "tavro-control-tool/sky-objects.tsv";
// The most raw bytes of a query looked at; with kMaxQueryLength this bounds
// the work of one call whatever the caller passes.
constexpr std::size_t kMaxRawQuery = 4 * Catalogue::kMaxQueryLength;

struct TypeWord {
    std::string_view word;
    ObjectType type;
};
constexpr std::array<TypeWord, 12> kTypeWords{{
    {"star", ObjectType::Star},
    {"double", ObjectType::DoubleStar},
    {"open", ObjectType::OpenCluster},
    {"globular", ObjectType::GlobularCluster},
    {"nebula", ObjectType::Nebula},
    {"planetary", ObjectType::PlanetaryNebula},
    {"snr", ObjectType::SupernovaRemnant},
    {"galaxy", ObjectType::Galaxy},
    {"group", ObjectType::GalaxyGroup},
    {"cloud", ObjectType::StarCloud},
    {"asterism", ObjectType::Asterism},
    {"other", ObjectType::Other},
}};

struct BodyEntry {
    Body body;
    std::string_view name;
    ObjectType type;
};
constexpr std::array<BodyEntry, 9> kBodies{{
    {Body::Sun, "Sun", ObjectType::Sun},
    {Body::Moon, "Moon", ObjectType::Moon},
    {Body::Mercury, "Mercury", ObjectType::Planet},
    {Body::Venus, "Venus", ObjectType::Planet},
    {Body::Mars, "Mars", ObjectType::Planet},
    {Body::Jupiter, "Jupiter", ObjectType::Planet},
    {Body::Saturn, "Saturn", ObjectType::Planet},
    {Body::Uranus, "Uranus", ObjectType::Planet},
    {Body::Neptune, "Neptune", ObjectType::Planet},
}};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsDropped(unsigned char c)
{
    return c <= 0x20 || c == 0x7f || c == '\'' || c == '-';
}

// Splits `line` at `separator` into at most `fields.size()` parts; returns
// how many there were (more than fields.size() if the line has too many).
std::size_t Split(std::string_view line, char separator, std::string_view* fields, std::size_t max)
{
    std::size_t count = 0;
    while (true) {
        const std::size_t at = line.find(separator);
        if (count < max) fields[count] = line.substr(0, at);
        ++count;
        if (at == std::string_view::npos) return count;
        line.remove_prefix(at + 1);
    }
}

bool ParseDouble(std::string_view text, double* value)
{
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end && std::isfinite(*value);
}

// An optional number: empty means zero.
bool ParseOptionalDouble(std::string_view text, double* value)
{
    if (text.empty()) {
        *value = 0.0;
        return true;
    }
    return ParseDouble(text, value);
}

bool ParseIndex(std::string_view text, std::size_t* value)
{
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end;
}

bool IsConstellation(std::string_view text)
{
    return text.size() == 3 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
           });
}

}  // namespace

// Reads the data file's lines into a catalogue; the first fault ends it.
class CatalogueReader {
public:
    explicit CatalogueReader(Catalogue& catalogue) : c_(catalogue) {}

    // Nothing, or the fault of the line (without the line number).
    std::optional<std::string> Line(std::string_view line)
    {
        if (line.empty() || line.front() == '#') return std::nullopt;
        if (line.size() < 2 || line[1] != '\t') return "it is neither an object nor a map row";
        switch (line.front()) {
        case 'O': return Object(line.substr(2));
        case 'Z': return MapSize(line.substr(2));
        case 'R': return MapRow(line.substr(2));
        default: return "it is neither an object nor a map row";
        }
    }

    std::optional<std::string> Finish()
    {
        if (rows_ == 0) return "it has no constellation map";
        for (std::size_t i = 0; i < rows_; ++i) {
            if (rowRuns_[i].empty()) return "its constellation map lacks row " + std::to_string(i);
        }
        c_.rowHeight_ = 180.0 / static_cast<double>(rows_);
        c_.rowStart_.reserve(rows_ + 1);
        c_.rowStart_.push_back(0);
        for (auto& row : rowRuns_) {
            c_.runs_.insert(c_.runs_.end(), row.begin(), row.end());
            c_.rowStart_.push_back(static_cast<std::uint32_t>(c_.runs_.size()));
        }
        return std::nullopt;
    }

private:
    std::optional<std::string> Object(std::string_view rest)
    {
        std::array<std::string_view, 9> f;
        if (Split(rest, '\t', f.data(), f.size()) != f.size()) return "an object needs 10 fields";
        SkyObject object;
        const auto type = std::find_if(kTypeWords.begin(), kTypeWords.end(),
                                       [&](const TypeWord& t) { return t.word == f[0]; });
        if (type == kTypeWords.end()) return "unknown type \"" + std::string(f[0]) + "\"";
        object.type = type->type;
        if (f[1] != "-") {
            double magnitude = 0.0;
            if (!ParseDouble(f[1], &magnitude)) return "bad magnitude";
            object.magnitude = magnitude;
        }
        if (!IsConstellation(f[2])) return "bad constellation";
        object.constellation = std::string(f[2]);
        CataloguePlace& p = object.place;
        if (!ParseDouble(f[3], &p.raHours) || p.raHours < 0.0 || p.raHours >= 24.0)
            return "bad right ascension";
        if (!ParseDouble(f[4], &p.decDegrees) || p.decDegrees < -90.0 || p.decDegrees > 90.0)
            return "bad declination";
        if (!ParseOptionalDouble(f[5], &p.pmRaMasPerYear) ||
            !ParseOptionalDouble(f[6], &p.pmDecMasPerYear) || !ParseOptionalDouble(f[7], &p.parallaxMas))
            return "bad proper motion or parallax";
        std::string_view names = f[8];
        while (true) {
            const std::size_t at = names.find('|');
            const std::string_view name = names.substr(0, at);
            if (Catalogue::NormalisedName(name).empty()) return "an object has an empty name";
            object.names.emplace_back(name);
            if (at == std::string_view::npos) break;
            names.remove_prefix(at + 1);
        }
        c_.objects_.push_back(std::move(object));
        return std::nullopt;
    }

    std::optional<std::string> MapSize(std::string_view rest)
    {
        std::size_t rows = 0;
        if (rows_ != 0) return "the constellation map's size is given twice";
        if (!ParseIndex(rest, &rows) || rows == 0 || rows > 100000) return "bad constellation map size";
        rows_ = rows;
        rowRuns_.resize(rows);
        return std::nullopt;
    }

    std::optional<std::string> MapRow(std::string_view rest)
    {
        std::array<std::string_view, 2> f;
        std::size_t row = 0;
        if (Split(rest, '\t', f.data(), f.size()) != f.size()) return "a map row needs 3 fields";
        if (!ParseIndex(f[0], &row) || row >= rows_) return "bad map row number";
        auto& runs = rowRuns_[row];
        if (!runs.empty()) return "map row " + std::to_string(row) + " is given twice";
        std::string_view tokens = f[1];
        while (!tokens.empty()) {
            const std::size_t space = tokens.find(' ');
            const std::string_view token = tokens.substr(0, space);
            tokens = space == std::string_view::npos ? std::string_view() : tokens.substr(space + 1);
            const std::size_t colon = token.find(':');
            double start = 0.0;
            if (colon == std::string_view::npos || !ParseDouble(token.substr(0, colon), &start) ||
                !IsConstellation(token.substr(colon + 1)))
                return "bad map run \"" + std::string(token) + "\"";
            const bool first = runs.empty();
            if ((first && start != 0.0) || (!first && start <= runs.back().startRa) || start >= 360.0)
                return "map runs out of order";
            runs.push_back({static_cast<float>(start), ConstellationIndex(token.substr(colon + 1))});
        }
        if (runs.empty()) return "an empty map row";
        return std::nullopt;
    }

    std::uint16_t ConstellationIndex(std::string_view name)
    {
        auto& names = c_.constellationNames_;
        const auto it = std::find(names.begin(), names.end(), name);
        if (it != names.end()) return static_cast<std::uint16_t>(it - names.begin());
        names.emplace_back(name);
        return static_cast<std::uint16_t>(names.size() - 1);
    }

    Catalogue& c_;
    std::size_t rows_ = 0;
    std::vector<std::vector<Catalogue::Run>> rowRuns_;
};

std::string Catalogue::NormalisedName(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (IsDropped(static_cast<unsigned char>(c))) continue;
        // A number's leading zeros ("NGC 0224"), not a lone zero.
        if (c == '0' && (out.empty() || !IsDigit(out.back())) && i + 1 < name.size() &&
            IsDigit(name[i + 1]))
            continue;
        out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return out;
}

std::optional<Catalogue> Catalogue::Load(const std::string& path, std::string* error)
{
    const auto fail = [&](const std::string& text) -> std::optional<Catalogue> {
        if (error) *error = text;
        return std::nullopt;
    };
    const std::string named = "The sky objects file " + path;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        const int code = errno;
        if (code == ENOENT) return fail(named + " does not exist.");
        return fail(named + " cannot be opened: " + std::strerror(code) + ".");
    }
    std::string text;
    std::array<char, 1 << 16> buffer;
    while (true) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
        text.append(buffer.data(), got);
        if (got < buffer.size()) break;
    }
    if (std::ferror(file.get())) return fail(named + " cannot be read: " + std::strerror(errno) + ".");

    Catalogue catalogue;
    for (const BodyEntry& entry : kBodies) {
        SkyObject body;
        body.names.emplace_back(entry.name);
        body.type = entry.type;
        body.body = entry.body;
        catalogue.objects_.push_back(std::move(body));
    }
    CatalogueReader reader(catalogue);
    std::string_view rest = text;
    std::size_t lineNumber = 0;
    while (!rest.empty()) {
        ++lineNumber;
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::optional<std::string> fault;
        if (lineNumber == 1) {
            if (line != kFormatLine) fault = "it does not start with \"tavro-sky-objects\" and a version this program reads";
        } else {
            fault = reader.Line(line);
        }
        if (fault)
            return fail(named + " is malformed at line " + std::to_string(lineNumber) + ": " + *fault + ".");
    }
    if (lineNumber == 0) return fail(named + " is empty.");
    if (const auto fault = reader.Finish()) return fail(named + " is malformed: " + *fault + ".");

    // The search's keys, in one block of text, and the magnitudes it orders by.
    catalogue.sortMagnitude_.reserve(catalogue.objects_.size());
    for (std::size_t i = 0; i < catalogue.objects_.size(); ++i) {
        const SkyObject& object = catalogue.objects_[i];
        catalogue.sortMagnitude_.push_back(object.magnitude ? static_cast<float>(*object.magnitude) : 1e9f);
        for (const std::string& name : object.names) {
            const std::string key = NormalisedName(name);
            catalogue.keys_.push_back({static_cast<std::uint32_t>(i),
                                       static_cast<std::uint32_t>(catalogue.keyText_.size()),
                                       static_cast<std::uint32_t>(key.size())});
            catalogue.keyText_ += key;
        }
    }
    return catalogue;
}

SearchResult Catalogue::Find(std::string_view query, std::size_t limit) const
{
    SearchResult result;
    std::string wanted = NormalisedName(query.substr(0, std::min(query.size(), kMaxRawQuery)));
    if (wanted.size() > kMaxQueryLength) wanted.resize(kMaxQueryLength);
    if (wanted.empty()) return result;

    // The best rank of each object's names: 0 the whole name, 1 its start,
    // 2 elsewhere in it; kNone no match.
    constexpr std::uint8_t kNone = 3;
    std::vector<std::uint8_t> rank(objects_.size(), kNone);
    const std::string_view text = keyText_;
    for (const Key& key : keys_) {
        if (key.length < wanted.size()) continue;
        const std::string_view name = text.substr(key.offset, key.length);
        std::uint8_t r = kNone;
        if (name.compare(0, wanted.size(), wanted) == 0)
            r = key.length == wanted.size() ? 0 : 1;
        else if (name.find(wanted, 1) != std::string_view::npos)
            r = 2;
        if (r < rank[key.object]) rank[key.object] = r;
    }

    std::vector<std::uint32_t> found;
    for (std::uint32_t i = 0; i < rank.size(); ++i) {
        if (rank[i] != kNone) found.push_back(i);
    }
    result.total = found.size();
    const auto better = [&](std::uint32_t a, std::uint32_t b) {
        if (rank[a] != rank[b]) return rank[a] < rank[b];
        if (sortMagnitude_[a] != sortMagnitude_[b]) return sortMagnitude_[a] < sortMagnitude_[b];
        return a < b;
    };
    const std::size_t kept = std::min(limit, found.size());
    std::partial_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(kept), found.end(), better);
    result.matches.reserve(kept);
    for (std::size_t i = 0; i < kept; ++i) result.matches.push_back(&objects_[found[i]]);
    return result;
}

std::string Catalogue::ConstellationAt(const Equatorial& j2000) const
{
    if (rowStart_.size() < 2 || !std::isfinite(j2000.raHours) || !std::isfinite(j2000.decDegrees))
        return {};
    double ra = std::fmod(j2000.raHours * 15.0, 360.0);
    if (ra < 0.0) ra += 360.0;
    const std::size_t rows = rowStart_.size() - 1;
    const double dec = std::clamp(j2000.decDegrees, -90.0, 90.0);
    const std::size_t row = std::min(rows - 1, static_cast<std::size_t>((dec + 90.0) / rowHeight_));
    const auto first = runs_.begin() + rowStart_[row];
    const auto last = runs_.begin() + rowStart_[row + 1];
    auto it = std::upper_bound(first, last, ra, [](double value, const Run& run) { return value < run.startRa; });
    return constellationNames_[std::prev(it)->constellation];
}

std::string DefaultCataloguePath()
{
    if (const char* fromEnvironment = std::getenv("TAVRO_SKY_OBJECTS"); fromEnvironment && *fromEnvironment)
        return fromEnvironment;
    std::error_code ec;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path installed =
            executable.parent_path().parent_path() / "share" / std::filesystem::path(kInstalledName);
        if (std::filesystem::is_regular_file(installed, ec)) return installed.string();
    }
    return TAVRO_SKY_OBJECTS_BUILD_COPY;
}

}  // namespace tavro::sky
