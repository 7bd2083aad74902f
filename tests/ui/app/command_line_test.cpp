// The program's command line: --night and --planetarium for one run, --help
// listing the options, and a clear error with exit status 2 for anything
// unknown.

#include <QTest>

#include "ui/app/command_line.h"

class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitStatus");   // -1: the program runs
        QTest::addColumn<bool>("night");
        QTest::addColumn<QString>("text");     // a part of the text printed
        QTest::addColumn<QString>("listen");   // --planetarium's value; "-" when not given
        QTest::newRow("nothing") << QStringList{} << -1 << false << "" << "-";
        QTest::newRow("--night") << QStringList{"--night"} << -1 << true << "" << "-";
        QTest::newRow("--help") << QStringList{"--night", "--help"} << 0 << false << "--planetarium <ADDRESS:PORT|off>" << "-";
        QTest::newRow("unknown") << QStringList{"--nite"} << 2 << false << "Unknown option 'nite'.\nTry '" << "-";
        QTest::newRow("an argument") << QStringList{"COM1"} << 2 << false << "Unexpected argument 'COM1'" << "-";
        QTest::newRow("--planetarium off") << QStringList{"--planetarium", "off", "--night"} << -1 << true << "" << "off";
        QTest::newRow("--planetarium=address") << QStringList{"--planetarium=0.0.0.0:4030"} << -1 << false << "" << "0.0.0.0:4030";
        QTest::newRow("--planetarium without value") << QStringList{"--planetarium"} << 2 << false << "Missing value after '--planetarium'" << "-";
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitStatus);
        QFETCH(bool, night);
        QFETCH(QString, text);
        QFETCH(QString, listen);
        const tavro::ui::CommandLine command =
            tavro::ui::ParseCommandLine(QStringList{QStringLiteral("tavro-control-tool")} + arguments);
        QCOMPARE(command.exitStatus.value_or(-1), exitStatus);
        QCOMPARE(command.options.nightVision, night);
        QCOMPARE(QString::fromStdString(command.options.planetariumListen.value_or("-")), listen);
        QVERIFY2(text.isEmpty() ? command.text.isEmpty() : command.text.contains(text), qPrintable(command.text));
    }
};

QTEST_MAIN(CommandLineTest)
#include "command_line_test.moc"
