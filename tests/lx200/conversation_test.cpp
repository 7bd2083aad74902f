// One client's LX200 conversation byte for byte against a recording panel:
// the connect sequences of the clients, both precisions, goto, sync, slews,
// speeds and stop as panel calls, refusals, and input that must do no harm.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "lx200/conversation.h"

using namespace tavro;
using namespace tavro::lx200;

namespace {

// 2026-01-15 00:00:00 UTC.
constexpr std::time_t kJan15 = 1768435200;

class RecordingPanel : public Panel {
public:
    SkyPoint Position() override { return position; }
    bool GotoRunning() override { return gotoRunning; }
    std::string Goto(const SkyPoint& target) override
    {
        Record("goto", target);
        return refusal;
    }
    std::string Sync(const SkyPoint& point) override
    {
        Record("sync", point);
        return refusal;
    }
    bool PressSlew(Direction d) override
    {
        calls.push_back("press " + std::to_string(static_cast<int>(d)));
        return refusal.empty();
    }
    void ReleaseSlew(Direction d) override
    {
        calls.push_back("release " + std::to_string(static_cast<int>(d)));
        lineBusy = busyAfterStop;
    }
    bool ChooseRate(Rate r) override
    {
        calls.push_back("rate " + std::to_string(static_cast<int>(r)));
        return true;
    }
    void StopAll() override
    {
        calls.push_back("stop");
        lineBusy = busyAfterStop;
    }
    bool LineBusy() override { return lineBusy; }
    bool GotoFinishing() override { return gotoFinishing; }
    void SetLineFreeNotice(std::function<void()>) override {}
    void ShowLinkState(const std::string&) override {}
    void SetSite(double latitude, double longitudeEast) override
    {
        char text[64];
        std::snprintf(text, sizeof text, "site %.4f %.4f", latitude, longitudeEast);
        sites.push_back(text);
    }

    void Record(const char* what, const SkyPoint& p)
    {
        char text[64];
        std::snprintf(text, sizeof text, "%s %.4f %.4f", what, p.ra, p.dec);
        calls.push_back(text);
    }

    SkyPoint position{6.752477, -16.7161};
    bool gotoRunning = false;
    std::string refusal;
    std::vector<std::string> calls;
    std::vector<std::string> sites;   // kept apart: no other call depends on them
    // A stop (release or stop all) leaves the line busy until the test
    // frees it.
    bool busyAfterStop = false;
    bool lineBusy = false;
    bool gotoFinishing = false;
};

class Lx200Conversation : public ::testing::Test {
protected:
    std::string Say(const std::string& bytes) { return m_talk.Receive(bytes); }

    RecordingPanel m_panel;
    Conversation m_talk{m_panel, Epoch::JNow, [] { return kJan15; }};
};

using Calls = std::vector<std::string>;
const std::string kDateAnswer = "1Updating Planetary Data#" + std::string(32, ' ') + "#";

TEST_F(Lx200Conversation, ConnectSequencesOfTheClientsAreAnswered)
{
    // SkySafari: site and time first, then the position poll.
    EXPECT_EQ(Say(":St+48*51#:Sg002*21#:SG-01.0#:SL21:30:00#:SC01/15/26#:GR#:GD#"),
              "1111" + kDateAnswer + "06:45:09#-16*42:58#");
    // The generic INDI driver: ACK, position, precision, then the queries
    // (read back as set, the time from the offset set).
    EXPECT_EQ(Say("\x06:GR#:Gc#:GM#:GT#:Gt#:Gg#:GG#:GL#:GC#"),
              "P06:45:09#24#Tavro#60.1#+48*51#002*21#-01.0#01:00:00#01/15/26#");
    EXPECT_EQ(Say(":U#:GR#:GD#:U#:GR#"), "06:45.1#-16*43#06:45:09#");
    EXPECT_TRUE(m_panel.calls.empty());
}

TEST_F(Lx200Conversation, GotoSyncSlewsSpeedsAndStopGoToThePanel)
{
    EXPECT_EQ(Say(":Sr 05:30:00#:Sd -05*00:00#:MS#"), "110");
    EXPECT_EQ(Say(":Sr05:31:00#:Sd+05\xDF" "00#:CM#"), "11Coordinates matched#");
    EXPECT_EQ(Say(":RG#:RC#:RM#:RS#:Mn#:Qs#:Qn#:Me#:Q#:D#"), "#");
    m_panel.gotoRunning = true;
    EXPECT_EQ(Say(":D#"), "|#");
    EXPECT_EQ(m_panel.calls, (Calls{"goto 5.5000 -5.0000", "sync 5.5167 5.0000", "rate 0",
                                    "rate 1", "rate 2", "rate 3", "press 0", "release 0",
                                    "press 2", "stop"}));
}

TEST_F(Lx200Conversation, RefusalsAreAnsweredAndHoldNothing)
{
    m_panel.refusal = "not connected";
    EXPECT_EQ(Say(":MS#"), "2RA not set or refused#");
    EXPECT_EQ(Say(":Sr 05:30:00#:Sd +91*00:00#:MS#"), "102Dec not set or refused#");
    EXPECT_EQ(Say(":Sd +10*00:00#:MS#:CM#"), "12not connected#Not matched: not connected#");
    // A refused press holds nothing: its release and the end of the
    // conversation release nothing.
    EXPECT_EQ(Say(":Mw#:Qw#"), "");
    EXPECT_EQ(m_panel.calls, (Calls{"goto 5.5000 10.0000", "sync 5.5000 10.0000", "press 3"}));
}

// Input taken while the line may turn busy: the conversation stops right
// after the command that left it busy, the rest is taken once it is free,
// and the answers and panel calls come in the order of the commands.
TEST(Lx200ConversationHold, TheRestWaitsWhileAStopHoldsTheLine)
{
    struct Case {
        const char* name;
        std::string input;
        size_t firstTaken;       // up to the end of the stop
        std::string firstReply;
        std::string restReply;   // once the line is free
        Calls calls;
    };
    const std::vector<Case> cases = {
        {"slew reversed", ":Me#:Qe#:Mw#", 8, "", "", {"press 2", "release 2", "press 3"}},
        {"abort then new goto", ":Q#:Sr05:30:00#:Sd-05*00:00#:MS#", 3, "", "110",
         {"stop", "goto 5.5000 -5.0000"}},
        {"poll around a stop, ACK after it", ":GR#:Q#\x06:GD#:Qw#", 7, "06:45:09#", "P-16*42:58#",
         {"stop"}},
        {"release of a slew not held stops nothing", ":Qn#:GR#", 8, "06:45:09#", "", {}},
        {"half a command after the stop", ":Q#:G", 3, "", "", {"stop"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPanel panel;
        panel.busyAfterStop = true;
        Conversation talk(panel, Epoch::JNow, [] { return kJan15; });
        size_t taken = 99;
        EXPECT_EQ(talk.Receive(c.input, &taken), c.firstReply);
        EXPECT_EQ(taken, c.firstTaken);
        // Busy: nothing more is taken.
        const std::string rest = c.input.substr(std::min(taken, c.input.size()));
        EXPECT_EQ(talk.Receive(rest, &taken), "");
        EXPECT_EQ(taken, 0u);
        panel.lineBusy = false;
        panel.busyAfterStop = false;
        EXPECT_EQ(talk.Receive(rest, &taken), c.restReply);
        EXPECT_EQ(taken, rest.size());
        EXPECT_EQ(panel.calls, c.calls);
    }
}

// While the panel's goto finishes, a goto or sync is kept back (its bytes
// taken, the command carried out once the goto has ended, before anything
// sent after it); polls and target settings before it are answered at once.
TEST(Lx200ConversationHold, GotoOrSyncWaitsWhileTheGotoFinishes)
{
    struct Case {
        const char* name;
        std::string input;
        std::string firstReply;
        std::string laterReply;   // the kept command's, then the rest's
        Calls calls;
    };
    const std::vector<Case> cases = {
        {"goto", ":GR#:Sr05:30:00#:Sd-05*00:00#:MS#:GD#", "06:45:09#11", "0-16*42:58#",
         {"goto 5.5000 -5.0000"}},
        {"sync", ":Sr05:30:00#:Sd-05*00:00#:CM#", "11", "Coordinates matched#",
         {"sync 5.5000 -5.0000"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPanel panel;
        panel.gotoFinishing = true;
        Conversation talk(panel, Epoch::JNow, [] { return kJan15; });
        size_t taken = 0;
        EXPECT_EQ(talk.Receive(c.input, &taken), c.firstReply);
        const size_t kept = c.input.find(c.name[0] == 'g' ? ":MS#" : ":CM#") + 4;
        EXPECT_EQ(taken, kept);
        EXPECT_TRUE(talk.Holding());
        EXPECT_TRUE(panel.calls.empty());
        // Still finishing: nothing is taken or done.
        const std::string rest = c.input.substr(taken);
        EXPECT_EQ(talk.Receive(rest, &taken), "");
        EXPECT_EQ(taken, 0u);
        panel.gotoFinishing = false;
        EXPECT_EQ(talk.Receive(rest, &taken), c.laterReply);
        EXPECT_EQ(taken, rest.size());
        EXPECT_FALSE(talk.Holding());
        EXPECT_EQ(panel.calls, c.calls);
    }
    // Without a count the command is carried out at once, as the panel
    // decides (it refuses it during the goto).
    RecordingPanel panel;
    panel.gotoFinishing = true;
    panel.refusal = "a goto is running";
    Conversation talk(panel, Epoch::JNow, [] { return kJan15; });
    EXPECT_EQ(talk.Receive(":Sr05:30:00#:Sd-05*00:00#:MS#"), "112a goto is running#");
    EXPECT_FALSE(talk.Holding());
}

TEST(Lx200ConversationHold, WithoutACountEveryByteIsTaken)
{
    RecordingPanel panel;
    panel.busyAfterStop = true;
    Conversation talk(panel, Epoch::JNow, [] { return kJan15; });
    EXPECT_EQ(talk.Receive(":Q#:GR#"), "06:45:09#");
    EXPECT_TRUE(panel.LineBusy());
    EXPECT_EQ(talk.Receive(":GD#"), "-16*42:58#");
}

TEST(Lx200ConversationEnd, ASlewStillHeldIsReleasedWhenTheClientGoes)
{
    RecordingPanel panel;
    {
        Conversation talk(panel, Epoch::JNow);
        talk.Receive(":Ms#:Mn#");   // the second press replaces the first
    }
    EXPECT_EQ(panel.calls, (Calls{"press 1", "press 0", "release 0"}));
}

TEST_F(Lx200Conversation, MalformedAndOversizedInputDoesNoHarm)
{
    // Split anywhere, the same answer.
    std::string split;
    for (char c : std::string(":GR#"))
        split += Say(std::string(1, c));
    EXPECT_EQ(split, "06:45:09#");
    // Noise outside a command, unknown commands and a line of 65 bytes go
    // unanswered; 64 bytes is still a line (an unknown one here).
    EXPECT_EQ(Say("xyz#\r\n:XY#:GZ#:SZ1#:" + std::string(62, 'G') + "#"), "");
    EXPECT_EQ(Say(":Sr" + std::string(61, '0') + "#:GD#"), "-16*42:58#");
    EXPECT_FALSE(m_talk.Flooding());
    // Oversized lines in a row make a flood; a good line in between does not.
    const std::string oversized = ":" + std::string(200, 'M') + "#";
    EXPECT_EQ(Say(oversized + oversized + oversized + ":GR#" + oversized), "06:45:09#");
    EXPECT_FALSE(m_talk.Flooding());
    Say(oversized + oversized + oversized);
    EXPECT_TRUE(m_talk.Flooding());
    EXPECT_TRUE(m_panel.calls.empty());
}

TEST(Lx200ConversationEpoch, J2000ClientsArePrecessedBothWays)
{
    RecordingPanel panel;
    panel.position = {6.772340, -16.743953};   // Sirius, apparent place of 2026-01-15
    Conversation talk(panel, Epoch::J2000, [] { return kJan15; });
    // Sirius at J2000: 06:45:08.9 -16:42:58.
    EXPECT_EQ(talk.Receive(":GR#:GD#"), "06:45:09#-16*42:58#");
    EXPECT_EQ(talk.Receive(":Sr06:45:08.9#:Sd-16*42:58#:MS#"), "110");
    // The worked value, to its digits.
    EXPECT_EQ(panel.calls, Calls{"goto 6.7723 -16.7440"});
}

}  // namespace

TEST_F(Lx200Conversation, TheSiteGoesToThePanelEastPositiveOnceBothHalvesAreSet)
{
    // The protocol counts longitude westward.
    EXPECT_EQ(Say(":St+48*30#"), "1");
    EXPECT_EQ(m_panel.sites, Calls{});
    const struct {
        const char* command;
        const char* site;
    } cases[] = {
        {":Sg348*25#", "site 48.5000 11.5833"},     // 11.58 E
        {":Sg011*35#", "site 48.5000 -11.5833"},    // 11.58 W
        {":Sg180*00#", "site 48.5000 180.0000"},
        {":Sg000*00#", "site 48.5000 -0.0000"},
    };
    for (const auto& k : cases) {
        m_panel.sites.clear();
        EXPECT_EQ(Say(k.command), "1") << k.command;
        EXPECT_EQ(m_panel.sites, Calls{k.site}) << k.command;
    }
    m_panel.sites.clear();
    EXPECT_EQ(Say(":St-33*52#"), "1");
    EXPECT_EQ(m_panel.sites, Calls{"site -33.8667 -0.0000"});
    // A value refused changes nothing.
    m_panel.sites.clear();
    EXPECT_EQ(Say(":St+95*00#"), "0");
    EXPECT_EQ(m_panel.sites, Calls{});
}
