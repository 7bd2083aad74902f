// A link that fails while the window is connected (adapter pulled, cable
// cut): under a slew, while idle, or under a goto, the window lets the port
// go, shows the disconnected state, says once which port was lost and that
// the mount may still be moving, and connects again without a Disconnect.
// A goto whose worker cannot start leaves the window idle.
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <thread>

#include "tests/ui/control_dlg_test_util.h"
#include "ui/widgets/hold_button.h"

using tavro::test::ControlDlgHarness;
using tavro::test::CTestControlDlg;

namespace {

QStringList CurrentPoint(CControlDlg& dlg)
{
    const PointFields& f = kCurrentPointFields;
    return {dlg.Edit(f.raH)->text(), dlg.Edit(f.raM)->text(), dlg.Edit(f.decD)->text()};
}

}  // namespace

class LinkLossTest : public QObject {
    Q_OBJECT

private slots:
    void lostLinkIsShownOnceAndConnectWorksAgain_data()
    {
        QTest::addColumn<QString>("when");
        QTest::newRow("slew byte cannot be written") << "slew";
        QTest::newRow("stop cannot be written") << "stop";
        QTest::newRow("hang-up while idle") << "idle";
        QTest::newRow("hang-up under a goto") << "goto";
    }
    void lostLinkIsShownOnceAndConnectWorksAgain()
    {
        QFETCH(QString, when);
        ControlDlgHarness h;
        CTestControlDlg& dlg = h.Start();
        QVERIFY(h.Connect());
        QVERIFY(!dlg.Control(IDC_CONNECT)->isEnabled());
        CHoldButton* raPlus = dlg.HoldButton(IDC_RA_PLUS);

        if (when == "slew") {
            h.m_line.FailWritesFrom(1);   // "a" goes out, the slew byte not
            QTest::mousePress(raPlus, Qt::LeftButton);
            h.Deliver();
        } else if (when == "stop") {
            QTest::mousePress(raPlus, Qt::LeftButton);
            h.Deliver();
            h.m_line.FailWritesFrom(2);
            QTest::mouseRelease(raPlus, Qt::LeftButton);
            h.Deliver();
        } else if (when == "idle") {
            h.m_line.HangUp();
            // Noticed by the window's own watch (it looks every 500 ms; the
            // limit leaves room for a busy machine).
            QTRY_VERIFY_WITH_TIMEOUT(dlg.Control(IDC_CONNECT)->isEnabled(), 10000);
        } else {
            h.m_line.AnswerStepFrames(-1);
            h.m_line.BlockWhenIdle(true);
            h.SetNextPoint(QStringLiteral("2"), QStringLiteral("+"), QStringLiteral("10"));
            QVERIFY(h.Click(IDC_GOTO));
            QVERIFY(h.m_line.WaitForWrites(2, 5000));   // "c" and the first frame
            h.m_line.HangUp();
        }
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Control(IDC_CONNECT)->isEnabled(), 10000);
        QCOMPARE(dlg.m_errors,
                 QStringList{QStringLiteral("The connection to the mount on COM1 (/dev/ttyS0) was lost.\n"
                                            "The mount may still be moving: check it, then connect again.")});
        QVERIFY(dlg.m_connectEnabledAtError);
        for (int id : {IDC_DISCONNECT, IDC_GOTO, IDC_RA_PLUS, IDC_PAUSE, IDC_K3CCD_MODE})
            QVERIFY2(!dlg.Control(id)->isEnabled(), qPrintable(QString::number(id)));
        // A lost goto does not claim the target.
        QCOMPARE(CurrentPoint(dlg), QStringList({"0", "0", "0"}));
        QVERIFY(qobject_cast<QProgressBar*>(dlg.Control(IDC_PROGRESS_DEC))->value() < 1000);
        QVERIFY(!dlg.Control(IDC_TIME_LEFT)->isVisibleTo(&dlg));

        // Said once: nothing more comes while the window stays as it is.
        const size_t writes = h.m_line.Writes().size();
        QTest::qWait(1200);
        QCOMPARE(dlg.m_errors.size(), 1);
        QCOMPARE(h.m_line.Writes().size(), writes);

        // Plugged in again: Connect works at once.
        h.m_line.FailWritesFrom(SIZE_MAX);
        h.m_line.Replug();
        h.m_line.ClearRecord();
        QVERIFY(h.Click(IDC_CONNECT));
        QCOMPARE(QString::fromStdString(h.m_line.Hex()), QStringLiteral("71 7A 4C 03 01 00"));
        QVERIFY(dlg.Control(IDC_DISCONNECT)->isEnabled());
        QCOMPARE(dlg.m_errors.size(), 1);
    }

    void gotoThatCannotStartLeavesTheWindowIdle()
    {
        ControlDlgHarness h;
        ControlDlgSeams seams = h.Seams();
        seams.gotoWorker = [](std::thread&, std::function<void()>) { return false; };
        CTestControlDlg& dlg = h.Start(std::move(seams));
        QVERIFY(h.Connect());
        h.SetNextPoint(QStringLiteral("2"), QStringLiteral("+"), QStringLiteral("10"));
        QVERIFY(h.Click(IDC_GOTO));
        QCOMPARE(dlg.m_errors.size(), 1);
        QVERIFY(dlg.m_errors[0].startsWith("The goto could not be started"));
        for (int id : {IDC_GOTO, IDC_DISCONNECT, IDC_RA_PLUS, IDC_OPTIONS})
            QVERIFY2(dlg.Control(id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(!dlg.Control(IDC_TIME_LEFT)->isVisibleTo(&dlg));
        QVERIFY(h.m_line.Writes().empty());
        // The hold buttons work as before.
        QTest::mousePress(dlg.HoldButton(IDC_RA_PLUS), Qt::LeftButton);
        h.Deliver();
        QCOMPARE(QString::fromStdString(h.m_line.Hex()), QStringLiteral("61 3C"));
    }
};

QTEST_MAIN(LinkLossTest)
#include "link_loss_test.moc"
