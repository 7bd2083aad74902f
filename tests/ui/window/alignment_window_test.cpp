// The alignment in the window on a simulated line and clock: "Add alignment
// star" after a goto and a centring, a wrong star refused with the model's
// words, "Clear alignment", the title with the stars and their residual, the
// site from [Site], the terms kept in [Alignment] across a restart, and a
// change of mount model forgetting them.

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <cmath>

#include "lx200/panel.h"
#include "mount/sidereal_time.h"
#include "tests/ui/control_dlg_test_util.h"
#include "ui/options/options_dlg.h"

using tavro::test::CTestControlDlg;
using tavro::test::ControlDlgHarness;

namespace {

constexpr char kSite[] = "[Site]\nLatitude=48\nLongitude=16\n";
const QString kCaption = QStringLiteral("Tavro Control Tool 0.53");

QAction* Action(const CControlDlg& dlg, const QString& text)
{
    for (QAction* action : dlg.actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

QAction* AddStar(const CControlDlg& dlg) { return Action(dlg, QStringLiteral("Add alignment star")); }
QAction* ClearStars(const CControlDlg& dlg) { return Action(dlg, QStringLiteral("Clear alignment")); }

QByteArray ReadFile(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

// The whole hour of RA nearest the meridian of the site at the window's UTC.
int MeridianHour()
{
    return static_cast<int>(std::lround(tavro::LocalSiderealTime(CTestControlDlg::kUtc, 16.0))) % 24;
}

// Types the Current point: RA h m s, Dec +d m s.
void TypeCurrent(ControlDlgHarness& h, int raH, int raM, int raS, int decD, int decM, int decS)
{
    h.Type(IDC_CUR_RA_H, QString::number(raH));
    h.Type(IDC_CUR_RA_M, QString::number(raM));
    h.Type(IDC_CUR_RA_S, QString::number(raS));
    h.Dlg().SignList(IDC_CUR_DEC_SIGN)->setCurrentIndex(0);
    h.Type(IDC_CUR_DEC_D, QString::number(decD));
    h.Type(IDC_CUR_DEC_M, QString::number(decM));
    h.Type(IDC_CUR_DEC_S, QString::number(decS));
}

// A goto to (raH h, +decD), then the star there centred by hand 20 s of RA
// and 10' of Dec away from where the goto put it, and added.
[[nodiscard]] bool GotoAndAddStar(ControlDlgHarness& h, int raH, int decD)
{
    h.SetNextPoint(QString::number(raH), QStringLiteral("+"), QString::number(decD));
    if (!h.StartGoto())
        return false;
    h.AnswerAll();
    if (!h.WaitGotoDone())
        return false;
    TypeCurrent(h, raH, 0, 20, decD, 10, 0);
    const int before = h.Dlg().Session().Model().Count();
    AddStar(h.Dlg())->trigger();
    return h.Dlg().Session().Model().Count() == before + 1;
}

// The four kept terms of a model.
QList<double> Kept(const tavro::PointingTerms& t) { return {t.ch, t.np, t.ma, t.me}; }

// A window whose options dialog chooses EQ-4 (or keeps the model) and OK.
class COptionsDrivenDlg : public CTestControlDlg {
public:
    using CTestControlDlg::CTestControlDlg;
    int RunOptionsDialog(COptionsDlg& dlg) override
    {
        dlg.SetPortLister([](const tavro::PortMap&) {
            return std::vector<tavro::PresentPort>{{1, "/dev/ttyS0"}};
        });
        dlg.InitialiseOnce();
        if (m_chooseEq4)
            dlg.m_wndEQ4->click();
        dlg.OnOK();
        return IDOK;
    }
    bool m_chooseEq4 = true;
};

}  // namespace

class AlignmentWindowTest : public QObject {
    Q_OBJECT

private slots:
    void addRefuseAndClearThroughTheMenu()
    {
        ControlDlgHarness h;
        h.WriteSettings(QByteArray("[Options]\nConnection=1\n") + kSite);
        CTestControlDlg& dlg = h.Start();
        // Not connected: neither action can be chosen.
        QVERIFY(AddStar(dlg) && ClearStars(dlg));
        QVERIFY(!AddStar(dlg)->isEnabled());
        QVERIFY(!ClearStars(dlg)->isEnabled());
        QVERIFY(h.Connect());
        QVERIFY(AddStar(dlg)->isEnabled());
        QVERIFY(ClearStars(dlg)->isEnabled());

        const int hour = MeridianHour();
        QVERIFY(GotoAndAddStar(h, hour, 40));
        QCOMPARE(dlg.m_errors, QStringList());
        QCOMPARE(dlg.windowTitle(), kCaption + QString::fromUtf8(" — aligned on 1 star, 0.0′"));
        const QByteArray kept = ReadFile(h.m_path);
        QVERIFY2(kept.contains("[Alignment]\nCH=0.00\nMA=0.00\nME=0.00\nModel=EQ5\nNP=0.00\n"), kept.constData());
        // The star is where the estimate puts the mount now.
        const tavro::SkyPoint position = dlg.Session().Position();
        QVERIFY(std::abs(position.ra - (hour + 20.0 / 3600.0)) < 1e-6);
        QVERIFY(std::abs(position.dec - (40.0 + 10.0 / 60.0)) < 1e-6);

        // A star 25 degrees from where the mount points is the wrong star:
        // refused with the model's words, nothing changed.
        TypeCurrent(h, hour, 0, 20, 65, 10, 0);
        AddStar(dlg)->trigger();
        QCOMPARE(dlg.m_errors.size(), 1);
        QVERIFY2(dlg.m_errors[0].startsWith(QStringLiteral("The star was not added: ")), qPrintable(dlg.m_errors[0]));
        QVERIFY2(dlg.m_errors[0].contains(QStringLiteral("wrong star"), Qt::CaseInsensitive),
                 qPrintable(dlg.m_errors[0]));
        QCOMPARE(dlg.Session().Model().Count(), 1);
        QCOMPARE(ReadFile(h.m_path), kept);

        // Fields that hold no point: refused the same way.
        h.Type(IDC_CUR_DEC_M, QString());
        AddStar(dlg)->trigger();
        QCOMPARE(dlg.m_errors.size(), 2);
        QCOMPARE(dlg.m_errors[1],
                 QStringLiteral("The star was not added: the Current point fields do not hold a point."));
        QCOMPARE(dlg.Session().Model().Count(), 1);

        ClearStars(dlg)->trigger();
        QCOMPARE(dlg.Session().Model().Count(), 0);
        QCOMPARE(dlg.windowTitle(), kCaption);
        QVERIFY(!ReadFile(h.m_path).contains("[Alignment]"));
        QVERIFY(ReadFile(h.m_path).contains("[Site]\nLatitude=48\nLongitude=16\n"));
    }

    void titleTellsStarsResidualAndWhyOnlyTheIndex_data()
    {
        QTest::addColumn<bool>("site");
        QTest::addColumn<int>("stars");
        QTest::addColumn<QString>("linkWords");
        QTest::addColumn<QString>("words");   // %1: the RMS in arcminutes
        QTest::newRow("no star") << true << 0 << QString() << QString();
        QTest::newRow("one star") << true << 1 << QString() << QStringLiteral(" — aligned on 1 star, 0.0′");
        QTest::newRow("three stars, linked") << true << 3 << QStringLiteral("planetarium linked")
                                             << QStringLiteral(" — planetarium linked — aligned on 3 stars, %1′");
        QTest::newRow("no site") << false << 1 << QString()
                                 << QStringLiteral(" — aligned on 1 star, 0.0′, index only (no site)");
        QTest::newRow("no site, two stars") << false << 2 << QString()
                                            << QStringLiteral(" — aligned on 2 stars, %1′, index only (no site)");
    }

    void titleTellsStarsResidualAndWhyOnlyTheIndex()
    {
        QFETCH(bool, site);
        QFETCH(int, stars);
        QFETCH(QString, linkWords);
        QFETCH(QString, words);
        ControlDlgHarness h;
        h.WriteSettings(QByteArray("[Options]\nConnection=1\n") + (site ? kSite : ""));
        CTestControlDlg& dlg = h.Start();
        static_cast<tavro::lx200::Panel&>(dlg).ShowLinkState(linkWords.toStdString());
        QVERIFY(h.Connect());
        const int hour = MeridianHour();
        const int targets[3][2] = {{hour, 40}, {(hour + 22) % 24, 20}, {(hour + 1) % 24, 70}};
        for (int i = 0; i < stars; ++i)
            QVERIFY(GotoAndAddStar(h, targets[i][0], targets[i][1]));
        const tavro::PointingModel& model = dlg.Session().Model();
        QCOMPARE(model.Count(), stars);
        QCOMPARE(model.Limitation().empty(), site);
        if (stars == 3)
            QVERIFY(model.RmsArcsec() > 0.0);
        const QString rms = QString::number(model.RmsArcsec() / 60.0, 'f', 1);
        QCOMPARE(dlg.windowTitle(), kCaption + (words.contains(u'%') ? words.arg(rms) : words));
        // Without a site the add action says why only the index is fitted.
        QCOMPARE(AddStar(dlg)->statusTip().toStdString(), model.Limitation());
        QCOMPARE(dlg.m_errors, QStringList());
    }

    void aRestartKeepsTheTermsAndOneStarGivesThemBack()
    {
        ControlDlgHarness h;
        h.WriteSettings(QByteArray("[Options]\nConnection=1\n") + kSite +
                        "[Alignment]\nModel=EQ5\nCH=120\nNP=-60.5\nMA=-2400\nME=1500.25\n");
        const QList<double> file = {120.0, -60.5, -2400.0, 1500.25};
        {
            CTestControlDlg& dlg = h.Start();
            QCOMPARE(Kept(dlg.Session().Model().Terms()), file);
            QCOMPARE(dlg.windowTitle(), kCaption + QString::fromUtf8(" — alignment kept: one star restores it"));
            QVERIFY(h.Connect());
            QVERIFY(GotoAndAddStar(h, MeridianHour(), 40));
            // One star fits the index; the kept terms stand as they were.
            const tavro::PointingModel& model = dlg.Session().Model();
            QCOMPARE(model.FittedTerms(), unsigned(tavro::kTermIh | tavro::kTermId));
            QCOMPARE(Kept(model.Terms()), file);
            QVERIFY(ReadFile(h.m_path).contains("CH=120.00\nMA=-2400.00\nME=1500.25\nModel=EQ5\nNP=-60.50\n"));
            QVERIFY(model.Terms().ih != 0.0 || model.Terms().id != 0.0);
            QCOMPARE(dlg.m_errors, QStringList());
        }
        h.m_dlg.reset();
        CTestControlDlg& again = h.Start();
        QCOMPARE(again.Session().Model().Count(), 0);
        QCOMPARE(Kept(again.Session().Model().Terms()), file);
        QCOMPARE(again.Session().Model().Terms().ih, 0.0);
    }

    void aChangeOfMountModelForgetsTheTerms()
    {
        for (const bool chooseEq4 : {false, true}) {
            ControlDlgHarness h;
            h.WriteSettings(QByteArray("[Options]\nConnection=1\nDriverMode=EQ5\n") + kSite +
                            "[Alignment]\nModel=EQ5\nCH=120\nNP=-60\nMA=-2400\nME=1500\n");
            COptionsDrivenDlg dlg(h.m_path, h.Seams());
            dlg.m_chooseEq4 = chooseEq4;
            dlg.InitialiseOnce();
            const tavro::PointingTerms kept = dlg.Session().Model().Terms();
            QCOMPARE(kept.ch, 120.0);
            QVERIFY(tavro::test::ClickButton(dlg, IDC_OPTIONS));
            QCOMPARE(dlg.m_errors, QStringList());
            const QByteArray text = ReadFile(h.m_path);
            if (chooseEq4) {
                QVERIFY(dlg.Session().Model().Terms() == tavro::PointingTerms{});
                QVERIFY2(!text.contains("[Alignment]"), text.constData());
                QVERIFY2(text.contains("DriverMode=EQ4"), text.constData());
                QCOMPARE(dlg.windowTitle(), kCaption);
            } else {
                QVERIFY(dlg.Session().Model().Terms() == kept);
                QVERIFY2(text.contains("[Alignment]"), text.constData());
            }
        }
    }

    void thePlanetariumsSyncIsAStarKeptAndItsSiteEndsTheIndexOnlyFit()
    {
        ControlDlgHarness h;
        h.WriteSettings(QByteArray("[Options]\nConnection=1\n"));
        CTestControlDlg& dlg = h.Start();
        QVERIFY(h.Connect());
        auto& panel = static_cast<tavro::lx200::Panel&>(dlg);
        QCOMPARE(panel.Sync({MeridianHour() + 0.25, 40.5}), std::string());
        QCOMPARE(dlg.Session().Model().Count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(ReadFile(h.m_path).contains("[Alignment]"), 5000);
        QCOMPARE(dlg.windowTitle(), kCaption + QString::fromUtf8(" — aligned on 1 star, 0.0′, index only (no site)"));
        panel.SetSite(48.0, 16.0);
        QCOMPARE(dlg.windowTitle(), kCaption + QString::fromUtf8(" — aligned on 1 star, 0.0′"));
        QCOMPARE(AddStar(dlg)->statusTip(), QString());
    }

    void aFailedSaveIsToldOnceAndTheStarsStay()
    {
        ControlDlgHarness h;
        h.WriteSettings(QByteArray("[Options]\nConnection=1\n") + kSite);
        CTestControlDlg& dlg = h.Start();
        QVERIFY(h.Connect());
        // The settings file's place taken by a folder: no save can be made.
        QVERIFY(QFile::remove(QString::fromStdString(h.m_path)));
        QVERIFY(QDir().mkdir(QString::fromStdString(h.m_path)));
        const int hour = MeridianHour();
        QVERIFY(GotoAndAddStar(h, hour, 40));
        QVERIFY(GotoAndAddStar(h, (hour + 22) % 24, 20));
        QCOMPARE(dlg.m_errors.size(), 1);
        QCOMPARE(dlg.m_errors[0],
                 QStringLiteral("The alignment could not be saved to %1:\nIt is not a regular file.\n"
                                "It stays in force until the program ends.")
                     .arg(QString::fromStdString(h.m_path)));
        QCOMPARE(dlg.Session().Model().Count(), 2);
    }
};

QTEST_MAIN(AlignmentWindowTest)
#include "alignment_window_test.moc"
