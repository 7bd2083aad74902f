// "Find object" in the real program under Xvfb against the board simulator:
// Ctrl+F, "m42" typed into the dialog, Enter on the first match, then
// "Goto >": the step frames at the simulator are the planner's for a goto
// from the start-up point to M42's place of the date. And the Sun guard: a
// target typed in 10 degrees from the Sun brings its question up, and its
// default answer (No) sends nothing.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "mount/goto_plan.h"
#include "mount/protocol.h"
#include "sky/apparent_place.h"
#include "sky/catalogue.h"
#include "tests/e2e/program_session.h"
#include "tools/boardsim/board_simulator.h"
#include "ui/window/control_dlg_ids.h"
#include "ui/window/point_text.h"

namespace {

using tavro::e2e::ProgramSession;
using tavro::e2e::RunCommand;
using tavro::e2e::WaitUntil;
using tavro::sim::BoardSimulator;
using tavro::sim::Command;

// An instant of the March equinox: the Sun near 0 h, +0.
constexpr double kEquinoxUtc = 1805544000.0;  // 2027-03-20 12:00 UTC

bool Shown(const std::string& caption)
{
    return !RunCommand("xdotool search --onlyvisible --name '^" + caption + "$' 2>/dev/null").empty();
}

// Sends keys to the window with a caption through the server, its focus
// given to it first.
void KeysTo(const std::string& caption, const std::string& xdotoolKeys)
{
    const std::string window =
        RunCommand("xdotool search --onlyvisible --name '^" + caption + "$' | head -1");
    RunCommand("xdotool windowfocus --sync " + window + " && xdotool " + xdotoolKeys);
}

class FindE2E : public ::testing::Test {
protected:
    // The board answers every frame a quarter second after it, whatever
    // its motor time: a goto over hours of RA ends in seconds.
    void StartProgram(std::optional<double> windowUtc)
    {
        ASSERT_TRUE(m_dir.isValid());
        m_link = m_dir.filePath(QStringLiteral("board")).toStdString();
        tavro::sim::SimOptions options;
        options.timeScale = 0;
        options.answerDelayMs = 250;
        m_sim = std::make_unique<BoardSimulator>(options);
        ASSERT_TRUE(m_sim->Start(m_link)) << m_sim->Error();
        ASSERT_TRUE(
            m_program.WriteSettings("[Options]\nConnection=1\nConnectOnStart=1\n\n"
                                    "[Ports]\nCOM1=" +
                                    m_link + "\n"));
        if (windowUtc)
            m_program.SetUtcOffset(*windowUtc - tavro::e2e::UnixSecondsNow());
        ASSERT_TRUE(m_program.Start());
        ASSERT_FALSE(m_program.WaitForWindow(15000).empty()) << "the window did not appear";
        ASSERT_TRUE(m_sim->WaitForCommands(2, 5000));  // leave-mode and configuration
        m_sim->ClearLog();
    }

    // The program's UTC now.
    double WindowUtc() const { return tavro::e2e::UnixSecondsNow() + m_program.UtcOffset(); }

    std::vector<Command> Steps() const
    {
        std::vector<Command> steps;
        for (const Command& c : m_sim->Commands()) {
            if (c.name == "step")
                steps.push_back(c);
        }
        return steps;
    }

    QTemporaryDir m_dir;
    std::string m_link;
    std::unique_ptr<BoardSimulator> m_sim;
    ProgramSession m_program{TAVRO_E2E_PROGRAM, TAVRO_E2E_SETTINGS};
};

TEST_F(FindE2E, CtrlFM42EnterAndGotoSendThePlannersFramesToItsPlaceOfTheDate)
{
    StartProgram(std::nullopt);
    // The focus into the window (a field), then Ctrl+F: the dialog comes up
    // and the keys go to its search field.
    ASSERT_TRUE(m_program.Click(IDC_NEXT_RA_M));
    RunCommand("xdotool key ctrl+f");
    ASSERT_TRUE(WaitUntil([] { return Shown("Find object"); }, 10000)) << "the dialog did not appear";
    EXPECT_TRUE(m_sim->Received().empty()) << "Ctrl+F sent something to the mount";
    KeysTo("Find object", "type --delay 50 m42");
    // Each keystroke lists at once; the list is ready well before Enter is
    // taken, as the keys are queued in order.
    KeysTo("Find object", "key Return");
    ASSERT_TRUE(WaitUntil([] { return !Shown("Find object"); }, 10000)) << "Enter did not close the dialog";
    const double utc = WindowUtc();

    // The place the fields hold: M42's of the date, rounded to whole
    // seconds as the fields show it, read back as the window reads it.
    std::string error;
    const std::optional<tavro::sky::Catalogue> catalogue =
        tavro::sky::Catalogue::Load(tavro::sky::DefaultCataloguePath(), &error);
    ASSERT_TRUE(catalogue) << error;
    const tavro::sky::SearchResult found = catalogue->Find("m42", 1);
    ASSERT_FALSE(found.matches.empty());
    ASSERT_EQ(found.matches.front()->names.front(), "M 42");
    const tavro::sky::Equatorial place =
        tavro::sky::ApparentPlaceOf(*found.matches.front(), utc, std::nullopt);
    const auto target = tavro::ui::ReadPoint(tavro::ui::FormatPoint(place.raHours, place.decDegrees));
    ASSERT_TRUE(target);

    m_sim->ClearLog();
    ASSERT_TRUE(m_program.Click(IDC_GOTO));
    // From the start-up point (0 h, +0) with the settings' defaults.
    const tavro::GotoPlan plan = tavro::PlanGoto({0.0, 0.0}, {target->first, target->second},
                                                 tavro::MountSettings{}, tavro::AxisDirection::Increasing);
    ASSERT_TRUE(plan.moves);
    std::vector<tavro::StepFrame> sent;
    for (const tavro::StepFrame& frame : plan.frames) {
        if (frame.steps >= tavro::kMinFrameSteps)
            sent.push_back(frame);
    }
    ASSERT_FALSE(sent.empty());
    ASSERT_TRUE(WaitUntil([&] { return m_sim->AnswersSent() >= static_cast<int>(sent.size()); }, 30000))
        << "frames answered: " << m_sim->AnswersSent();
    const std::vector<Command> steps = Steps();
    ASSERT_EQ(steps.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(steps[i].stepCount, sent[i].steps);
        EXPECT_EQ(steps[i].stepDirection, tavro::proto::StepDirectionByte(sent[i].ra, sent[i].dec));
    }
    EXPECT_FALSE(Shown("Confirm goto"));

    ASSERT_TRUE(m_program.Click(IDCANCEL));
    EXPECT_EQ(m_program.WaitForExit(5000), 0);
}

TEST_F(FindE2E, TargetTenDegreesFromTheSunIsAskedAboutAndNoSendsNothing)
{
    StartProgram(kEquinoxUtc);
    // 10 degrees north of the Sun, on its hour circle.
    const tavro::sky::Equatorial sun =
        tavro::sky::ApparentPlaceOf(tavro::sky::Body::Sun, WindowUtc(), std::nullopt);
    const tavro::ui::PointTexts t = tavro::ui::FormatPoint(sun.raHours, sun.decDegrees + 10.0);
    ASSERT_EQ(t[3], QStringLiteral("+"));
    const std::pair<int, QString> fields[] = {{IDC_NEXT_RA_H, t[0]},  {IDC_NEXT_RA_M, t[1]},
                                              {IDC_NEXT_RA_S, t[2]},  {IDC_NEXT_DEC_D, t[4]},
                                              {IDC_NEXT_DEC_M, t[5]}, {IDC_NEXT_DEC_S, t[6]}};
    for (const auto& [id, text] : fields)
        ASSERT_TRUE(m_program.TypeInto(id, text.toStdString()));

    m_sim->ClearLog();
    ASSERT_TRUE(m_program.Click(IDC_GOTO));
    ASSERT_TRUE(WaitUntil([] { return Shown("Confirm goto"); }, 10000)) << "the Sun guard did not ask";
    // Return takes the default answer, No.
    KeysTo("Confirm goto", "key Return");
    ASSERT_TRUE(WaitUntil([] { return !Shown("Confirm goto"); }, 10000));

    // The next thing the mount hears is a click on "Ra +" (manual mode, the
    // slew, the stop): no goto mode and no frame came before it.
    ASSERT_TRUE(m_program.Click(IDC_RA_PLUS));
    ASSERT_TRUE(WaitUntil([&] { return tavro::e2e::ReceivedBytes(*m_sim).size() >= 4; }, 5000));
    EXPECT_EQ(tavro::e2e::ReceivedBytes(*m_sim), (std::vector<uint8_t>{0x61, 0x3C, 0x6A, 0x6A}));
    EXPECT_TRUE(Steps().empty());

    ASSERT_TRUE(m_program.Click(IDCANCEL));
    EXPECT_EQ(m_program.WaitForExit(5000), 0);
}

}  // namespace

int main(int argc, char** argv)
{
    // Font metrics for the controls' places need the same display and fonts
    // as the program.
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
