// Which ports the options dialog offers: mapped entries whose path exists
// and fixed-rule devices the system reports, listed ascending as "COMn"
// with the number as item data and the device path as tool tip.

#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

#include "mount/mount_controller.h"
#include "platform/port_discovery.h"
#include "ui/options/options_dlg.h"

namespace {

using Ports = std::vector<tavro::PresentPort>;

// The discovery with a fixed set of reported devices and existing paths.
Ports Discover(const tavro::PortMap& map, const std::vector<std::string>& reported,
               const std::vector<std::string>& existing)
{
    return tavro::PresentPorts(
        map, [reported] { return reported; },
        [existing](const std::string& path) {
            return std::find(existing.begin(), existing.end(), path) != existing.end();
        });
}

QStringList Items(const QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

}  // namespace

Q_DECLARE_METATYPE(tavro::PortMap)

class OptionsPortsTest : public QObject {
    Q_OBJECT

private slots:
    void presentPorts_data();
    void presentPorts();
    void mappedPathsAreProbedOnTheFileSystem();
    void listFromMappedAndDiscoveredPorts();
    void listSelectsNothingWhenTheWindowsPortIsAbsent();
    void emptyListKeepsTheControllersPort();
};

void OptionsPortsTest::presentPorts_data()
{
    QTest::addColumn<tavro::PortMap>("map");
    QTest::addColumn<QStringList>("reported");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("expected");   // "n=path;..."

    QTest::newRow("nothing") << tavro::PortMap{} << QStringList{} << QStringList{} << "";
    QTest::newRow("fixed rule, all three families")
        << tavro::PortMap{} << QStringList{"/dev/ttyACM1", "/dev/ttyS2", "/dev/ttyUSB0"}
        << QStringList{} << "3=/dev/ttyS2;33=/dev/ttyUSB0;66=/dev/ttyACM1";
    QTest::newRow("legacy ttyS without hardware is not reported")
        << tavro::PortMap{} << QStringList{"/dev/ttyUSB31"} << QStringList{"/dev/ttyS0"}
        << "64=/dev/ttyUSB31";
    QTest::newRow("devices outside the rule add nothing")
        << tavro::PortMap{} << QStringList{"/dev/ttyS32", "/dev/ttyUSB32", "/dev/rfcomm0"}
        << QStringList{} << "";
    QTest::newRow("mapped entry whose path exists")
        << tavro::PortMap{{12, "/tmp/board"}} << QStringList{} << QStringList{"/tmp/board"}
        << "12=/tmp/board";
    QTest::newRow("mapped entry whose path is gone")
        << tavro::PortMap{{12, "/tmp/board"}} << QStringList{} << QStringList{} << "";
    QTest::newRow("mapping hides the fixed-rule device of the number")
        << tavro::PortMap{{3, "/tmp/gone"}} << QStringList{"/dev/ttyS2"} << QStringList{} << "";
    QTest::newRow("numbers above 96 only through the map")
        << tavro::PortMap{{200, "/dev/ttyUSB5"}} << QStringList{"/dev/ttyUSB5"}
        << QStringList{"/dev/ttyUSB5"} << "38=/dev/ttyUSB5;200=/dev/ttyUSB5";
    QTest::newRow("entries out of range and empty paths")
        << tavro::PortMap{{0, "/tmp/a"}, {256, "/tmp/a"}, {-1, "/tmp/a"}, {7, ""}}
        << QStringList{} << QStringList{"/tmp/a", ""} << "";
}

void OptionsPortsTest::presentPorts()
{
    QFETCH(tavro::PortMap, map);
    QFETCH(QStringList, reported);
    QFETCH(QStringList, existing);
    QFETCH(QString, expected);
    std::vector<std::string> rep, ex;
    for (const QString& s : reported)
        rep.push_back(s.toStdString());
    for (const QString& s : existing)
        ex.push_back(s.toStdString());
    QStringList got;
    for (const tavro::PresentPort& p : Discover(map, rep, ex))
        got << QStringLiteral("%1=%2").arg(p.number).arg(QString::fromStdString(p.device));
    QCOMPARE(got.join(';'), expected);
}

void OptionsPortsTest::mappedPathsAreProbedOnTheFileSystem()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string device = dir.filePath("device").toStdString();
    const std::string link = dir.filePath("link").toStdString();
    QFile file(QString::fromStdString(device));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(::symlink(device.c_str(), link.c_str()), 0);
    const tavro::PortMap map{{150, link}, {151, dir.filePath("missing").toStdString()}};
    const auto none = [] { return std::vector<std::string>{}; };

    Ports ports = tavro::PresentPorts(map, none, tavro::PathExists);
    QCOMPARE(ports.size(), size_t(1));
    QCOMPARE(ports[0].number, 150);
    QCOMPARE(ports[0].device, link);

    // A link whose target went away (a stopped simulator) is not present.
    QVERIFY(QFile::remove(QString::fromStdString(device)));
    QVERIFY(tavro::PresentPorts(map, none, tavro::PathExists).empty());
}

void OptionsPortsTest::listFromMappedAndDiscoveredPorts()
{
    CMountController controller;
    controller.m_portMap = {{12, "/tmp/sim-link"}, {300, "/tmp/sim-link"}, {5, "/tmp/nowhere"}};
    tavro::PortMap seen;
    COptionsDlg dlg;
    dlg.SetPortLister([&](const tavro::PortMap& map) {
        seen = map;
        return Discover(map, {"/dev/ttyS2", "/dev/ttyUSB40"}, {"/tmp/sim-link"});
    });
    dlg.m_nComPort = 12;
    dlg.m_pController = &controller;
    dlg.InitialiseOnce();

    QCOMPARE(seen, controller.m_portMap);   // the controller's [Ports] map is used
    const QComboBox* combo = dlg.m_comboPort;
    QCOMPARE(Items(combo), (QStringList{"COM3", "COM12"}));
    QCOMPARE(combo->itemData(0).toInt(), 3);
    QCOMPARE(combo->itemData(1).toInt(), 12);
    QCOMPARE(combo->itemData(0, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyS2"));
    QCOMPARE(combo->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("/tmp/sim-link"));
    QCOMPARE(combo->currentIndex(), 1);
    QCOMPARE(combo->toolTip(), QStringLiteral("/tmp/sim-link"));

    // A lister that repeats or disorders numbers still gives one ascending list.
    dlg.SetPortLister([](const tavro::PortMap&) {
        return Ports{{40, "/dev/ttyUSB7"}, {2, "/dev/ttyS1"}, {40, "/dev/other"}, {0, "/x"}};
    });
    dlg.FillPortList();
    QCOMPARE(Items(combo), (QStringList{"COM2", "COM40"}));
    QCOMPARE(combo->itemData(1, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyUSB7"));
    QCOMPARE(combo->currentIndex(), -1);
}

void OptionsPortsTest::listSelectsNothingWhenTheWindowsPortIsAbsent()
{
    CMountController controller;
    controller.m_nPort = 4;
    COptionsDlg dlg;
    dlg.SetPortLister([](const tavro::PortMap&) { return Ports{{3, "/dev/ttyS2"}}; });
    dlg.m_nComPort = 4;
    dlg.m_pController = &controller;
    dlg.InitialiseOnce();
    QCOMPARE(Items(dlg.m_comboPort), QStringList{"COM3"});
    QCOMPARE(dlg.m_comboPort->currentIndex(), -1);
    dlg.OnOK();
    QCOMPARE(dlg.m_nComPort, 4);
}

void OptionsPortsTest::emptyListKeepsTheControllersPort()
{
    CMountController controller;
    controller.m_nPort = 7;
    COptionsDlg dlg;
    dlg.SetPortLister([](const tavro::PortMap&) { return Ports{}; });
    dlg.m_nComPort = 2;
    dlg.m_pController = &controller;
    dlg.InitialiseOnce();
    QCOMPARE(dlg.m_comboPort->count(), 0);
    dlg.OnOK();
    QCOMPARE(dlg.m_nComPort, 7);
}

QTEST_MAIN(OptionsPortsTest)
#include "options_ports_test.moc"
