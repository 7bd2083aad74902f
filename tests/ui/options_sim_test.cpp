// The Options command against the board simulator: the real serial layer on
// two simulated boards behind their links, the real port discovery, a
// settings file of the test's own. What each board hears after OK, and what
// the next start does with the saved values.

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <thread>

#include "mount/mount_controller.h"
#include "tools/boardsim/board_simulator.h"
#include "ui/control_dlg.h"
#include "ui/options_dlg.h"
#include "ui/up_down.h"

namespace {

using tavro::sim::BoardSimulator;

class CDrivenControlDlg : public CControlDlg {
public:
    explicit CDrivenControlDlg(const std::string& path) : CControlDlg(path) {}

    int RunOptionsDialog(COptionsDlg& dlg) override
    {
        dlg.OnInitDialog();   // with the system's own port discovery
        for (int i = 0; i < dlg.m_comboPort->count(); ++i)
            m_offered << dlg.m_comboPort->itemText(i) + QLatin1Char('=') +
                             dlg.m_comboPort->itemData(i, Qt::ToolTipRole).toString();
        if (m_drive)
            m_drive(dlg);
        return dlg.result() == QDialog::Accepted ? COptionsDlg::IDOK : COptionsDlg::IDCANCEL;
    }

    void ShowError(const QString& text) override { m_errors << text; }

    std::function<void(COptionsDlg&)> m_drive;
    QStringList m_offered;
    QStringList m_errors;
};

// Port `port`, speed 150, clock 2, 3 autoguide steps, " Disable Dec+",
// EQ-4, gaps 0.25 and 1.5, connect on start; then OK.
void ChooseAndConfirm(COptionsDlg& dlg, int port)
{
    dlg.m_comboPort->setCurrentIndex(dlg.m_comboPort->findData(port));
    dlg.m_checkConnectOnStart->click();
    dlg.m_wndEQ4->click();
    dlg.m_editMaxGotoSpeed->selectAll();
    QTest::keyClicks(dlg.m_editMaxGotoSpeed, QStringLiteral("150"));
    QTest::keyClick(dlg.m_sliderClock, Qt::Key_Left);
    QTest::keyClick(dlg.m_sliderAutoguide, Qt::Key_Right);
    dlg.m_comboK3CCDGuide->setCurrentIndex(1);
    dlg.m_spinRaGap->Step(25);
    dlg.m_spinDecGap->Step(15);
    dlg.OnOK();
}

QStringList Names(const BoardSimulator& sim)
{
    QStringList names;
    for (const tavro::sim::Command& c : sim.Commands())
        names << QString::fromStdString(c.text);
    return names;
}

const QString kNewConfig = QStringLiteral("config speed=150 clock=2 guide-steps=3 k3ccd=1");

}  // namespace

class OptionsSimTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void offersTheLinkedBoards();
    void okOnTheSamePortReconfiguresWithoutReconnecting();
    void okOnAnotherPortMovesToTheSecondBoard();
    void okWhileDisconnectedSendsNothing();
    void nextStartLoadsTheSavedValues();

private:
    // Waits a little and then says whether the board heard nothing more.
    static bool StaysQuiet(const BoardSimulator& sim, size_t count)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        return sim.Commands().size() == count;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::string m_path, m_link1, m_link2;
    std::unique_ptr<BoardSimulator> m_sim1, m_sim2;
};

void OptionsSimTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("options.ini")).toStdString();
    m_link1 = m_dir->filePath(QStringLiteral("board1")).toStdString();
    m_link2 = m_dir->filePath(QStringLiteral("board2")).toStdString();
    tavro::sim::SimOptions options;
    options.timeScale = 0;
    m_sim1 = std::make_unique<BoardSimulator>(options);
    m_sim2 = std::make_unique<BoardSimulator>(options);
    QVERIFY2(m_sim1->Start(m_link1), m_sim1->Error().c_str());
    QVERIFY2(m_sim2->Start(m_link2), m_sim2->Error().c_str());
    QFile file(QString::fromStdString(m_path));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("[Ports]\nCOM1=%1\nCOM2=%2\n")
                   .arg(QString::fromStdString(m_link1), QString::fromStdString(m_link2))
                   .toUtf8());
}

void OptionsSimTest::cleanup()
{
    m_sim1.reset();
    m_sim2.reset();
    m_dir.reset();
}

void OptionsSimTest::offersTheLinkedBoards()
{
    CDrivenControlDlg w(m_path);
    w.OnInitDialog();
    w.OnOptions();   // not confirmed
    QVERIFY2(w.m_offered.contains(QStringLiteral("COM1=") + QString::fromStdString(m_link1)),
             qPrintable(w.m_offered.join(' ')));
    QVERIFY(w.m_offered.contains(QStringLiteral("COM2=") + QString::fromStdString(m_link2)));
    // With the second board gone its number is no longer offered.
    m_sim2->Stop();
    w.m_offered.clear();
    w.OnOptions();
    QVERIFY(w.m_offered.contains(QStringLiteral("COM1=") + QString::fromStdString(m_link1)));
    QVERIFY(!w.m_offered.join(' ').contains(QStringLiteral("COM2=")));
}

void OptionsSimTest::okOnTheSamePortReconfiguresWithoutReconnecting()
{
    CDrivenControlDlg w(m_path);
    w.OnInitDialog();
    w.OnConnect();
    QVERIFY(w.m_controller.m_hPort);
    QVERIFY(m_sim1->WaitForCommands(2, 3000));
    // In the manual mode a reconnect would show: "q" and a zero byte first.
    w.m_controller.SelectMode(MODE_MANUAL, "a");
    QVERIFY(m_sim1->WaitForCommands(3, 3000));
    m_sim1->ClearLog();

    w.m_drive = [](COptionsDlg& dlg) { ChooseAndConfirm(dlg, 1); };
    w.OnOptions();

    QVERIFY(m_sim1->WaitForCommands(2, 3000));
    QVERIFY(StaysQuiet(*m_sim1, 2));
    QCOMPARE(Names(*m_sim1), (QStringList{QStringLiteral("leave-mode"), kNewConfig}));
    QCOMPARE(m_sim1->Config().maxGotoSpeed, 150);
    QVERIFY(m_sim2->Commands().empty());
    QVERIFY(w.m_errors.isEmpty());
}

void OptionsSimTest::okOnAnotherPortMovesToTheSecondBoard()
{
    CDrivenControlDlg w(m_path);
    w.OnInitDialog();
    w.OnConnect();
    QVERIFY(m_sim1->WaitForCommands(2, 3000));
    // Leave the board in its manual mode, so that the disconnect speaks.
    w.m_controller.SelectMode(MODE_MANUAL, "a");
    QVERIFY(m_sim1->WaitForCommands(3, 3000));
    m_sim1->ClearLog();

    w.m_drive = [](COptionsDlg& dlg) { ChooseAndConfirm(dlg, 2); };
    w.OnOptions();

    QVERIFY(m_sim1->WaitForCommands(2, 3000));
    QCOMPARE(Names(*m_sim1), (QStringList{QStringLiteral("leave-mode"), QStringLiteral("zero")}));
    QVERIFY(m_sim2->WaitForCommands(2, 3000));
    QCOMPARE(Names(*m_sim2), (QStringList{QStringLiteral("leave-mode"), kNewConfig}));
    QCOMPARE(w.m_controller.m_nPort, 2);
    QVERIFY(w.m_errors.isEmpty());

    // The first board's port is free again: another program may open it.
    auto other = tavro::MakePosixSerialPort();
    QCOMPARE(other->Open(1, w.m_controller.m_portMap), 0);
    other->Close();
    // The second is held by the window.
    auto third = tavro::MakePosixSerialPort();
    QVERIFY(third->Open(2, w.m_controller.m_portMap) != 0);
}

void OptionsSimTest::okWhileDisconnectedSendsNothing()
{
    CDrivenControlDlg w(m_path);
    w.OnInitDialog();
    w.m_drive = [](COptionsDlg& dlg) { ChooseAndConfirm(dlg, 2); };
    w.OnOptions();
    QVERIFY(StaysQuiet(*m_sim1, 0));
    QVERIFY(m_sim2->Commands().empty());
    QVERIFY(!w.m_controller.m_hPort);
    QCOMPARE(w.m_nComPort, 2);
}

void OptionsSimTest::nextStartLoadsTheSavedValues()
{
    {
        CDrivenControlDlg w(m_path);
        w.OnInitDialog();
        w.m_drive = [](COptionsDlg& dlg) { ChooseAndConfirm(dlg, 2); };
        w.OnOptions();
    }
    QFile file(QString::fromStdString(m_path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const char* expected : {"Connection=2", "ConnectOnStart=1", "ClockSpeedCorrection=2",
                                 "RaGap=0.25", "DecGap=1.5", "MaxGotoSpeed=150",
                                 "AutoguideSteps=3", "K3CCDOption=1", "DriverMode=EQ4"})
        QVERIFY2(lines.contains(QByteArray(expected)), expected);
    // The port map stays in the file.
    QVERIFY(lines.contains(QByteArray("COM1=") + QByteArray::fromStdString(m_link1)));

    // Connect-on-start is now on: the next start connects to the second
    // board and configures it with the saved values.
    CDrivenControlDlg next(m_path);
    next.OnInitDialog();
    QVERIFY(next.m_controller.m_hPort);
    QVERIFY(m_sim2->WaitForCommands(2, 3000));
    QCOMPARE(Names(*m_sim2), (QStringList{QStringLiteral("leave-mode"), kNewConfig}));
    QCOMPARE(next.m_controller.m_bEQ5, 0);
    QCOMPARE(next.m_controller.m_dRaGap, 0.25);
    QCOMPARE(next.m_controller.m_dDecGap, 1.5);
    QVERIFY(m_sim1->Commands().empty());
}

QTEST_MAIN(OptionsSimTest)
#include "options_sim_test.moc"
