// The goto's progress arithmetic: bar positions at chosen ticks, long
// gotos, the counter's wrap, and the time-left text.
#include <QTest>

#include "ui/widgets/goto_progress.h"

using namespace tavro::ui;

class GotoProgressTest : public QObject {
    Q_OBJECT

private slots:
    void positions_data()
    {
        QTest::addColumn<uint>("start");
        QTest::addColumn<uint>("travelMs");
        QTest::addColumn<uint>("elapsedMs");
        QTest::addColumn<int>("position");
        QTest::newRow("at the start") << 1000u << 123000u << 0u << 0;
        QTest::newRow("first tick") << 1000u << 123000u << 200u << 1;
        QTest::newRow("half way") << 1000u << 123000u << 61500u << 500;
        QTest::newRow("one ms short") << 1000u << 123000u << 122999u << 999;
        QTest::newRow("at the end") << 1000u << 123000u << 123000u << 1000;
        QTest::newRow("past the end") << 1000u << 123000u << 500000u << 1000;
        QTest::newRow("no travel at the start") << 5000u << 0u << 0u << 1000;
        QTest::newRow("no travel, first tick") << 5000u << 0u << 200u << 1000;
        // Beyond 4294967 ms the 32-bit product would overflow.
        QTest::newRow("long goto, 4500 s of 5000 s") << 7u << 5000000u << 4500000u << 900;
        QTest::newRow("long goto, just short") << 7u << 5000000u << 4999999u << 999;
        QTest::newRow("2 h goto, 1 h in") << 0u << 7200000u << 3600000u << 500;
        // The counter wraps during the goto.
        QTest::newRow("wrap, before it") << 0xFFFFF000u << 10000u << 100u << 10;
        QTest::newRow("wrap, after it") << 0xFFFFF000u << 10000u << 5000u << 500;
        QTest::newRow("wrap, at the end") << 0xFFFFF000u << 10000u << 10000u << 1000;
        QTest::newRow("start at the counter's top") << 0xFFFFFFFFu << 1000u << 1u << 1;
    }

    void positions()
    {
        QFETCH(uint, start);
        QFETCH(uint, travelMs);
        QFETCH(uint, elapsedMs);
        QFETCH(int, position);
        QCOMPARE(ProgressPosition(start + elapsedMs, start, start + travelMs), position);
    }

    // A goto of 80 minutes (an EQ-4 at top speed setting over a long
    // travel) moves steadily to 1000 and never falls back.
    void longGotoNeverFallsBack()
    {
        const uint32_t start = 4000000000u;   // wraps half way through, too
        const GotoTicks ticks = MakeGotoTicks(start, 4800, 10);
        int last = 0;
        for (uint32_t elapsed = 0; elapsed <= 4800000u + 400u; elapsed += 200u) {
            const int pos = ProgressPosition(start + elapsed, ticks.start, ticks.raEnd);
            QVERIFY2(pos >= last, qPrintable(QString("fell back at %1 ms").arg(elapsed)));
            QVERIFY(pos <= 1000);
            last = pos;
        }
        QCOMPARE(last, 1000);
    }

    void endTicks()
    {
        const GotoTicks t = MakeGotoTicks(0xFFFFFFFFu - 499u, 1, 123);
        QCOMPARE(t.start, 0xFFFFFFFFu - 499u);
        QCOMPARE(t.raEnd, 500u);   // 32-bit arithmetic, wrapped
        QCOMPARE(t.decEnd, 0xFFFFFFFFu - 499u + 123000u);
        const GotoTicks none = MakeGotoTicks(100, 0, -5);
        QCOMPARE(none.raEnd, 100u);
        QCOMPARE(none.decEnd, 100u);
    }

    void timeLeft_data()
    {
        QTest::addColumn<int>("leftMs");
        QTest::addColumn<QString>("text");
        QTest::newRow("61 500 ms") << 61500 << "Estimated time left: 1 min 1 sec";
        QTest::newRow("59 999 ms") << 59999 << "Estimated time left: 0 min 59 sec";
        QTest::newRow("one hour") << 3600000 << "Estimated time left: 60 min 0 sec";
        QTest::newRow("999 ms") << 999 << "Estimated time left: 0 min 0 sec";
        QTest::newRow("nothing left") << 0 << "Estimated time left: 0 min 0 sec";
        QTest::newRow("both ends passed") << -4200 << "Estimated time left: 0 min 0 sec";
    }

    void timeLeft()
    {
        QFETCH(int, leftMs);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(TimeLeftText(leftMs)), text);
    }

    void timeLeftTakesTheLongerAxis()
    {
        // RA ended 3 s ago, Dec has 61.5 s to go.
        QCOMPARE(TimeLeftMs(100000, 97000, 161500), 61500);
        QCOMPARE(TimeLeftMs(100000, 161500, 97000), 61500);
        // Both passed: the later end, as a negative number.
        QCOMPARE(TimeLeftMs(100000, 97000, 99000), -1000);
        // Across the counter's wrap.
        QCOMPARE(TimeLeftMs(0xFFFFFF00u, 0x100u, 0x50u), 0x200);
    }

    // The text is refreshed at the first tick and then every fifth; the
    // bars on every tick.
    void framesByTick()
    {
        const GotoTicks ticks = MakeGotoTicks(50000, 62, 10);
        QStringList texts;
        for (uint32_t n = 0; n < 11; ++n) {
            const uint32_t now = 50000 + (n + 1) * 200;
            const ProgressFrame f = ProgressAt(now, ticks, n);
            QCOMPARE(f.raPos, int((n + 1) * 200ull * 1000 / 62000));
            QCOMPARE(f.decPos, int((n + 1) * 200ull * 1000 / 10000));
            QCOMPARE(f.refreshText, n % 5 == 0);
            if (f.refreshText)
                texts << QString::fromStdString(f.text);
            else
                QVERIFY(f.text.empty());
        }
        QCOMPARE(texts, QStringList({"Estimated time left: 1 min 1 sec",
                                     "Estimated time left: 1 min 0 sec",
                                     "Estimated time left: 0 min 59 sec"}));
    }
};

QTEST_MAIN(GotoProgressTest)
#include "goto_progress_test.moc"
