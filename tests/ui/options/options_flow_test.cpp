// The Options command of the main window on a simulated line and clock:
// what the dialog is given, a reconnect that fails, what OK saves and the
// next start loads, a save that fails, and that Cancel changes nothing
// anywhere. What OK sends on the same port, on another port and while
// disconnected is checked end to end against two simulated boards.

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <functional>

#include "mount/mount_controller.h"
#include "platform/clock.h"
#include "tests/support/fake_port.h"
#include "tests/ui/control_dlg_test_util.h"
#include "ui/window/control_dlg.h"
#include "ui/widgets/hold_button.h"
#include "ui/options/options_dlg.h"
#include "ui/widgets/up_down.h"

namespace {

using tavro::SimulatedClock;
using tavro::test::FakeLine;

// A window whose options dialog is driven by the test instead of a modal
// loop, and whose error box only records its text.
class CDrivenControlDlg : public CControlDlg {
public:
    CDrivenControlDlg(SimulatedClock& clock, FakeLine& line, const std::string& path)
        : CControlDlg(path, ControlDlgSeams{&clock, line.Factory(), {}, {}, {}, {}})
    {
    }

    int RunOptionsDialog(COptionsDlg& dlg) override
    {
        ++m_runs;
        dlg.SetPortLister([](const tavro::PortMap&) {
            return std::vector<tavro::PresentPort>{{1, "/dev/ttyS0"}, {2, "/dev/ttyS1"}};
        });
        dlg.InitialiseOnce();
        m_seenPort = dlg.m_nComPort;
        m_seenFlag = dlg.m_bConnectOnStart;
        m_seenController = dlg.m_pController;
        if (m_drive)
            m_drive(dlg);
        return dlg.result() == QDialog::Accepted ? IDOK : IDCANCEL;
    }

    void ShowError(const QString& text) override { m_errors << text; }

    std::function<void(COptionsDlg&)> m_drive;
    int m_runs = 0;
    int m_seenPort = 0;
    bool m_seenFlag = false;
    const CMountController* m_seenController = nullptr;
    QStringList m_errors;
};

// Moves every control of the dialog away from the default settings:
// port 2, connect on start, EQ-4, speed 150, clock 2, 3 autoguide steps,
// " Disable Dec+", RA gap 1.50, Dec gap 2.5.
void ChangeEverything(COptionsDlg& dlg, int port = 2)
{
    dlg.m_comboPort->setCurrentIndex(dlg.m_comboPort->findData(port));
    dlg.m_checkConnectOnStart->click();
    dlg.m_wndEQ4->click();
    dlg.m_editMaxGotoSpeed->selectAll();
    QTest::keyClicks(dlg.m_editMaxGotoSpeed, QStringLiteral("150"));
    QTest::keyClick(dlg.m_sliderClock, Qt::Key_Left);
    QTest::keyClick(dlg.m_sliderAutoguide, Qt::Key_Right);
    dlg.m_comboK3CCDGuide->setCurrentIndex(1);
    for (int i = 0; i < 150; ++i)
        dlg.m_spinRaGap->Step(1);
    for (int i = 0; i < 25; ++i)
        dlg.m_spinDecGap->Step(1);
}

QByteArray ReadFile(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

QString RadioText(const CControlDlg& window, int id)
{
    return qobject_cast<QRadioButton*>(window.Control(id))->text();
}

struct Fixture {
    SimulatedClock clock{50000};
    FakeLine line{clock};
    QTemporaryDir dir;
    std::string path = dir.filePath(QStringLiteral("options.ini")).toStdString();
    std::unique_ptr<CDrivenControlDlg> window;

    CDrivenControlDlg& Start()
    {
        window = std::make_unique<CDrivenControlDlg>(clock, line, path);
        window->InitialiseOnce();
        return *window;
    }

    [[nodiscard]] bool WriteSettings(const QByteArray& ini)
    {
        QFile file(QString::fromStdString(path));
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(ini) == ini.size();
    }

    [[nodiscard]] bool Click(int id) { return tavro::test::ClickButton(*window, id); }

    // Opens the options dialog again and cancels it: what it showed of the
    // window's port and flag is in m_seenPort and m_seenFlag.
    [[nodiscard]] bool LookAtOptions()
    {
        window->m_drive = [](COptionsDlg& dlg) { dlg.reject(); };
        return Click(IDC_OPTIONS);
    }
};

}  // namespace

class OptionsFlowTest : public QObject {
    Q_OBJECT

private slots:
    void dialogGetsTheWindowsPortFlagAndController();
    void failedReconnectIsShownAndTheNewPortKept();
    void okSavesAllNineValuesAndTheNextStartLoadsThem();
    void failedSaveIsShownOnceAndTheSettingsStayInForce();
    void largestDecGapOfferedSurvivesARestart();
    void cancelChangesNothing();
};

void OptionsFlowTest::dialogGetsTheWindowsPortFlagAndController()
{
    Fixture f;
    QVERIFY(f.WriteSettings("[Options]\nConnection=2\nConnectOnStart=1\n"));
    CDrivenControlDlg& w = f.Start();
    QVERIFY(f.Click(IDC_OPTIONS));
    QCOMPARE(w.m_runs, 1);
    QCOMPARE(w.m_seenPort, 2);
    QVERIFY(w.m_seenFlag);
    QCOMPARE(w.m_seenController, &w.Controller());
}

void OptionsFlowTest::failedReconnectIsShownAndTheNewPortKept()
{
    Fixture f;
    CDrivenControlDlg& w = f.Start();
    QVERIFY(f.Click(IDC_CONNECT));
    f.line.SetOpenResult(2, ENOENT);
    w.m_drive = [](COptionsDlg& dlg) {
        ChangeEverything(dlg, 2);
        dlg.OnOK();
    };
    QVERIFY(f.Click(IDC_OPTIONS));
    QCOMPARE(w.m_errors,
             QStringList{QStringLiteral("Can't find port COM2\nThere is no device /dev/ttyS1.")});
    QVERIFY(!w.Controller().m_hPort);
    QVERIFY(w.Control(IDC_CONNECT)->isEnabled());
    // The settings stay changed and saved.
    QCOMPARE(w.Controller().Settings().maxGotoSpeed, 150);
    QVERIFY(ReadFile(f.path).contains("Connection=2"));
}

void OptionsFlowTest::okSavesAllNineValuesAndTheNextStartLoadsThem()
{
    Fixture f;
    CDrivenControlDlg& w = f.Start();
    QCOMPARE(ReadFile(f.path), QByteArray("<none>"));   // nothing saved at start
    w.m_drive = [](COptionsDlg& dlg) {
        ChangeEverything(dlg, 2);
        dlg.OnOK();
    };
    QVERIFY(f.Click(IDC_OPTIONS));

    // The speed buttons are labelled for the EQ-4 now chosen.
    QCOMPARE(RadioText(w, IDC_SPEED_SLOW), QStringLiteral("4x"));
    QCOMPARE(RadioText(w, IDC_SPEED_FAST), QStringLiteral("8x"));
    const QByteArray ini = ReadFile(f.path);
    const QList<QByteArray> lines = ini.split('\n');
    for (const char* expected : {"Connection=2", "ConnectOnStart=1", "ClockSpeedCorrection=2",
                                 "RaGap=1.50", "DecGap=2.5", "MaxGotoSpeed=150",
                                 "AutoguideSteps=3", "K3CCDOption=1", "DriverMode=EQ4"})
        QVERIFY2(lines.contains(QByteArray(expected)), expected);

    // The next start loads every value (and, with connect-on-start now on,
    // connects on port 2 at once).
    f.window.reset();
    f.line.ClearRecord();
    CDrivenControlDlg& next = f.Start();
    const CMountController& c = next.Controller();
    QCOMPARE(c.Settings().clockCorrection, 2);
    QCOMPARE(c.Settings().raGapMinutes, 1.5);
    QCOMPARE(c.Settings().decGapArcmin, 2.5);
    QCOMPARE(c.Settings().maxGotoSpeed, 150);
    QCOMPARE(c.Settings().autoguideSteps, 3);
    QCOMPARE(c.Settings().k3ccdOption, 1);
    QCOMPARE(c.Settings().model, tavro::MountModel::EQ4);
    QVERIFY(c.m_hPort);
    QCOMPARE(c.m_nPort, 2);
    QCOMPARE(RadioText(next, IDC_SPEED_SLOW), QStringLiteral("4x"));
}

void OptionsFlowTest::failedSaveIsShownOnceAndTheSettingsStayInForce()
{
    Fixture f;
    // A link at the settings path: the save is refused and the file the
    // link names is left as it was.
    const QString target = f.dir.filePath(QStringLiteral("elsewhere"));
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not settings\n");
    }
    QVERIFY(QFile::link(target, QString::fromStdString(f.path)));
    CDrivenControlDlg& w = f.Start();
    QVERIFY(f.Click(IDC_CONNECT));
    f.line.ClearRecord();
    w.m_drive = [](COptionsDlg& dlg) {
        ChangeEverything(dlg, 1);
        dlg.OnOK();
    };
    QVERIFY(f.Click(IDC_OPTIONS));

    QCOMPARE(w.m_errors.size(), 1);
    QCOMPARE(w.m_errors.front(), QStringLiteral("The settings could not be saved to %1:\nIt is a symbolic link.\n"
                                                 "They stay in force until the program ends.")
                                     .arg(QString::fromStdString(f.path)));
    QCOMPARE(ReadFile(target.toStdString()), QByteArray("not settings\n"));
    QCOMPARE(QFile::symLinkTarget(QString::fromStdString(f.path)), target);
    // The settings are in force: the board got them, the window has them.
    QCOMPARE(QString::fromStdString(f.line.Hex()), QStringLiteral("71 7A 96 02 02 01"));
    QCOMPARE(w.Controller().Settings().maxGotoSpeed, 150);
    QCOMPARE(w.Controller().Settings().decGapArcmin, 2.5);
    QVERIFY(f.LookAtOptions());
    QVERIFY(w.m_seenFlag);
}

void OptionsFlowTest::largestDecGapOfferedSurvivesARestart()
{
    Fixture f;
    CDrivenControlDlg& w = f.Start();
    w.m_drive = [](COptionsDlg& dlg) {
        dlg.m_spinDecGap->Step(dlg.m_spinDecGap->High());
        dlg.OnOK();
    };
    QVERIFY(f.Click(IDC_OPTIONS));
    QCOMPARE(w.Controller().Settings().decGapArcmin, 60.0);
    f.window.reset();
    QCOMPARE(f.Start().Controller().Settings().decGapArcmin, 60.0);
}

void OptionsFlowTest::cancelChangesNothing()
{
    Fixture f;
    {
        QFile file(QString::fromUtf8(f.path.c_str()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Options]\nConnection=1\nMaxGotoSpeed=90\n[Ports]\nCOM2=/dev/ttyS1\n");
    }
    const QByteArray before = ReadFile(f.path);
    CDrivenControlDlg& w = f.Start();
    QVERIFY(f.Click(IDC_CONNECT));
    f.line.ClearRecord();
    const int opens = f.line.Opens(), closes = f.line.Closes();
    w.m_drive = [](COptionsDlg& dlg) {
        ChangeEverything(dlg, 2);
        dlg.reject();
    };
    QVERIFY(f.Click(IDC_OPTIONS));
    QCOMPARE(w.m_runs, 1);
    QCOMPARE(ReadFile(f.path), before);
    QVERIFY(f.line.Writes().empty());
    QCOMPARE(f.line.Opens(), opens);
    QCOMPARE(f.line.Closes(), closes);
    QVERIFY(f.LookAtOptions());
    QCOMPARE(w.m_seenPort, 1);
    QVERIFY(!w.m_seenFlag);
    const CMountController& c = w.Controller();
    QCOMPARE(c.Settings().maxGotoSpeed, 90);
    QCOMPARE(c.Settings().clockCorrection, 3);
    QCOMPARE(c.Settings().autoguideSteps, 2);
    QCOMPARE(c.Settings().k3ccdOption, 0);
    QCOMPARE(c.Settings().raGapMinutes, 0.0);
    QCOMPARE(c.Settings().decGapArcmin, 0.0);
    QCOMPARE(c.Settings().model, tavro::MountModel::EQ5);
    QCOMPARE(RadioText(w, IDC_SPEED_SLOW), QStringLiteral("2.5x"));
}

QTEST_MAIN(OptionsFlowTest)
#include "options_flow_test.moc"
