// Pointing accuracy end to end through the INDI driver: the board simulator
// plays a mount set up wrong (polar axis, cone, non-perpendicular axes,
// tube flexure), the client syncs on stars as a plate-solving client does
// (a goto to the star, then a sync on where the telescope truly points,
// give or take a few arcseconds), and gotos to targets over the sky are
// measured against where the simulator says the telescope truly ends up.
// Also the model's upkeep as a client sees it: clearing, and a wrong star.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

#include "mount/sidereal_time.h"
#include "tests/support/sky_check.h"
#include "tests/indi/indi_session.h"

using namespace tavro::indi_e2e;
using tavro::sim::Command;
using tavro::sim::SimOptions;

namespace {

using namespace tavro::test::sky;

const char kSettings[] = "[Options]\nConnection=5\nMaxGotoSpeed=100\nDriverMode=EQ5\n[Ports]\nCOM5=@LINK@\n";

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
        const Sky truth = Goto(SkyNow(kStars[index]));
        ASSERT_TRUE(Sync(truth));
        ASSERT_TRUE(SizeIs(count)) << "star " << index << " was not taken";
    }

    Accuracy MeasureTargets(const char* label)
    {
        Accuracy result;
        double sum = 0.0;
        std::string each;
        for (const Place& place : kTargets) {
            const Sky target = SkyNow(place);
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
        const Sky star = SkyNow(kStars[0]);
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
    const size_t updatesBefore = s.CoordUpdates().size();
    ASSERT_TRUE(s.Set({{'s', "ON_COORD_SET.SYNC=On"}, {'n', Coordinates({ra, dec + 20.0})}}));
    EXPECT_TRUE(s.WaitForMessage("a wrong star?", 20000));
    // The refusal is an Alert on the coordinates, which the next poll of the
    // position turns back to Ok: the monitor has seen it go by.
    const auto sawAlert = [&] {
        const std::vector<CoordUpdate> updates = s.CoordUpdates();
        return std::any_of(updates.begin() + static_cast<std::ptrdiff_t>(std::min(updatesBefore, updates.size())),
                           updates.end(), [](const CoordUpdate& u) { return u.state == "Alert"; });
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!sawAlert() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(sawAlert());
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
