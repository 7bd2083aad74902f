// The gamepad's mapping as a pure unit: controller readings in, the
// window's actions out, recorded by a target that can refuse presses as a
// disabled window does.

#include <QStringList>
#include <QTest>

#include "ui/gamepad/gamepad_mapping.h"
#include "ui/window/control_dlg_ids.h"

using tavro::GamepadSettings;
using tavro::ui::CGamepadMapper;
using tavro::ui::GamepadState;
using tavro::ui::GamepadTarget;

namespace {

QString Name(int id)
{
    switch (id) {
    case IDC_RA_PLUS: return "Ra+";
    case IDC_RA_MINUS: return "Ra-";
    case IDC_DEC_PLUS: return "Dec+";
    case IDC_DEC_MINUS: return "Dec-";
    case IDC_PAUSE: return "Pause";
    case IDC_FOCUS_SLOW_PLUS: return "Slow+";
    case IDC_FOCUS_SLOW_MINUS: return "Slow-";
    case IDC_FOCUS_FAST_PLUS: return "Fast+";
    case IDC_FOCUS_FAST_MINUS: return "Fast-";
    case IDC_SPEED_SLOW: return "slow";
    case IDC_SPEED_FAST: return "fast";
    case 0: return "";
    }
    return QString::number(id);
}

class RecordingTarget : public GamepadTarget {
public:
    bool Press(int id, int speed) override
    {
        m_log << (QStringLiteral("press ") + Name(id) + (speed ? " " + Name(speed) : QString())) +
                     (m_refuse ? " refused" : "");
        return !m_refuse;
    }
    void Release(int id) override { m_log << "release " + Name(id); }
    void ChooseSpeed(int speed) override { m_log << "speed " + Name(speed); }
    void StopEverything() override { m_log << "stop"; }
    void GotoNext() override { m_log << "goto"; }

    // The actions since the last call, joined.
    QString Take()
    {
        const QString text = m_log.join(", ");
        m_log.clear();
        return text;
    }

    QStringList m_log;
    bool m_refuse = false;
};

GamepadState Stick(double x, double y)
{
    GamepadState s;
    s.stickX = x;
    s.stickY = y;
    return s;
}

// A reading given as a short text: "x=0.5 y=-0.3 lt=0.6 rt=0.6 up down
// left right A R1 B=1 start=1" (B and start: press counts).
GamepadState Reading(const QString& text)
{
    GamepadState s;
    for (const QString& part : text.split(' ', Qt::SkipEmptyParts)) {
        const QString key = part.section('=', 0, 0);
        const double value = part.section('=', 1).toDouble();
        if (key == "x") s.stickX = value;
        else if (key == "y") s.stickY = value;
        else if (key == "lt") s.leftTrigger = value;
        else if (key == "rt") s.rightTrigger = value;
        else if (key == "up") s.padUp = true;
        else if (key == "down") s.padDown = true;
        else if (key == "left") s.padLeft = true;
        else if (key == "right") s.padRight = true;
        else if (key == "A") s.a = true;
        else if (key == "R1") s.rightShoulder = true;
        else if (key == "B") s.stopPresses = static_cast<uint32_t>(value);
        else if (key == "start") s.gotoPresses = static_cast<uint32_t>(value);
        else qFatal("unknown reading part %s", qPrintable(part));
    }
    return s;
}

}  // namespace

class GamepadMappingTest : public QObject {
    Q_OBJECT

private slots:
    // One reading from rest: the press it makes, with the default dead zone
    // 0.25 and FastAbove 0.85.
    void readingFromRest_data()
    {
        QTest::addColumn<QString>("reading");
        QTest::addColumn<QString>("actions");
        QTest::newRow("at rest") << "" << "";
        QTest::newRow("on the dead zone") << "x=0.25" << "";
        QTest::newRow("inside the dead zone, both axes") << "x=-0.24 y=0.24" << "";
        QTest::newRow("past the dead zone right") << "x=0.26" << "press Ra- slow";
        QTest::newRow("left") << "x=-0.5" << "press Ra+ slow";
        QTest::newRow("up") << "y=-0.5" << "press Dec+ slow";
        QTest::newRow("down") << "y=0.5" << "press Dec- slow";
        QTest::newRow("at FastAbove") << "x=0.85" << "press Ra- slow";
        QTest::newRow("beyond FastAbove") << "x=0.86" << "press Ra- fast";
        QTest::newRow("full travel down") << "y=1" << "press Dec- fast";
        QTest::newRow("diagonal, RA larger") << "x=0.6 y=-0.4" << "press Ra- slow";
        QTest::newRow("diagonal, Dec larger") << "x=0.3 y=-0.9" << "press Dec+ fast";
        QTest::newRow("exact diagonal takes RA") << "x=-0.5 y=0.5" << "press Ra+ slow";
        QTest::newRow("shoulder forces fast") << "x=0.3 R1" << "press Ra- fast";
        QTest::newRow("pad up") << "up" << "press Dec+ slow";
        QTest::newRow("pad right") << "right" << "press Ra- slow";
        QTest::newRow("pad diagonal takes RA") << "down left" << "press Ra+ slow";
        QTest::newRow("pad up and down cancel") << "up down" << "";
        QTest::newRow("pad with the shoulder") << "left R1" << "press Ra+ fast";
        QTest::newRow("pad before the stick") << "up x=0.9" << "press Dec+ slow";
        QTest::newRow("A") << "A" << "press Pause";
        QTest::newRow("A before a slew") << "A x=0.9" << "press Pause";
        QTest::newRow("left trigger") << "lt=0.5" << "press Slow-";
        QTest::newRow("right trigger") << "rt=0.3" << "press Slow+";
        QTest::newRow("trigger inside the dead zone") << "rt=0.25" << "";
        QTest::newRow("trigger with the shoulder") << "rt=0.5 R1" << "press Fast+, speed fast";
        QTest::newRow("both triggers, the further") << "lt=0.9 rt=0.5" << "press Slow-";
        QTest::newRow("a slew before the focuser") << "lt=0.9 y=0.3" << "press Dec- slow";
        QTest::newRow("shoulder alone") << "R1" << "speed fast";
        QTest::newRow("Start") << "start=1" << "goto";
        QTest::newRow("B") << "B=1" << "stop";
        QTest::newRow("B and Start together: only the stop") << "B=1 start=1" << "stop";
    }

    void readingFromRest()
    {
        QFETCH(QString, reading);
        QFETCH(QString, actions);
        RecordingTarget target;
        CGamepadMapper mapper(target, GamepadSettings{});
        mapper.Connect(GamepadState{});
        mapper.Apply(Reading(reading));
        QCOMPARE(target.Take(), actions);
    }

    // Readings in turn, each with the actions it makes.
    void sequence_data()
    {
        QTest::addColumn<QStringList>("readings");
        QTest::addColumn<QStringList>("actions");
        QTest::newRow("press and release at the dead zone")
            << QStringList{"x=-0.3", "x=-0.6", "x=-0.25", ""}
            << QStringList{"press Ra+ slow", "", "release Ra+", ""};
        QTest::newRow("deflection changes the speed while held")
            << QStringList{"y=0.5", "y=0.9", "y=1", "y=0.7", "y=0"}
            << QStringList{"press Dec- slow", "press Dec- fast", "", "press Dec- slow", "release Dec-"};
        QTest::newRow("shoulder held and let go under a slew")
            << QStringList{"x=0.5", "x=0.5 R1", "x=0.5", ""}
            << QStringList{"press Ra- slow", "press Ra- fast", "press Ra- slow", "release Ra-"};
        QTest::newRow("shoulder let go at full deflection stays fast")
            << QStringList{"x=1 R1", "x=1", "x=0.5"}
            << QStringList{"press Ra- fast", "", "press Ra- slow"};
        QTest::newRow("shoulder alone sets the speed buttons")
            << QStringList{"R1", "", "R1 up", "up"}
            << QStringList{"speed fast", "speed slow", "press Dec+ fast", "press Dec+ slow"};
        QTest::newRow("shoulder switches the focuser's speed")
            << QStringList{"lt=0.6", "lt=0.6 R1", "lt=0.6", "lt=0"}
            << QStringList{"press Slow-", "press Fast-, speed fast", "press Slow-, speed slow",
                           "release Slow-"};
        QTest::newRow("a diagonal tie keeps the axis held")
            << QStringList{"y=-0.5", "x=0.5 y=-0.5", "x=0.6 y=-0.5", "x=0.6 y=-0.6"}
            << QStringList{"press Dec+ slow", "", "press Ra- slow", ""};
        QTest::newRow("two axes: the larger takes over")
            << QStringList{"x=-0.4", "x=-0.4 y=0.7", "x=-0.8 y=0.7", "y=0.7", "y=0.1"}
            << QStringList{"press Ra+ slow", "press Dec- slow", "press Ra+ slow", "press Dec- slow",
                           "release Dec-"};
        QTest::newRow("pause over a slew, the slew again after it")
            << QStringList{"x=0.5", "x=0.5 A", "x=0.5", ""}
            << QStringList{"press Ra- slow", "press Pause", "press Ra- slow", "release Ra-"};
        QTest::newRow("pad over the stick, the stick after it")
            << QStringList{"x=0.5", "x=0.5 up", "x=0.5"}
            << QStringList{"press Ra- slow", "press Dec+ slow", "press Ra- slow"};
        QTest::newRow("B ends a slew; the stick acts again only after its release")
            << QStringList{"x=0.5", "x=0.5 B=1", "x=0.9 B=1", "B=1", "x=0.5 B=1"}
            << QStringList{"press Ra- slow", "stop", "", "", "press Ra- slow"};
        QTest::newRow("B ends a focus run and a pause")
            << QStringList{"rt=0.9 A", "rt=0.9 A B=1", "B=1", "rt=0.9 B=1"}
            << QStringList{"press Pause", "stop", "", "press Slow+"};
        QTest::newRow("B with nothing held")
            << QStringList{"B=1", "B=2"} << QStringList{"stop", "stop"};
        QTest::newRow("Start while a slew is held starts nothing")
            << QStringList{"x=0.5", "x=0.5 start=1", "start=1", "start=2"}
            << QStringList{"press Ra- slow", "", "release Ra-", "goto"};
    }

    void sequence()
    {
        QFETCH(QStringList, readings);
        QFETCH(QStringList, actions);
        QCOMPARE(readings.size(), actions.size());
        RecordingTarget target;
        CGamepadMapper mapper(target, GamepadSettings{});
        mapper.Connect(GamepadState{});
        for (int i = 0; i < readings.size(); ++i) {
            mapper.Apply(Reading(readings[i]));
            QCOMPARE(target.Take(), actions[i]);
        }
    }

    // The settings' thresholds, not the defaults, decide.
    void thresholdsComeFromTheSettings()
    {
        RecordingTarget target;
        CGamepadMapper mapper(target, GamepadSettings{0.1, 0.5});
        mapper.Connect(GamepadState{});
        mapper.Apply(Stick(0.11, 0));
        QCOMPARE(target.Take(), QString("press Ra- slow"));
        mapper.Apply(Stick(0.51, 0));
        QCOMPARE(target.Take(), QString("press Ra- fast"));
        mapper.Apply(Stick(0.1, 0));
        QCOMPARE(target.Take(), QString("release Ra-"));
    }

    // Inputs in use when the controller is found do nothing until let go:
    // a trigger held down or a stick that rests off centre starts nothing.
    void inputsInUseWhenFoundAreSpent()
    {
        RecordingTarget target;
        CGamepadMapper mapper(target, GamepadSettings{});
        mapper.Connect(Reading("lt=1 x=0.6"));
        mapper.Apply(Reading("lt=1 x=0.9"));
        QCOMPARE(target.Take(), QString());
        mapper.Apply(Reading("x=0.9"));
        QCOMPARE(target.Take(), QString());
        mapper.Apply(Reading("lt=0.7 x=0.9"));
        QCOMPARE(target.Take(), QString("press Slow-"));
        mapper.Apply(Reading("lt=0.7"));
        mapper.Apply(Reading("lt=0.7 x=0.4"));
        QCOMPARE(target.Take(), QString("press Ra- slow"));
    }

    // A press the window refuses (a goto runs, no connection) is not tried
    // again by the same input, however it moves, until it is let go.
    void refusedPressIsSpentUntilLetGo()
    {
        RecordingTarget target;
        CGamepadMapper mapper(target, GamepadSettings{});
        mapper.Connect(GamepadState{});
        target.m_refuse = true;
        mapper.Apply(Stick(0.5, 0));
        QCOMPARE(target.Take(), QString("press Ra- slow refused"));
        target.m_refuse = false;
        mapper.Apply(Stick(0.9, 0));
        mapper.Apply(Stick(0, 0.9));
        QCOMPARE(target.Take(), QString());
        QCOMPARE(mapper.Held(), 0);
        mapper.Apply(Stick(0, 0));
        mapper.Apply(Stick(0, 0.9));
        QCOMPARE(target.Take(), QString("press Dec- fast"));
    }

    // A held slew whose change of speed is refused ends: the operator's
    // input has moved on and nothing else holds the motion.
    void refusedRepressReleasesTheHeldSlew()
    {
        RecordingTarget target;
        CGamepadMapper mapper(target, GamepadSettings{});
        mapper.Connect(GamepadState{});
        mapper.Apply(Stick(0.5, 0));
        target.Take();
        target.m_refuse = true;
        mapper.Apply(Stick(0.9, 0));
        QCOMPARE(target.Take(), QString("press Ra- fast refused, release Ra-"));
        QCOMPARE(mapper.Held(), 0);
    }

    // Unplugged (or another controller found): what was held is released
    // at once, and readings of no controller do nothing.
    void disconnectReleasesWhatIsHeld()
    {
        RecordingTarget target;
        CGamepadMapper mapper(target, GamepadSettings{});
        mapper.Connect(GamepadState{});
        mapper.Apply(Reading("right"));
        target.Take();
        mapper.Disconnect();
        QCOMPARE(target.Take(), QString("release Ra-"));
        mapper.Apply(Reading("left"));
        mapper.Disconnect();
        QCOMPARE(target.Take(), QString());
        mapper.Connect(Reading("left"));
        mapper.Apply(Reading("left"));
        QCOMPARE(target.Take(), QString());
    }
};

QTEST_GUILESS_MAIN(GamepadMappingTest)
#include "gamepad_mapping_test.moc"
