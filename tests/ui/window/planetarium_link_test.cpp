// The planetarium link on the window over real loopback sockets, with the
// window on a simulated line and clock: a goto from a client sends what the
// Goto button sends and is reported in step with the bars, stop, slews and
// speeds go through the window's own buttons, whatever a disabled control
// would refuse is refused, the title tells the link's state, and a flooding
// client is closed.

#include <QProgressBar>
#include <QTcpSocket>

#include "lx200/conversation.h"
#include "planetarium/planetarium_link.h"
#include "tests/ui/control_dlg_test_util.h"

using tavro::CPlanetariumLink;
using tavro::PlanetariumSettings;
using tavro::test::ControlDlgHarness;

namespace {

// Loopback only, a port the system chooses.
PlanetariumSettings AnyFreePort()
{
    PlanetariumSettings settings;
    settings.listen = "127.0.0.1:0";
    return settings;
}

class Client {
public:
    explicit Client(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        m_connected = m_socket.waitForConnected(5000);
    }
    bool Connected() const { return m_connected; }
    // Sends `commands`, then ":Gc#" as a marker, and returns what came back
    // before the marker's answer: everything the commands answered.
    QByteArray Say(const QByteArray& commands)
    {
        const qsizetype start = m_got.size();
        m_socket.write(commands + ":Gc#");
        const bool answered = QTest::qWaitFor(
            [&] {
                m_got += m_socket.readAll();
                return m_got.endsWith("24#");
            },
            5000);
        if (!answered)
            return "(no answer)";
        const QByteArray reply = m_got.mid(start, m_got.size() - start - 3);
        m_got.clear();
        return reply;
    }
    QTcpSocket m_socket;

private:
    QByteArray m_got;
    bool m_connected = false;
};

int Bar(CControlDlg& dlg, int id)
{
    return qobject_cast<QProgressBar*>(dlg.Control(id))->value();
}

}  // namespace

class PlanetariumLinkTest : public QObject {
    Q_OBJECT

private slots:
    // EQ-5 at speed 76 from (0 h, +0) to (2 h, +10): 123 s of RA travel and
    // 44 s of Dec travel, the same goto as the window's own goto test.
    void gotoIsTheButtonsAndIsReportedInStepWithTheBars()
    {
        ControlDlgHarness byButton;
        byButton.Start();
        QVERIFY(byButton.Connect());
        byButton.SetNextPoint("2", "+", "10");
        QVERIFY(byButton.StartGoto());
        byButton.AnswerAll();
        QVERIFY(byButton.WaitGotoDone());

        ControlDlgHarness h;
        CControlDlg& dlg = h.Start();
        CPlanetariumLink link(dlg);
        QVERIFY(link.Start(AnyFreePort()));
        Client client(link.Port());
        QVERIFY(client.Connected());
        QVERIFY(h.Connect());
        h.m_line.BlockWhenIdle(true);
        h.m_line.AnswerStepFrames(-1);
        const uint32_t start = h.m_clock.TickCount();
        QCOMPARE(client.Say(":Sr02:00:00#:Sd+10*00:00#:MS#:D#"), QByteArray("110|#"));
        QCOMPARE(client.Say(":MS#"), QByteArray("2a goto is running#"));
        QVERIFY(!dlg.Control(IDC_GOTO)->isEnabled());
        QCOMPARE(dlg.Edit(IDC_NEXT_RA_H)->text(), QString("2"));

        QVERIFY(ControlDlgHarness::WaitReal([&] { return !h.m_line.PurgeTimes().empty(); }));
        h.TickAt(start + 61500);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_RA), 500);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_DEC), 1000);
        QCOMPARE(client.Say(":GR#:GD#"), QByteArray("01:00:00#+10*00:00#"));
        h.TickAt(start + 90000);
        QCOMPARE(Bar(dlg, IDC_PROGRESS_RA), 731);
        QCOMPARE(client.Say(":GR#"), QByteArray("01:27:43#"));   // 2 h x 0.731

        h.AnswerAll();
        QVERIFY(h.WaitGotoDone());
        QCOMPARE(client.Say(":GR#:GD#:D#"), QByteArray("02:00:00#+10*00:00##"));
        QCOMPARE(h.m_line.Hex(), byButton.m_line.Hex());
    }

    // The goto's worker has ended and its completion is still on the way to
    // the window: the link reports the target and no goto running, so a
    // sync or goto a client sends on that is taken (not refused as "a goto
    // is running"), and the completion, when it comes, changes nothing.
    void commandAfterTheReportedEndIsTaken_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("gotoRuns");
        QTest::newRow("sync") << QByteArray(":Sr01:00:00#:Sd+05*00:00#:CM#")
                              << QByteArray("11Coordinates matched#") << false;
        QTest::newRow("goto") << QByteArray(":Sr01:00:00#:Sd+05*00:00#:MS#") << QByteArray("110")
                              << true;
    }

    void commandAfterTheReportedEndIsTaken()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        QFETCH(bool, gotoRuns);
        ControlDlgHarness h;
        CControlDlg& dlg = h.Start();
        tavro::lx200::Conversation client(dlg, tavro::lx200::Epoch::JNow);
        QVERIFY(h.Connect());
        h.SetNextPoint("2", "+", "10");
        QVERIFY(h.StartGoto());
        h.AnswerAll();
        // Waited for without running the window's events: the completion
        // stays queued.
        QVERIFY(ControlDlgHarness::WaitReal([&] { return !dlg.Controller().GotoRunning(); }));
        QVERIFY(h.GotoRunning());
        QCOMPARE(client.Receive(":GR#:GD#:D#"), std::string("02:00:00#+10*00:00##"));

        // The next goto's first frame is left unanswered.
        h.m_line.AnswerStepFrames(-1);
        const size_t purges = h.m_line.PurgeTimes().size();
        QCOMPARE(QByteArray::fromStdString(client.Receive(command.toStdString())), reply);
        QCOMPARE(h.GotoRunning(), gotoRuns);
        QCOMPARE(dlg.Control(IDC_TIME_LEFT)->isVisibleTo(&dlg), gotoRuns);
        QCOMPARE(client.Receive(":D#"), std::string(gotoRuns ? "|#" : "#"));
        // The old completion arrives: the window keeps what the command made
        // of it.
        QCoreApplication::processEvents();
        h.Deliver();
        QCOMPARE(h.GotoRunning(), gotoRuns);
        QCOMPARE(dlg.Control(IDC_GOTO)->isEnabled(), !gotoRuns);
        if (gotoRuns) {
            QCOMPARE(dlg.Edit(IDC_CUR_RA_H)->text(), QString("2"));
            QVERIFY(ControlDlgHarness::WaitReal([&] { return h.m_line.PurgeTimes().size() > purges; }));
            h.AnswerAll();
            QVERIFY(h.WaitGotoDone());
        }
        QCOMPARE(dlg.Edit(IDC_CUR_RA_H)->text(), QString("1"));
        QCOMPARE(dlg.Edit(IDC_CUR_DEC_D)->text(), QString("5"));
        QCOMPARE(client.Receive(":GR#:GD#:D#"), std::string("01:00:00#+05*00:00##"));
    }

    // The estimate has reached the target (123 s of RA travel) but the board
    // has not answered the last frame: a client that sees the position at the
    // target and syncs or goes on has that command kept back, not refused,
    // and carried out after the goto's end; its polls are still answered
    // before it.
    void commandWhileTheGotoFinishesWaitsForItsEnd_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("gotoRuns");
        // The sync's poll is answered after it, at the synced point; the
        // goto's reply is its last byte (its own travel goes on meanwhile).
        QTest::newRow("sync") << QByteArray(":CM#:GR#") << QByteArray("Coordinates matched#01:00:00#")
                              << false;
        QTest::newRow("goto") << QByteArray(":MS#") << QByteArray("0") << true;
    }

    void commandWhileTheGotoFinishesWaitsForItsEnd()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, reply);
        QFETCH(bool, gotoRuns);
        ControlDlgHarness h;
        CControlDlg& dlg = h.Start();
        CPlanetariumLink link(dlg);
        QVERIFY(link.Start(AnyFreePort()));
        Client client(link.Port());
        QVERIFY(h.Connect());
        h.m_line.BlockWhenIdle(true);
        h.m_line.AnswerStepFrames(-1);
        const uint32_t start = h.m_clock.TickCount();
        QCOMPARE(client.Say(":Sr02:00:00#:Sd+10*00:00#:MS#"), QByteArray("110"));
        QVERIFY(ControlDlgHarness::WaitReal([&] { return !h.m_line.PurgeTimes().empty(); }));
        h.TickAt(start + 124000);
        QCOMPARE(client.Say(":GR#:GD#:D#"), QByteArray("02:00:00#+10*00:00#|#"));

        client.m_socket.write(":Sr01:00:00#:Sd+05*00:00#" + command);
        QTRY_COMPARE_WITH_TIMEOUT(link.WaitingClients(), 1, 10000);
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += client.m_socket.readAll()) == "11", 10000);
        QVERIFY(h.GotoRunning());
        QCOMPARE(dlg.Edit(IDC_CUR_RA_H)->text(), QString("0"));

        h.AnswerAll();
        QVERIFY(h.WaitGotoDone());
        QTRY_VERIFY_WITH_TIMEOUT((got += client.m_socket.readAll()).size() >= 2 + reply.size(), 10000);
        // The goto reached (2 h, +10), then the command took (1 h, +5): a
        // sync at once, a goto (with the frames answered as they come) once
        // it has run.
        QCOMPARE(got, "11" + reply);
        QCOMPARE(link.WaitingClients(), 0);
        if (gotoRuns) {
            QCOMPARE(dlg.Edit(IDC_NEXT_RA_H)->text(), QString("1"));
            QVERIFY(h.WaitGotoDone(30000));
        }
        QCOMPARE(dlg.Edit(IDC_CUR_RA_H)->text(), QString("1"));
        QCOMPARE(client.Say(":GR#:GD#:D#"), QByteArray("01:00:00#+05*00:00##"));
    }

    void stopEndsTheGotoWhereItHadCome()
    {
        ControlDlgHarness h;
        CControlDlg& dlg = h.Start();
        CPlanetariumLink link(dlg);
        QVERIFY(link.Start(AnyFreePort()));
        Client client(link.Port());
        QVERIFY(h.Connect());
        h.m_line.BlockWhenIdle(true);
        h.m_line.AnswerStepFrames(-1);
        const uint32_t start = h.m_clock.TickCount();
        QCOMPARE(client.Say(":Sr02:00:00#:Sd+10*00:00#:MS#"), QByteArray("110"));
        QVERIFY(ControlDlgHarness::WaitReal([&] { return !h.m_line.PurgeTimes().empty(); }));
        h.m_clock.Set(start + 61500);
        h.m_line.ClearRecord();
        QCOMPARE(client.Say(":Q#:GR#:D#"), QByteArray("01:00:00##"));
        // Out of goto mode, the port kept, off the window's thread; the
        // window idle at that point once the exchange is done.
        QTRY_COMPARE_WITH_TIMEOUT(h.m_line.Hex(), std::string("71 00"), 5000);
        QCOMPARE(h.m_line.Writes()[0].at - (start + 61500), 50u);
        QVERIFY(h.WaitGotoDone());
        QVERIFY(dlg.Controller().m_hPort);
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Control(IDC_GOTO)->isEnabled(), 5000);
        QCOMPARE(dlg.Edit(IDC_CUR_RA_H)->text(), QString("1"));
        QCOMPARE(client.Say(":GR#:GD#"), QByteArray("01:00:00#+10*00:00#"));
    }

    void slewsAndSpeedsGoThroughTheWindowsButtons()
    {
        ControlDlgHarness h;
        CControlDlg& dlg = h.Start();
        CPlanetariumLink link(dlg);
        QVERIFY(link.Start(AnyFreePort()));
        {
            Client client(link.Port());
            QVERIFY(h.Connect());
            // Fast, east: manual mode, "A"; the release waits out 140 ms.
            const uint32_t pressed = h.m_clock.TickCount();
            QCOMPARE(client.Say(":RM#:Me#:Qw#"), QByteArray());
            QVERIFY(qobject_cast<QAbstractButton*>(dlg.Control(IDC_SPEED_FAST))->isChecked());
            QCOMPARE(h.m_line.Hex(), std::string("61 41"));
            QCOMPARE(client.Say(":Qe#"), QByteArray());
            // The stop runs off the window's thread; the buttons come back
            // once it is sent.
            QTRY_VERIFY_WITH_TIMEOUT(dlg.Control(IDC_SPEED_GOTO)->isEnabled(), 5000);
            QCOMPARE(client.Say(":RS#:Ms#"), QByteArray());
            const auto writes = h.m_line.Writes();
            QCOMPARE(h.m_line.Hex(), std::string("61 41 6A 6A 2C"));   // stop, then Dec- at goto speed
            QCOMPARE(writes[2].at - pressed, 140u);
        }
        // The client went away holding Dec-: the slew is stopped.
        QVERIFY(QTest::qWaitFor([&] { return h.m_line.Hex() == "61 41 6A 6A 2C 6A 6A"; }, 5000));
        QVERIFY(QTest::qWaitFor([&] { return link.Clients() == 0; }, 5000));
    }

    // The reported position follows a manual slew from where the mount was
    // synced, and stays where the slew's stop left it.
    void positionFollowsManualSlews()
    {
        ControlDlgHarness h;
        CControlDlg& dlg = h.Start();
        CPlanetariumLink link(dlg);
        QVERIFY(link.Start(AnyFreePort()));
        Client client(link.Port());
        QVERIFY(h.Connect());
        QCOMPARE(client.Say(":Sr01:00:00#:Sd+10*00:00#:CM#"), QByteArray("11Coordinates matched#"));
        // East at the fast speed (10x sidereal on an EQ-5) for 10 s: 100.27
        // seconds of RA.
        QCOMPARE(client.Say(":RM#:Me#"), QByteArray());
        h.m_clock.Advance(10000);
        QCOMPARE(client.Say(":GR#:GD#"), QByteArray("01:01:40#+10*00:00#"));
        QCOMPARE(client.Say(":Qe#"), QByteArray());
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Control(IDC_SPEED_GOTO)->isEnabled(), 5000);
        h.m_clock.Advance(60000);
        QCOMPARE(client.Say(":GR#:GD#"), QByteArray("01:01:40#+10*00:00#"));
        // The window's Current point fields are the operator's statement of
        // the point; a goto starts from them as before.
        QCOMPARE(dlg.Edit(IDC_CUR_RA_M)->text(), QString("0"));
    }

    // A planetarium changing direction sends the stop and the new slew at
    // once: the slew waits for the stop (run off the window's thread) and
    // is then taken, with the board's pauses as from the buttons.
    void reversedSlewInOnePacketFollowsTheStop()
    {
        ControlDlgHarness h;
        CControlDlg& dlg = h.Start();
        CPlanetariumLink link(dlg);
        QVERIFY(link.Start(AnyFreePort()));
        Client client(link.Port());
        QVERIFY(h.Connect());
        const uint32_t pressed = h.m_clock.TickCount();
        QCOMPARE(client.Say(":Me#"), QByteArray());
        QCOMPARE(client.Say(":Qe#:Mw#"), QByteArray());
        // Stop after its 140 ms, then West at the slow speed 30 ms later.
        QCOMPARE(h.m_line.Hex(), std::string("61 3C 6A 6A 3E"));
        auto writes = h.m_line.Writes();
        QCOMPARE(writes[2].at - pressed, 140u);
        QCOMPARE(writes[3].at - writes[2].at, 30u);
        QCOMPARE(client.Say(":Qw#"), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(h.m_line.Hex(), std::string("61 3C 6A 6A 3E 6A 6A"), 5000);
        writes = h.m_line.Writes();
        QCOMPARE(writes[4].at - writes[3].at, 140u);
        QCOMPARE(link.WaitingClients(), 0);
        QVERIFY(h.Dlg().m_errors.isEmpty());
    }

    // Abort, then a new goto, in one packet: the new goto starts from where
    // the aborted one had come, with what the Goto button sends from there.
    void abortThenNewGotoAreTakenInOrder()
    {
        // The reference: the button's goto from (1 h, +10) to (3 h, +20).
        ControlDlgHarness byButton;
        CControlDlg& refDlg = byButton.Start();
        CPlanetariumLink refLink(refDlg);
        QVERIFY(refLink.Start(AnyFreePort()));
        Client refClient(refLink.Port());
        QVERIFY(byButton.Connect());
        byButton.m_line.BlockWhenIdle(true);
        byButton.m_line.AnswerStepFrames(-1);
        QCOMPARE(refClient.Say(":Sr01:00:00#:Sd+10*00:00#:CM#"), QByteArray("11Coordinates matched#"));
        byButton.SetNextPoint("3", "+", "20");
        QVERIFY(byButton.StartGoto());
        QVERIFY(ControlDlgHarness::WaitReal([&] { return !byButton.m_line.PurgeTimes().empty(); }));
        const auto reference = byButton.m_line.Writes();

        ControlDlgHarness h;
        CControlDlg& dlg = h.Start();
        CPlanetariumLink link(dlg);
        QVERIFY(link.Start(AnyFreePort()));
        Client client(link.Port());
        QVERIFY(h.Connect());
        h.m_line.BlockWhenIdle(true);
        h.m_line.AnswerStepFrames(-1);
        const uint32_t start = h.m_clock.TickCount();
        QCOMPARE(client.Say(":Sr02:00:00#:Sd+10*00:00#:MS#"), QByteArray("110"));
        QVERIFY(ControlDlgHarness::WaitReal([&] { return !h.m_line.PurgeTimes().empty(); }));
        h.m_clock.Set(start + 61500);   // half way in RA: (1 h, +10)
        h.m_line.ClearRecord();
        // The poll is answered after the new goto has started from where the
        // abort left the mount (its worker may already have moved the
        // estimate on by a few seconds of the simulated clock).
        const QByteArray said = client.Say(":Q#:Sr03:00:00#:Sd+20*00:00#:MS#:GR#");
        QCOMPARE(said.left(3), QByteArray("110"));
        QVERIFY2(said.mid(3).startsWith("01:0"), said.constData());
        QVERIFY(ControlDlgHarness::WaitReal([&] { return !h.m_line.PurgeTimes().empty(); }));
        QCOMPARE(dlg.Edit(IDC_NEXT_RA_H)->text(), QString("3"));
        QVERIFY(h.GotoRunning());

        const auto writes = h.m_line.Writes();
        QCOMPARE(writes.size(), reference.size() + 1);
        QCOMPARE(writes[0].bytes, (std::vector<uint8_t>{0x71, 0x00}));   // the abort's "q"
        QCOMPARE(writes[0].at - (start + 61500), 50u);
        for (size_t i = 0; i < reference.size(); ++i) {
            QCOMPARE(writes[i + 1].bytes, reference[i].bytes);
            QCOMPARE(writes[i + 1].at - writes[1].at, reference[i].at - reference[0].at);
        }
        h.AnswerAll();
        QVERIFY(h.WaitGotoDone());
        QCOMPARE(client.Say(":GR#:GD#"), QByteArray("03:00:00#+20*00:00#"));
        byButton.AnswerAll();
        QVERIFY(byButton.WaitGotoDone());
    }

    // While a stop is held up on the line the window's thread goes on: the
    // input of every client waits unread, a flood is still closed, and the
    // waiting clients are answered, in order, once the stop is sent.
    void inputWaitsWhileTheStopIsOnTheLine()
    {
        ControlDlgHarness h;
        CControlDlg& dlg = h.Start();
        CPlanetariumLink link(dlg);
        QVERIFY(link.Start(AnyFreePort()));
        Client client(link.Port());
        Client other(link.Port());
        Client flood(link.Port());
        QTRY_COMPARE_WITH_TIMEOUT(link.Clients(), 3, 5000);
        QVERIFY(h.Connect());
        const uint32_t pressed = h.m_clock.TickCount();
        QCOMPARE(client.Say(":Me#"), QByteArray());
        QCOMPARE(h.m_line.Hex(), std::string("61 3C"));

        h.m_line.StallWrites(true);
        client.m_socket.write(":Qe#:GR#");
        QTRY_COMPARE_WITH_TIMEOUT(h.m_line.Writes().size(), size_t{3}, 5000);   // the stop, stalled
        QTRY_COMPARE_WITH_TIMEOUT(link.WaitingClients(), 1, 5000);
        other.m_socket.write(":GD#");
        QTRY_COMPARE_WITH_TIMEOUT(link.WaitingClients(), 2, 5000);
        for (int id : {IDC_RA_PLUS, IDC_GOTO, IDC_DISCONNECT, IDC_SPEED_FAST, IDC_OPTIONS})
            QVERIFY(!dlg.Control(id)->isEnabled());
        flood.m_socket.write(QByteArray(":GR#") + QByteArray(20000, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(flood.m_socket.state(), QAbstractSocket::UnconnectedState, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(link.Clients(), 2, 5000);
        QCOMPARE(client.m_socket.readAll() + other.m_socket.readAll(), QByteArray());

        h.m_line.StallWrites(false);
        QByteArray got, otherGot;
        bool freeAtAnswer = false;
        QVERIFY(QTest::qWaitFor(
            [&] {
                got += client.m_socket.readAll();
                if (got == "00:00:00#")
                    freeAtAnswer = dlg.Control(IDC_RA_PLUS)->isEnabled() && h.m_line.Hex() == "61 3C 6A 6A";
                return got.size() >= 9;
            },
            5000));
        QCOMPARE(got, QByteArray("00:00:00#"));
        QVERIFY(freeAtAnswer);
        QVERIFY(QTest::qWaitFor([&] { return (otherGot += other.m_socket.readAll()).size() >= 10; }, 5000));
        QCOMPARE(otherGot, QByteArray("+00*00:00#"));
        QCOMPARE(h.m_line.Writes()[2].at - pressed, 140u);
        QCOMPARE(link.WaitingClients(), 0);
        QVERIFY(dlg.Controller().m_hPort);
        QVERIFY(h.Dlg().m_errors.isEmpty());
    }

    // A stop that never gets onto the line holds the link only until the
    // controller's write limit gives the line up: the window then shows the
    // lost link and the waiting commands are taken (and refused as the
    // disconnected window refuses them).
    void aLineThatNeverTakesTheStopHoldsTheLinkOnlyUntilTheWriteLimit()
    {
        ControlDlgHarness h;
        CControlDlg& dlg = h.Start();
        CPlanetariumLink link(dlg);
        QVERIFY(link.Start(AnyFreePort()));
        Client client(link.Port());
        QVERIFY(h.Connect());
        QCOMPARE(client.Say(":Me#"), QByteArray());
        h.m_line.StallWrites(true);
        const uint32_t stalled = h.m_clock.TickCount();
        client.m_socket.write(":Qe#:Mw#:GR#");
        QByteArray got;
        bool lostAtAnswer = false;
        QVERIFY(QTest::qWaitFor(
            [&] {
                got += client.m_socket.readAll();
                if (got == "00:00:00#")
                    lostAtAnswer = !h.Dlg().m_errors.isEmpty() && !dlg.Controller().m_hPort;
                return got.size() >= 9;
            },
            30000));
        QCOMPARE(got, QByteArray("00:00:00#"));
        QVERIFY(lostAtAnswer);
        QCOMPARE(h.m_line.Hex(), std::string("61 3C"));   // no West byte
        // The stop's 140 ms, the write limit, the pause after the stop.
        QCOMPARE(h.m_clock.TickCount() - stalled, 140u + tavro::SerialPort::kWriteTimeoutMs + 30u);
        QCOMPARE(link.WaitingClients(), 0);
    }

    void whatADisabledControlRefusesIsRefused()
    {
        ControlDlgHarness h;
        CControlDlg& dlg = h.Start();
        CPlanetariumLink link(dlg);
        QVERIFY(link.Start(AnyFreePort()));
        Client client(link.Port());
        QCOMPARE(client.Say(":Sr05:30:00#:Sd-05*00:00#:MS#:Mn#:RM#:Q#"),
                 QByteArray("112not connected#"));
        QVERIFY(qobject_cast<QAbstractButton*>(dlg.Control(IDC_SPEED_SLOW))->isChecked());
        QCOMPARE(dlg.Edit(IDC_NEXT_RA_H)->text(), QString("0"));
        // A sync needs no board: the Current point takes it.
        QCOMPARE(client.Say(":CM#:GR#:GD#"), QByteArray("Coordinates matched#05:30:00#-05*00:00#"));
        QCOMPARE(h.m_line.Opens(), 0);
    }

    void titleTellsTheLinksStateAndFloodsAreClosed()
    {
        ControlDlgHarness h;
        CControlDlg& dlg = h.Start();
        CPlanetariumLink link(dlg);
        QVERIFY(link.Start(AnyFreePort()));
        const QString caption = dlg.windowTitle();
        {
            Client client(link.Port());
            QVERIFY(QTest::qWaitFor([&] { return link.Clients() == 1; }, 5000));
            QCOMPARE(dlg.windowTitle(), caption + QString::fromUtf8(" — planetarium linked"));
            client.m_socket.write(QByteArray(":GR#") + QByteArray(20000, 'x'));
            QVERIFY(QTest::qWaitFor(
                [&] { return client.m_socket.state() == QAbstractSocket::UnconnectedState; }, 5000));
        }
        QVERIFY(QTest::qWaitFor([&] { return dlg.windowTitle() == caption; }, 5000));

        ControlDlgHarness other;
        CControlDlg& otherDlg = other.Start();
        CPlanetariumLink taken(otherDlg);
        PlanetariumSettings same;
        same.listen = "127.0.0.1:" + std::to_string(link.Port());
        QVERIFY(!taken.Start(same));
        QVERIFY(otherDlg.windowTitle().startsWith(caption + QString::fromUtf8(" — planetarium link off: 127.0.0.1:")));
        CPlanetariumLink bad(otherDlg);
        same.listen = "4030";
        QVERIFY(!bad.Start(same));
        QCOMPARE(otherDlg.windowTitle(),
                 caption + QString::fromUtf8(" — planetarium link off: \"4030\" is not ADDRESS:PORT"));
    }

    // The settings file's group and the option that overrides it.
    void settingsGroupAndOverride()
    {
        ControlDlgHarness h;
        h.WriteSettings("[Planetarium]\nListen=\nEpoch=j2000\n");
        const PlanetariumSettings read = tavro::LoadPlanetariumSettings(h.m_path);
        QCOMPARE(read.listen, std::string());
        QVERIFY(read.j2000);
        CControlDlg& dlg = h.Start();
        QVERIFY(!tavro::StartPlanetariumLink(dlg, h.m_path, std::nullopt)->Listening());
        QVERIFY(tavro::StartPlanetariumLink(dlg, h.m_path, "127.0.0.1:0")->Listening());
        h.WriteSettings("[Options]\nConnection=1\n");
        QCOMPARE(tavro::LoadPlanetariumSettings(h.m_path).listen, std::string("127.0.0.1:4030"));
        QVERIFY(!tavro::StartPlanetariumLink(dlg, h.m_path, "off")->Listening());
        QCOMPARE(dlg.windowTitle(), QString("Tavro Control Tool 0.53"));
    }
};

QTEST_MAIN(PlanetariumLinkTest)
#include "planetarium_link_test.moc"
