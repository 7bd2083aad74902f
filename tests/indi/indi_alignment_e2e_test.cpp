// Pointing accuracy end to end through the INDI driver: the board simulator
// plays a mount set up wrong (polar axis, cone, non-perpendicular axes,
// tube flexure), the client syncs on stars as a plate-solving client does
// (a goto to the star, then a sync on where the telescope truly points,
// give or take a few arcseconds), and gotos to targets over the sky are
// measured against where the simulator says the telescope truly ends up.
// Also the model's upkeep as a client sees it: clearing, and a wrong star.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <time.h>

#include "mount/sidereal_time.h"
#include "tests/indi/indi_session.h"

using namespace tavro::indi_e2e;
using tavro::sim::Command;
using tavro::sim::SimOptions;

namespace {

const char kSettings[] = "[Options]\nConnection=5\nMaxGotoSpeed=100\nDriverMode=EQ5\n[Ports]\nCOM5=@LINK@\n";

constexpr double kLatitude = 48.1;
constexpr double kLongitude = 11.6;  // east
constexpr double kPi = 3.14159265358979323846;
constexpr double kRad = kPi / 180.0;

struct Sky {
    double ra = 0.0;   // hours
    double dec = 0.0;  // degrees
};

// A place on the sky by its hour angle (hours, west positive) and Dec; the
// RA is taken when the point is used, so that it stands where it was
// chosen above the horizon however long the run has taken until then.
struct Place {
    double ha;
    double dec;
};

double UnixNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Wrap24(double hours)
{
    hours = std::fmod(hours, 24.0);
    return hours < 0 ? hours + 24.0 : hours;
}

Sky AtNow(const Place& p)
{
    return {Wrap24(tavro::LocalSiderealTime(UnixNow(), kLongitude) - p.ha), p.dec};
}

double AltitudeDegrees(const Sky& p)
{
    const double ha = (tavro::LocalSiderealTime(UnixNow(), kLongitude) - p.ra) * 15.0 * kRad;
    const double s = std::sin(kLatitude * kRad) * std::sin(p.dec * kRad) +
                     std::cos(kLatitude * kRad) * std::cos(p.dec * kRad) * std::cos(ha);
    return std::asin(std::clamp(s, -1.0, 1.0)) / kRad;
}

double SeparationArcmin(const Sky& a, const Sky& b)
{
    const double dra = (a.ra - b.ra) * 15.0 * kRad;
    const double d1 = a.dec * kRad, d2 = b.dec * kRad;
    // Vincenty's formula: exact for small and large separations alike.
    const double x = std::sin(d1) * std::sin(d2) + std::cos(d1) * std::cos(d2) * std::cos(dra);
    const double y = std::hypot(std::cos(d2) * std::sin(dra),
                                std::cos(d1) * std::sin(d2) - std::sin(d1) * std::cos(d2) * std::cos(dra));
    return std::atan2(y, x) / kRad * 60.0;
}

// "pointing ra=HH:MM:SS.s dec=+DD:MM:SS"; false when the line is not one.
bool ParsePointing(const std::string& line, Sky* sky)
{
    int rh = 0, rm = 0, dd = 0, dm = 0, ds = 0;
    double rs = 0.0;
    char sign = '+';
    if (std::sscanf(line.c_str(), "pointing ra=%d:%d:%lf dec=%c%d:%d:%d", &rh, &rm, &rs, &sign, &dd, &dm, &ds) != 7)
        return false;
    sky->ra = rh + rm / 60.0 + rs / 3600.0;
    sky->dec = (sign == '-' ? -1.0 : 1.0) * (dd + dm / 60.0 + ds / 3600.0);
    return true;
}

std::string Coordinates(const Sky& p)
{
    char text[96];
    std::snprintf(text, sizeof text, "EQUATORIAL_EOD_COORD.RA;DEC=%.8f;%.8f", p.ra, p.dec);
    return text;
}

// Stars in the order they are added: the first three make a wide triangle,
// the next three fill in the sky around it.
const Place kStars[] = {
    {-2.0, 15.0}, {2.0, 25.0}, {0.3, 65.0}, {-1.0, 45.0}, {1.2, 0.0}, {-2.3, 55.0},
};

// Ten targets over the sky, at least 30 degrees up when chosen, in an order
// that keeps each goto's travel short.
const Place kTargets[] = {
    {-2.5, 35.0}, {-1.8, 5.0}, {-1.2, 60.0}, {-0.6, 25.0}, {-0.2, 75.0},
    {0.4, -5.0},  {0.9, 40.0}, {1.5, 15.0},  {2.0, 55.0},  {2.5, 30.0},
};

struct Accuracy {
    double rmsArcmin = 0.0;
    double maxArcmin = 0.0;
};

class IndiAlignment : public ::testing::Test {
protected:
    void TearDown() override
    {
        s.StopServer();
        EXPECT_EQ(s.SanitizerReports(), "");
    }

    // The mount of the check: an EQ-5 with its polar axis 40' off
    // in azimuth and 25' in altitude, 8' of cone, 4' of non-perpendicular
    // axes and 1.5' of flexure; step frames answered after a short pause
    // whatever their motor time (the axes move by the frames all the same).
    void Start()
    {
        SimOptions options;
        options.timeScale = 0;
        options.answerDelayMs = 250;
        options.errors.polarAzArcmin = 40;
        options.errors.polarAltArcmin = 25;
        options.errors.coneArcmin = 8;
        options.errors.nonPerpArcmin = 4;
        options.errors.flexureArcmin = 1.5;
        options.site.latitudeDegrees = kLatitude;
        options.site.longitudeDegrees = kLongitude;
        ASSERT_TRUE(s.Start(kSettings, options)) << s.Error();
        s.Sim().SetEventCallback([this](uint64_t, const std::string& text) {
            Sky sky;
            if (ParsePointing(text, &sky)) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_pointings.push_back(sky);
            }
        });
        ASSERT_TRUE(s.Set('s', "CONNECTION.CONNECT=On"));
        ASSERT_TRUE(s.WaitFor("@CONNECTION.CONNECT\"==1", 20));
        ASSERT_TRUE(s.Sim().WaitForCommands(2, 10000));
        char site[96];
        std::snprintf(site, sizeof site, "GEOGRAPHIC_COORD.LAT;LONG;ELEV=%.4f;%.4f;520", kLatitude, kLongitude);
        ASSERT_TRUE(s.Set('n', site));
        ASSERT_TRUE(s.WaitFor("@GEOGRAPHIC_COORD._STATE\"==1", 20));
    }

    size_t Pointings()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_pointings.size();
    }
    Sky LastPointing()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_pointings.back();
    }
    size_t StepFramesFrom(size_t from)
    {
        const std::vector<Command> all = s.Sim().Commands();
        return static_cast<size_t>(std::count_if(all.begin() + static_cast<long>(std::min(from, all.size())),
                                                 all.end(), [](const Command& c) { return c.name == "step"; }));
    }

    // A goto as a client sends it; waits for its end (Busy, then Ok) and for
    // the simulator's trace of the last frame; where the telescope truly
    // points.
    Sky Goto(const Sky& target)
    {
        EXPECT_GT(AltitudeDegrees(target), 25.0) << target.ra << " " << target.dec;
        const size_t updates = s.CoordUpdates().size();
        const size_t commands = s.Sim().Commands().size();
        const size_t pointings = Pointings();
        EXPECT_TRUE(s.Set({{'s', "ON_COORD_SET.TRACK=On"}, {'n', Coordinates(target)}}));
        bool refused = false;
        const auto ended = [&] {
            const std::vector<CoordUpdate> all = s.CoordUpdates();
            bool busy = false;
            for (size_t i = updates; i < all.size(); ++i) {
                refused = refused || all[i].state == "Alert";
                busy = busy || all[i].state == "Busy";
                if (busy && all[i].state == "Ok")
                    return true;
            }
            return refused;
        };
        EXPECT_TRUE(WaitUntil(ended, 120000, 50)) << "the goto did not end";
        EXPECT_FALSE(refused) << "the goto was refused";
        // Every step frame's answer is followed by a trace of the pointing.
        EXPECT_TRUE(WaitUntil(
            [&] {
                const size_t frames = StepFramesFrom(commands);
                return frames > 0 && Pointings() - pointings == frames;
            },
            20000));
        return LastPointing();
    }

    // A sync on `sky` moved by 5" in a direction of the generator's choice.
    bool Sync(const Sky& sky)
    {
        const double angle = std::uniform_real_distribution<double>(0.0, 2 * kPi)(m_noise);
        const double offsetDeg = 5.0 / 3600.0;
        Sky noisy{Wrap24(sky.ra + offsetDeg * std::cos(angle) / std::cos(sky.dec * kRad) / 15.0),
                  sky.dec + offsetDeg * std::sin(angle)};
        return s.Set({{'s', "ON_COORD_SET.SYNC=On"}, {'n', Coordinates(noisy)}});
    }

    // (indi_eval does not take the element's name, which has spaces.)
    bool ModelIs(const std::string& state)
    {
        return WaitUntil(
            [&] { return s.Get("ALIGNMENT_SUBSYSTEM_ACTIVE.ALIGNMENT SUBSYSTEM ACTIVE") == state; }, 20000, 100);
    }

    bool SizeIs(int count)
    {
        return s.WaitFor("@ALIGNMENT_POINTSET_SIZE.ALIGNMENT_POINTSET_SIZE\"==" + std::to_string(count), 20);
    }

    // Goto star `index`, sync where the telescope truly points; the model
    // then holds `count` points.
    void AddStar(size_t index, int count)
    {
        const Sky truth = Goto(AtNow(kStars[index]));
        ASSERT_TRUE(Sync(truth));
        ASSERT_TRUE(SizeIs(count)) << "star " << index << " was not taken";
    }

    Accuracy MeasureTargets(const char* label)
    {
        Accuracy result;
        double sum = 0.0;
        std::string each;
        for (const Place& place : kTargets) {
            const Sky target = AtNow(place);
            const Sky truth = Goto(target);
            const double error = SeparationArcmin(target, truth);
            sum += error * error;
            result.maxArcmin = std::max(result.maxArcmin, error);
            char text[16];
            std::snprintf(text, sizeof text, " %.2f", error);
            each += text;
        }
        result.rmsArcmin = std::sqrt(sum / static_cast<double>(std::size(kTargets)));
        std::printf("pointing accuracy, %-14s RMS %6.2f'  max %6.2f'   (each:%s)\n", label, result.rmsArcmin,
                    result.maxArcmin, each.c_str());
        std::fflush(stdout);
        return result;
    }

    IndiSession s;
    std::mutex m_mutex;
    std::vector<Sky> m_pointings;
    std::mt19937 m_noise{20};
};

}  // namespace

TEST_F(IndiAlignment, GotosLandOnTargetAfterThreeAndSixStars)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(SizeIs(0));

    // Today's way: the model off, one sync on the first star.
    ASSERT_TRUE(s.Set('s', "ALIGNMENT_SUBSYSTEM_ACTIVE.ALIGNMENT SUBSYSTEM ACTIVE=Off"));
    ASSERT_TRUE(ModelIs("Off"));
    {
        const Sky star = AtNow(kStars[0]);
        const Sky truth = Goto(star);
        ASSERT_TRUE(Sync(truth));
        ASSERT_TRUE(s.WaitFor("@EQUATORIAL_EOD_COORD._STATE\"==1", 20));
    }
    ASSERT_TRUE(SizeIs(0));  // a sync with the model off is no point
    const Accuracy plain = MeasureTargets("plain sync:");

    // The model on: one star, then three, then six.
    ASSERT_TRUE(s.Set('s', "ALIGNMENT_SUBSYSTEM_ACTIVE.ALIGNMENT SUBSYSTEM ACTIVE=On"));
    ASSERT_TRUE(ModelIs("On"));
    ASSERT_NO_FATAL_FAILURE(AddStar(0, 1));
    const Accuracy one = MeasureTargets("1 star:");
    for (size_t i = 1; i < 3; ++i)
        ASSERT_NO_FATAL_FAILURE(AddStar(i, static_cast<int>(i) + 1));
    const Accuracy three = MeasureTargets("3 stars:");
    for (size_t i = 3; i < 6; ++i)
        ASSERT_NO_FATAL_FAILURE(AddStar(i, static_cast<int>(i) + 1));
    const Accuracy six = MeasureTargets("6 stars:");

    std::printf("\nstars  RMS      max\n  sync %5.2f'  %5.2f'  (model off)\n", plain.rmsArcmin, plain.maxArcmin);
    for (const auto& [n, a] : {std::pair{1, one}, {3, three}, {6, six}})
        std::printf("  %4d %5.2f'  %5.2f'\n", n, a.rmsArcmin, a.maxArcmin);

    // The mount's errors are tens of minutes of arc: the plain sync shows
    // them, or the check shows nothing.
    EXPECT_GT(plain.rmsArcmin, 15.0);
    // One star fits the index alone: no worse than the plain sync.
    EXPECT_LE(one.rmsArcmin, plain.rmsArcmin * 1.05 + 0.5);
    EXPECT_LE(one.maxArcmin, plain.maxArcmin * 1.05 + 1.0);
    EXPECT_LE(three.rmsArcmin, 3.0);
    EXPECT_LE(three.maxArcmin, 6.0);
    EXPECT_LE(six.rmsArcmin, 1.0);
    EXPECT_LE(six.maxArcmin, 2.0);
}

TEST_F(IndiAlignment, AWrongStarIsRefusedAndClearEmptiesTheModel)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(AddStar(0, 1));
    ASSERT_NO_FATAL_FAILURE(AddStar(1, 2));

    // A sync 20 degrees north of where the mount points: refused, the
    // property in Alert, the model as it was, the position as it was.
    const double ra = std::atof(s.Get("EQUATORIAL_EOD_COORD.RA").c_str());
    const double dec = std::atof(s.Get("EQUATORIAL_EOD_COORD.DEC").c_str());
    ASSERT_TRUE(s.Set({{'s', "ON_COORD_SET.SYNC=On"}, {'n', Coordinates({ra, dec + 20.0})}}));
    EXPECT_TRUE(s.WaitFor("@EQUATORIAL_EOD_COORD._STATE\"==3", 20));
    EXPECT_TRUE(s.WaitForMessage("a wrong star?", 10000));
    EXPECT_EQ(s.Get("ALIGNMENT_POINTSET_SIZE.ALIGNMENT_POINTSET_SIZE"), "2");
    EXPECT_NEAR(std::atof(s.Get("EQUATORIAL_EOD_COORD.DEC").c_str()), dec, 1.0 / 60);
    // The fitted terms are kept in the settings file for the next start.
    const auto fileText = [&] {
        std::ifstream in(s.SettingsPath());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    EXPECT_NE(fileText().find("[Alignment]\n"), std::string::npos) << fileText();
    EXPECT_NE(fileText().find("\nModel=EQ5\n"), std::string::npos) << fileText();

    // Ekos' "Clear model": CLEAR, then COMMIT.
    ASSERT_TRUE(s.Set('s', "ALIGNMENT_POINTSET_ACTION.CLEAR=On"));
    ASSERT_TRUE(s.WaitFor("@ALIGNMENT_POINTSET_ACTION.CLEAR\"==1", 20));
    ASSERT_TRUE(s.Set('s', "ALIGNMENT_POINTSET_COMMIT.COMMIT=On"));
    EXPECT_TRUE(SizeIs(0));
    EXPECT_TRUE(s.WaitFor("@ALIGNMENT_POINTSET_COMMIT._STATE\"==1", 20));
    EXPECT_EQ(fileText().find("[Alignment]"), std::string::npos) << fileText();
    EXPECT_NE(fileText().find("[Options]"), std::string::npos) << fileText();
    // The next sync starts a new model.
    ASSERT_TRUE(s.Set('s', "ALIGNMENT_POINTSET_ACTION.APPEND=On"));
    ASSERT_NO_FATAL_FAILURE(AddStar(2, 1));
}
