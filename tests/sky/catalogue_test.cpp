// The finder's catalogue: the data file that comes with the program, its
// search as the finder's field runs it, the constellation map, and the
// loader's refusals of broken files.
#include "sky/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include <unistd.h>

namespace tavro::sky {
namespace {

const Catalogue& Shipped()
{
    static const Catalogue catalogue = [] {
        std::string error;
        auto loaded = Catalogue::Load(TAVRO_SKY_OBJECTS_FILE, &error);
        if (!loaded) {
            ADD_FAILURE() << error;
            std::abort();
        }
        return std::move(*loaded);
    }();
    return catalogue;
}

std::string FirstName(const SearchResult& result)
{
    return result.matches.empty() ? std::string("(nothing)") : result.matches.front()->names.front();
}

// The CPU time this thread has used.
std::chrono::nanoseconds ThreadCpuTime()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

bool HasName(const SkyObject& object, const std::string& name)
{
    return std::find(object.names.begin(), object.names.end(), name) != object.names.end();
}

TEST(Catalogue, EveryMessierObjectComesFirstByItsNumber)
{
    for (int n = 1; n <= 110; ++n) {
        const std::string name = "M " + std::to_string(n);
        for (const std::string& query : {name, "M" + std::to_string(n), "m " + std::to_string(n)}) {
            EXPECT_EQ(FirstName(Shipped().Find(query)), name) << "query \"" << query << "\"";
        }
    }
}

TEST(Catalogue, ANumberThatBeginsOthersRanksItsOwnObjectFirst)
{
    // "m1": M 1 itself, then every Messier number that starts with 1.
    const SearchResult result = Shipped().Find("m1");
    ASSERT_GE(result.matches.size(), 22u);
    EXPECT_EQ(result.matches[0]->names.front(), "M 1");
    std::set<std::string> next;
    for (std::size_t i = 1; i < 22; ++i) next.insert(result.matches[i]->names.front());
    std::set<std::string> expected;
    for (int n : {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110})
        expected.insert("M " + std::to_string(n));
    EXPECT_EQ(next, expected);
}

TEST(Catalogue, DesignationsAreFoundWhateverTheCaseSpacesAndLeadingZeros)
{
    struct Case {
        const char* query;
        const char* first;
    };
    const Case cases[] = {
        {"M31", "M 31"},        {"M 31", "M 31"},      {"m31", "M 31"},        {"  m 3 1 ", "M 31"},
        {"NGC 224", "M 31"},    {"NGC224", "M 31"},    {"ngc 0224", "M 31"},   {"IC 434", "IC 434"},
        {"ic0434", "IC 434"},   {"NGC 7293", "NGC 7293"}, {"M 102", "M 102"}, {"ngc5866", "M 102"},
        {"PGC 2557", "M 31"},   {"HD 172167", "Vega"}, {"HR 7001", "Vega"},
    };
    for (const Case& c : cases) EXPECT_EQ(FirstName(Shipped().Find(c.query)), c.first) << c.query;

    // A name shared by several objects lists each of them.
    for (const auto& [query, count] : {std::pair{"Double Cluster", 2u}, std::pair{"Leo Triplet", 3u}})
        EXPECT_EQ(Shipped().Find(query).total, count) << query;
}

TEST(Catalogue, CommonNamesFindTheirObjects)
{
    // The names people search for most, as the data calls them; a prefix of
    // the name is enough.
    struct Case {
        const char* query;
        const char* first;
    };
    const Case cases[] = {
        {"Andromeda", "M 31"},          {"Orion Nebula", "M 42"},     {"Great Orion", "M 42"},
        {"Pleiades", "M 45"},           {"Ring Nebula", "M 57"},      {"Whirlpool", "M 51"},
        {"Sombrero", "M 104"},          {"Dumbbell", "M 27"},         {"Lagoon", "M 8"},
        {"Trifid", "M 20"},             {"Eagle Nebula", "M 16"},     {"Omega Nebula", "M 17"},
        {"Swan", "M 17"},               {"Hercules Globular", "M 13"}, {"Beehive", "M 44"},
        {"Praesepe", "M 44"},           {"Owl Nebula", "M 97"},       {"Triangulum Galaxy", "M 33"},
        {"Southern Pinwheel", "M 83"},  {"Bode's", "M 81"},           {"bodes galaxy", "M 81"},
        {"Cigar", "M 82"},              {"Helix", "NGC 7293"},        {"North America", "NGC 7000"},
        {"Veil", "NGC 6960"},           {"Rosette", "NGC 2238"},      {"Cat's Eye", "NGC 6543"},
        {"cats eye", "NGC 6543"},       {"h Persei", "NGC 869"},      {"chi Persei", "NGC 884"},
        {"Wild Duck", "M 11"},          {"Black Eye", "M 64"},        {"Sunflower", "M 63"},
        {"Omega Centauri", "NGC 5139"}, {"Tarantula", "NGC 2070"},    {"Eskimo", "NGC 2392"},
        {"Christmas Tree", "NGC 2264"}, {"Eight-Burst", "NGC 3132"},  {"eightburst", "NGC 3132"},
        // Names the source lacks, added by the conversion to the object it
        // lists under the designation.
        {"Crab", "M 1"},                {"Horsehead", "IC 434"},      {"Ghost of Jupiter", "NGC 3242"},
        {"Heart Nebula", "IC 1805"},    {"Soul Nebula", "IC 1848"},   {"Cone Nebula", "NGC 2264"},
    };
    for (const Case& c : cases) EXPECT_EQ(FirstName(Shipped().Find(c.query)), c.first) << c.query;
}

TEST(Catalogue, StarsByProperBayerAndFlamsteedNames)
{
    for (const char* query : {"Vega", "vega", "Alpha Lyr", "alpha lyr", "alf Lyr", "alf lyr", "alp Lyr",
                              "α Lyr", "αLyr", "3 Lyr"}) {
        const SearchResult result = Shipped().Find(query);
        ASSERT_FALSE(result.matches.empty()) << query;
        const SkyObject& vega = *result.matches.front();
        EXPECT_EQ(vega.names.front(), "Vega") << query;
        EXPECT_EQ(vega.type, ObjectType::Star);
        EXPECT_EQ(vega.constellation, "Lyr");
        EXPECT_NEAR(vega.place.raHours, 18.6156, 1e-3);
        EXPECT_NEAR(vega.place.decDegrees, 38.7830, 1e-3);
    }
    // 61 Cyg is a pair: both stars, the brighter (HR 8085) first, with the
    // large proper motion that names it.
    const SearchResult pair = Shipped().Find("61 Cyg");
    ASSERT_EQ(pair.total, 2u);
    EXPECT_TRUE(HasName(*pair.matches[0], "HR 8085"));
    EXPECT_TRUE(HasName(*pair.matches[1], "HR 8086"));
    EXPECT_NEAR(pair.matches[0]->place.pmRaMasPerYear, 4155.1, 1.0);
    EXPECT_NEAR(pair.matches[0]->place.pmDecMasPerYear, 3258.9, 1.0);
    // Proper motion in RA is given times cos(Dec): Arcturus's is -1.09"/yr.
    const SearchResult arcturus = Shipped().Find("Arcturus");
    ASSERT_FALSE(arcturus.matches.empty());
    EXPECT_NEAR(arcturus.matches[0]->place.pmRaMasPerYear, -1096.7, 5.0);
    EXPECT_NEAR(arcturus.matches[0]->place.pmDecMasPerYear, -1996.5, 5.0);
}

TEST(Catalogue, TheBrightStarsAreThereWithTheirNames)
{
    for (const char* name : {"Sirius", "Canopus", "Arcturus", "Rigel Kentaurus", "Capella", "Rigel", "Procyon",
                             "Achernar", "Betelgeuse", "Altair", "Aldebaran", "Antares", "Spica", "Pollux",
                             "Fomalhaut", "Deneb", "Regulus", "Castor", "Bellatrix", "Alnitak", "Dubhe",
                             "Polaris", "Algol", "Mizar", "Albireo", "Mira"}) {
        const SearchResult result = Shipped().Find(name);
        ASSERT_FALSE(result.matches.empty()) << name;
        EXPECT_EQ(result.matches[0]->names.front(), name);
        EXPECT_EQ(result.matches[0]->type, ObjectType::Star) << name;
    }
    // The 300 brightest stars, each with its Greek (Bayer) letter in its
    // three spellings.
    std::vector<const SkyObject*> stars;
    for (const SkyObject& object : Shipped().Objects())
        if (object.type == ObjectType::Star) stars.push_back(&object);
    ASSERT_GE(stars.size(), 3000u);
    std::sort(stars.begin(), stars.end(), [](const SkyObject* a, const SkyObject* b) {
        return a->magnitude.value_or(99) < b->magnitude.value_or(99);
    });
    std::size_t withGreek = 0;
    for (std::size_t i = 0; i < 300; ++i) {
        const auto& names = stars[i]->names;
        const auto alpha = std::find_if(names.begin(), names.end(), [](const std::string& n) {
            return n.rfind("\xce", 0) == 0 || n.rfind("\xcf", 0) == 0;  // α..ω
        });
        if (alpha == names.end()) continue;
        ++withGreek;
        EXPECT_LT(alpha + 2, names.end()) << names.front();  // "Alpha Lyr", "alf Lyr" follow
    }
    EXPECT_GE(withGreek, 290u);
}

TEST(Catalogue, TheSunMoonAndPlanetsAreBodies)
{
    struct Case {
        const char* query;
        Body body;
        ObjectType type;
    };
    const Case cases[] = {
        {"sun", Body::Sun, ObjectType::Sun},           {"Moon", Body::Moon, ObjectType::Moon},
        {"mercury", Body::Mercury, ObjectType::Planet}, {"VENUS", Body::Venus, ObjectType::Planet},
        {"mars", Body::Mars, ObjectType::Planet},       {"jupiter", Body::Jupiter, ObjectType::Planet},
        {"saturn", Body::Saturn, ObjectType::Planet},   {"uranus", Body::Uranus, ObjectType::Planet},
        {"neptune", Body::Neptune, ObjectType::Planet},
    };
    for (const Case& c : cases) {
        const SearchResult result = Shipped().Find(c.query);
        ASSERT_FALSE(result.matches.empty()) << c.query;
        const SkyObject& first = *result.matches.front();
        ASSERT_TRUE(first.body.has_value()) << c.query;
        EXPECT_EQ(*first.body, c.body) << c.query;
        EXPECT_EQ(first.type, c.type) << c.query;
        EXPECT_TRUE(first.constellation.empty());
    }
    const auto bodies = std::count_if(Shipped().Objects().begin(), Shipped().Objects().end(),
                                      [](const SkyObject& o) { return o.body.has_value(); });
    EXPECT_EQ(bodies, 9);
}

TEST(Catalogue, AmbiguousInputCountsEveryMatchAndHonoursTheLimit)
{
    const SearchResult pinwheels = Shipped().Find("Pinwheel");
    EXPECT_EQ(pinwheels.total, 3u);
    std::set<std::string> names;
    for (const SkyObject* o : pinwheels.matches) names.insert(o->names.front());
    EXPECT_EQ(names, (std::set<std::string>{"M 33", "M 83", "M 99"}));

    const SearchResult ngc = Shipped().Find("NGC", 10);
    EXPECT_EQ(ngc.matches.size(), 10u);
    EXPECT_GT(ngc.total, 5000u);
    // Best first: among equal ranks, brightest first.
    for (std::size_t i = 1; i < ngc.matches.size(); ++i)
        EXPECT_LE(ngc.matches[i - 1]->magnitude.value_or(99), ngc.matches[i]->magnitude.value_or(99));
    EXPECT_EQ(Shipped().Find("NGC", 0).matches.size(), 0u);
}

TEST(Catalogue, NothingFoundAndBlankQueriesGiveAnEmptyResult)
{
    for (const char* query : {"xyzzy no such object", "", "   ", "\t\n", "'-'", "qqqqqqqq"}) {
        const SearchResult result = Shipped().Find(query);
        EXPECT_EQ(result.total, 0u) << '"' << query << '"';
        EXPECT_TRUE(result.matches.empty());
    }
}

TEST(Catalogue, RandomAndHostileQueriesAreAnsweredQuicklyAndSafely)
{
    std::mt19937 random(20261207);
    const std::vector<std::string> seeds = {"M", "NGC 1", "\xce\xb1", "\xff\xfe", "\xc3", "\x80\x80", "Alpha",
                                            std::string(1, '\0'), "\x1b[2J", "%s%n", "'", "0000"};
    const auto byteOf = [&](int kind) -> char {
        switch (kind) {
        case 0: return static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random));
        case 1: return static_cast<char>(std::uniform_int_distribution<int>(0, 31)(random));
        default: return static_cast<char>(std::uniform_int_distribution<int>('0', 'z')(random));
        }
    };
    std::chrono::nanoseconds slowest{0};
    for (int i = 0; i < 2000; ++i) {
        std::string query;
        const int shape = i % 4;
        const std::size_t length = shape == 3 ? 100000 : std::uniform_int_distribution<std::size_t>(0, 300)(random);
        while (query.size() < length) {
            if (std::uniform_int_distribution<int>(0, 9)(random) == 0)
                query += seeds[std::uniform_int_distribution<std::size_t>(0, seeds.size() - 1)(random)];
            else
                query += byteOf(shape == 3 ? 2 : shape);
        }
        const auto start = ThreadCpuTime();
        const SearchResult result = Shipped().Find(query, 50);
        slowest = std::max(slowest, ThreadCpuTime() - start);
        EXPECT_LE(result.matches.size(), 50u);
        EXPECT_GE(result.total, result.matches.size());
    }
    // The work of a call (its CPU time, which a busy machine does not
    // stretch) is a few milliseconds, up to about 0.6 s in the
    // ThreadSanitizer build. The bound catches a call that runs away (a hang,
    // work growing with the query's length), not speed: the benchmark
    // measures that.
    EXPECT_LT(slowest, std::chrono::seconds(5));
}

TEST(Catalogue, ConstellationAtPlaces)
{
    struct Case {
        double raHours;
        double decDegrees;
        const char* constellation;
    };
    const Case cases[] = {
        {18.6156, 38.7837, "Lyr"},  {0.7123, 41.2690, "And"}, {2.5302, 89.2641, "UMi"},
        {12.0, 89.9, "UMi"},        {21.1463, -88.9565, "Oct"}, {3.0, -89.95, "Oct"},
        {5.9195, 7.4071, "Ori"},    {6.7525, -16.7161, "CMa"}, {0.0, 0.0, "Psc"},
        {23.99, 0.5, "Psc"},        {17.7611, -29.0078, "Sgr"}, {12.45, -60.0, "Cru"},
        {5.5755, 22.0145, "Tau"},   {15.7, 10.0, "Ser"},        {18.0, -13.0, "Ser"},
        {-1.0, 41.0, "And"},        {25.0, 89.9, "UMi"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Shipped().ConstellationAt({c.raHours, c.decDegrees}), c.constellation)
            << c.raHours << "h " << c.decDegrees << "°";
}

TEST(Catalogue, TheConstellationMapAgreesWithTheObjectsConstellations)
{
    // The objects' constellations come from the boundaries themselves, the
    // map from rows 0.2° high: they may differ only right at a boundary.
    std::size_t checked = 0, differing = 0;
    for (const SkyObject& object : Shipped().Objects()) {
        if (object.body) continue;
        ++checked;
        if (Shipped().ConstellationAt({object.place.raHours, object.place.decDegrees}) != object.constellation)
            ++differing;
    }
    EXPECT_GT(checked, 13000u);
    EXPECT_LT(differing, checked / 200);
}

class BrokenFile : public ::testing::Test {
protected:
    std::string Write(const std::string& text)
    {
        path_ = std::filesystem::temp_directory_path() /
                ("tavro-sky-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".tsv");
        std::ofstream(path_, std::ios::binary) << text;
        return path_.string();
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    std::filesystem::path path_;
};

TEST_F(BrokenFile, MissingFileIsNamed)
{
    std::string error;
    EXPECT_FALSE(Catalogue::Load("/nonexistent/tavro/sky-objects.tsv", &error));
    EXPECT_EQ(error, "The sky objects file /nonexistent/tavro/sky-objects.tsv does not exist.");
}

TEST_F(BrokenFile, MalformedLinesAreNamedByNumber)
{
    const std::string header = "tavro-sky-objects\t1\n";
    const std::string good = "O\tstar\t0.03\tLyr\t18.615607\t38.78299\t201\t287.5\t128\tVega|alf Lyr\n";
    const std::string map = "Z\t2\nR\t0\t0:Oct\nR\t1\t0:And 180:Lyr\n";
    struct Case {
        std::string text;
        std::string expected;  // the end of the message
    };
    const std::vector<Case> cases = {
        {"", "is empty."},
        {"some other file\n" + good, "is malformed at line 1: it does not start with \"tavro-sky-objects\" "
                                     "and a version this program reads."},
        {"tavro-sky-objects\t2\n" + good + map, "is malformed at line 1: it does not start with "
                                                "\"tavro-sky-objects\" and a version this program reads."},
        {header + good + "O\tstar\t0.03\tLyr\t24.5\t38\t\t\t\tX\n" + map,
         "is malformed at line 3: bad right ascension."},
        {header + "# comment\n\n" + "O\tstar\t0.03\tLyr\t1\t91\t\t\t\tX\n" + map,
         "is malformed at line 4: bad declination."},
        {header + "O\tcomet\t0.03\tLyr\t1\t1\t\t\t\tX\n" + map, "is malformed at line 2: unknown type \"comet\"."},
        {header + "O\tstar\tbright\tLyr\t1\t1\t\t\t\tX\n" + map, "is malformed at line 2: bad magnitude."},
        {header + "O\tstar\t1\tLyr\t1\t1\t\t\tX\n" + map, "is malformed at line 2: an object needs 10 fields."},
        {header + "O\tstar\t1\tLyr\t1\t1\t\t\t\tX||Y\n" + map, "is malformed at line 2: an object has an empty name."},
        {header + "O\tstar\t1\tLyra\t1\t1\t\t\t\tX\n" + map, "is malformed at line 2: bad constellation."},
        {header + good + "Q\tsomething\n" + map, "is malformed at line 3: it is neither an object nor a map row."},
        {header + good, "is malformed: it has no constellation map."},
        {header + good + "Z\t2\nR\t0\t0:Oct\n", "is malformed: its constellation map lacks row 1."},
        {header + good + "Z\t2\nR\t0\t0:Oct\nR\t1\t0:And 180:Lyr 90:Cyg\n",
         "is malformed at line 5: map runs out of order."},
        {header + good + "Z\t2\nR\t0\t0:Oct\nR\t2\t0:And\n", "is malformed at line 5: bad map row number."},
    };
    for (const Case& c : cases) {
        const std::string path = Write(c.text);
        std::string error;
        EXPECT_FALSE(Catalogue::Load(path, &error)) << c.text;
        EXPECT_EQ(error, "The sky objects file " + path + " " + c.expected) << c.text;
    }
}

TEST_F(BrokenFile, ASmallWellFormedFileLoads)
{
    const std::string path = Write(
        "tavro-sky-objects\t1\r\nO\tstar\t0.03\tLyr\t18.615607\t38.78299\t201\t287.5\t128\tVega|alf Lyr\r\n"
        "O\tgalaxy\t-\tAnd\t0.7\t41\t\t\t\tSomething\r\nZ\t2\r\nR\t0\t0:Oct\r\nR\t1\t0:And 180.5:Lyr\r\n");
    std::string error;
    const auto catalogue = Catalogue::Load(path, &error);
    ASSERT_TRUE(catalogue) << error;
    ASSERT_EQ(catalogue->Objects().size(), 11u);  // nine bodies and two
    const SkyObject& vega = *catalogue->Find("alf lyr").matches.at(0);
    EXPECT_EQ(vega.names, (std::vector<std::string>{"Vega", "alf Lyr"}));
    EXPECT_EQ(vega.magnitude, 0.03);
    EXPECT_DOUBLE_EQ(vega.place.parallaxMas, 128);
    EXPECT_FALSE(catalogue->Find("something").matches.at(0)->magnitude.has_value());
    EXPECT_EQ(catalogue->ConstellationAt({12.0, 10.0}), "And");
    EXPECT_EQ(catalogue->ConstellationAt({12.1, 10.0}), "Lyr");
    EXPECT_EQ(catalogue->ConstellationAt({12.1, -10.0}), "Oct");
}

TEST(CataloguePath, TheEnvironmentComesFirstThenTheBuildTreesCopy)
{
    ::setenv("TAVRO_SKY_OBJECTS", "/somewhere/objects.tsv", 1);
    EXPECT_EQ(DefaultCataloguePath(), "/somewhere/objects.tsv");
    ::unsetenv("TAVRO_SKY_OBJECTS");
    EXPECT_EQ(DefaultCataloguePath(), TAVRO_SKY_OBJECTS_FILE);
    std::string error;
    EXPECT_TRUE(Catalogue::Load(DefaultCataloguePath(), &error)) << error;
}

}  // namespace
}  // namespace tavro::sky
