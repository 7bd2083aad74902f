// "Find object" in the window on a simulated line and clock (UTC fixed at
// the harness's instant): Ctrl+F, the list as the operator types, Enter,
// Escape and the arrow keys, the four buttons and the fields they fill,
// "site not set", no match, a catalogue that cannot be read; and the guards
// of the window's own gotos (near the Sun, below the horizon), which the
// planetarium link's gotos do not meet.

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "lx200/panel.h"
#include "sky/apparent_place.h"
#include "sky/catalogue.h"
#include "tests/support/non_red_pixels.h"
#include "tests/ui/control_dlg_test_util.h"
#include "ui/app/night_vision.h"
#include "ui/window/point_text.h"

using tavro::sky::Body;
using tavro::sky::Equatorial;
using tavro::test::ControlDlgHarness;
using tavro::test::CTestControlDlg;

namespace {

constexpr char kSite[] = "[Site]\nLatitude=48\nLongitude=16\n";
const tavro::sky::Site kSkySite{48.0, 16.0, 0.0};

// The seven texts of a point's fields in the window.
tavro::ui::PointTexts FieldTexts(CControlDlg& dlg, const PointFields& f)
{
    return {dlg.Edit(f.raH)->text(),  dlg.Edit(f.raM)->text(),
            dlg.Edit(f.raS)->text(),  dlg.SignList(f.decSign)->currentText(),
            dlg.Edit(f.decD)->text(), dlg.Edit(f.decM)->text(),
            dlg.Edit(f.decS)->text()};
}

// What the fields show for a place (rounded to whole seconds as they hold it).
tavro::ui::PointTexts Expected(const Equatorial& place)
{
    return tavro::ui::FormatPoint(place.raHours, place.decDegrees);
}

QString Joined(const tavro::ui::PointTexts& t)
{
    return QStringList(t.begin(), t.end()).join(QLatin1Char(' '));
}

void TypePoint(ControlDlgHarness& h, const PointFields& f, const Equatorial& place)
{
    const tavro::ui::PointTexts t = Expected(place);
    h.Type(f.raH, t[0]);
    h.Type(f.raM, t[1]);
    h.Type(f.raS, t[2]);
    h.Dlg().SignList(f.decSign)->setCurrentIndex(t[3] == QStringLiteral("-") ? 1 : 0);
    h.Type(f.decD, t[4]);
    h.Type(f.decM, t[5]);
    h.Type(f.decS, t[6]);
}

Equatorial BodyAt(Body body, bool withSite)
{
    return tavro::sky::ApparentPlaceOf(body, CTestControlDlg::kUtc,
                                       withSite ? std::optional(kSkySite) : std::nullopt);
}

QAction* FindItem(const CControlDlg& dlg)
{
    for (QAction* action : dlg.actions()) {
        if (action->text() == QStringLiteral("Find object\u2026"))
            return action;
    }
    return nullptr;
}

// A window on the harness's line, connected; the catalogue at `catalogue`
// (empty: the program's own data file).
struct Window {
    explicit Window(const std::string& catalogue, const QByteArray& ini = {})
    {
        if (!ini.isEmpty())
            h.WriteSettings(ini);
        ControlDlgSeams seams = h.Seams();
        seams.cataloguePath = catalogue;
        h.Start(std::move(seams));
        connected = h.Connect();
    }
    // Opens "Find object" from the context menu's action and runs `drive`
    // on it; the dialog's result.
    int Find(std::function<void(CFindObjectDlg&)> drive)
    {
        int result = -1;
        h.Dlg().m_driveFind = [&](CFindObjectDlg& dlg) {
            drive(dlg);
            result = dlg.isVisible() ? -1 : dlg.result();
        };
        FindItem(h.Dlg())->trigger();
        h.Dlg().m_driveFind = nullptr;
        return result;
    }
    ControlDlgHarness h;
    bool connected = false;
};

const std::string kNoCatalogue = "/nonexistent/tavro-sky-objects.txt";

using tavro::test::NonRedPixels;

}  // namespace

class FindObjectTest : public QObject {
    Q_OBJECT

private slots:
    // Ctrl+F in a field of the shown window opens the dialog; the field
    // keeps its text and the mount hears nothing.
    void ctrlFOpensTheFinderAndGoesNowhereElse()
    {
        Window w(kNoCatalogue);
        QVERIFY(w.connected);
        CControlDlg& dlg = w.h.Dlg();
        dlg.show();
        dlg.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        for (int id : {IDC_NEXT_RA_M, IDC_RA_PLUS}) {
            dlg.Control(id)->setFocus();
            QCOMPARE(dlg.focusWidget(), dlg.Control(id));
            const QString before = dlg.Edit(IDC_NEXT_RA_M)->text();
            int opened = 0;
            w.h.Dlg().m_driveFind = [&](CFindObjectDlg&) { ++opened; };
            QTest::keyClick(dlg.focusWidget(), Qt::Key_F, Qt::ControlModifier);
            w.h.Deliver();
            QCOMPARE(opened, 1);
            QCOMPARE(dlg.Edit(IDC_NEXT_RA_M)->text(), before);
            QCOMPARE(w.h.m_line.Hex(), std::string());
        }
    }

    // Without its catalogue the dialog says why in a sentence and still
    // finds the Sun, the Moon and the planets; the list follows each
    // keystroke, case and blanks aside.
    void missingCatalogueIsToldAndTheBodiesAreStillFound()
    {
        Window w(kNoCatalogue);
        QVERIFY(w.connected);
        QStringList status;
        QList<int> rows;
        w.Find([&](CFindObjectDlg& dlg) {
            for (const char* text : {"", "m", "MA", " m a r s ", "zzz"}) {
                dlg.SearchField()->setText(QString::fromLatin1(text));
                status << dlg.Status()->text();
                rows << dlg.List()->topLevelItemCount();
            }
        });
        for (const QString& s : status)
            QVERIFY2(s.contains(QString::fromStdString(kNoCatalogue)), qPrintable(s));
        QVERIFY(status[0].contains(QStringLiteral("Only the Sun, the Moon and the planets")));
        QCOMPARE(rows, (QList<int>{0, 3, 1, 1, 0}));  // Moon, Mercury, Mars; Mars; Mars; none
        QVERIFY(status[4].startsWith(QStringLiteral("No object found")));
    }

    // Enter takes the first match, or the one the arrow keys chose, as the
    // Next point of the date and closes; Escape changes nothing; Enter
    // with no match does nothing.
    void keyboardChoosesTheNextPoint_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("body");  // -1: nothing chosen
        QTest::newRow("first match") << "m" << QList<int>{Qt::Key_Return} << int(Body::Moon);
        QTest::newRow("down once") << "M" << QList<int>{Qt::Key_Down, Qt::Key_Enter} << int(Body::Mercury);
        QTest::newRow("down, down, up")
            << "m" << QList<int>{Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Return}
            << int(Body::Mercury);
        QTest::newRow("escape") << "jupiter" << QList<int>{Qt::Key_Escape} << -1;
        QTest::newRow("no match") << "pluto" << QList<int>{Qt::Key_Return} << -1;
    }
    void keyboardChoosesTheNextPoint()
    {
        QFETCH(QString, typed);
        QFETCH(QList<int>, keys);
        QFETCH(int, body);
        Window w(kNoCatalogue);
        QVERIFY(w.connected);
        const tavro::ui::PointTexts nextBefore = FieldTexts(w.h.Dlg(), kNextPointFields);
        const tavro::ui::PointTexts currentBefore = FieldTexts(w.h.Dlg(), kCurrentPointFields);
        const int result = w.Find([&](CFindObjectDlg& dlg) {
            QTest::keyClicks(dlg.SearchField(), typed);
            for (int key : keys)
                QTest::keyClick(dlg.SearchField(), Qt::Key(key));
        });
        // Escape ends the dialog, Enter without a match leaves it open.
        QCOMPARE(result == int(QDialog::Accepted), body >= 0);
        const tavro::ui::PointTexts next =
            body < 0 ? nextBefore : Expected(BodyAt(static_cast<Body>(body), false));
        QCOMPARE(Joined(FieldTexts(w.h.Dlg(), kNextPointFields)), Joined(next));
        QCOMPARE(Joined(FieldTexts(w.h.Dlg(), kCurrentPointFields)), Joined(currentBefore));
        QCOMPARE(w.h.m_line.Hex(), std::string());
    }

    // The buttons: Set Next point, Set Current point, Goto (fills the Next
    // point and starts the goto) and Add alignment star (fills the Current
    // point and adds the star), each with the place at the site.
    void buttonsFillTheirFieldsAndAct()
    {
        const Equatorial jupiter = BodyAt(Body::Jupiter, true);
        for (const int id :
             {int(CFindObjectDlg::IDC_FIND_SET_NEXT), int(CFindObjectDlg::IDC_FIND_SET_CURRENT),
              int(CFindObjectDlg::IDC_FIND_GOTO), int(CFindObjectDlg::IDC_FIND_ADD_STAR)}) {
            Window w(kNoCatalogue, kSite);
            QVERIFY(w.connected);
            const tavro::ui::PointTexts nextBefore = FieldTexts(w.h.Dlg(), kNextPointFields);
            const tavro::ui::PointTexts currentBefore = FieldTexts(w.h.Dlg(), kCurrentPointFields);
            const size_t purges = w.h.m_line.PurgeTimes().size();
            if (id == CFindObjectDlg::IDC_FIND_GOTO) {
                w.h.m_line.BlockWhenIdle(true);
                w.h.m_line.AnswerStepFrames(-1);
            }
            QString altAz;
            w.Find([&](CFindObjectDlg& dlg) {
                QTest::keyClicks(dlg.SearchField(), QStringLiteral("Jup"));
                altAz = dlg.List()->topLevelItem(0)->text(CFindObjectDlg::kAltAz);
                auto* button = qobject_cast<QPushButton*>(dlg.Control(id));
                QVERIFY(button && button->isEnabled());
                button->click();
            });
            const tavro::sky::Horizontal h =
                tavro::sky::ToHorizontal(jupiter, CTestControlDlg::kUtc, kSkySite);
            QCOMPARE(altAz, QStringLiteral("%1\u00b0 / %2\u00b0")
                                .arg(h.altitudeDegrees, 0, 'f', 1)
                                .arg(h.azimuthDegrees, 0, 'f', 1));
            const bool next = id == CFindObjectDlg::IDC_FIND_SET_NEXT || id == CFindObjectDlg::IDC_FIND_GOTO;
            QCOMPARE(Joined(FieldTexts(w.h.Dlg(), kNextPointFields)),
                     Joined(next ? Expected(jupiter) : nextBefore));
            QCOMPARE(Joined(FieldTexts(w.h.Dlg(), kCurrentPointFields)),
                     Joined(next ? currentBefore : Expected(jupiter)));
            if (id == CFindObjectDlg::IDC_FIND_GOTO) {
                // Goto mode and a step frame on the line: the goto runs.
                QVERIFY(ControlDlgHarness::WaitReal([&] { return w.h.m_line.PurgeTimes().size() > purges; }));
                QVERIFY2(w.h.m_line.Hex().rfind("63", 0) == 0, w.h.m_line.Hex().c_str());
                QVERIFY(w.h.Dlg().Session().Running());
                w.h.AnswerAll();
                QVERIFY(w.h.WaitGotoDone());
            } else {
                QCOMPARE(w.h.m_line.Hex(), std::string());
            }
            QCOMPARE(w.h.Dlg().Session().Model().Count(), id == CFindObjectDlg::IDC_FIND_ADD_STAR ? 1 : 0);
            QCOMPARE(w.h.Dlg().m_questions.size(), 0);
        }
    }

    // Without a site the list says so; a window not connected offers no
    // Goto and no alignment star.
    void siteNotSetAndButtonsOfAWindowNotConnected()
    {
        ControlDlgHarness h;
        ControlDlgSeams seams = h.Seams();
        seams.cataloguePath = kNoCatalogue;
        h.Start(std::move(seams));
        bool checked = false;
        h.Dlg().m_driveFind = [&](CFindObjectDlg& dlg) {
            dlg.SearchField()->setText(QStringLiteral("saturn"));
            QCOMPARE(dlg.List()->topLevelItem(0)->text(CFindObjectDlg::kAltAz),
                     QStringLiteral("site not set"));
            QCOMPARE(dlg.List()->topLevelItem(0)->text(CFindObjectDlg::kType), QStringLiteral("Planet"));
            QVERIFY(dlg.Control(CFindObjectDlg::IDC_FIND_SET_NEXT)->isEnabled());
            QVERIFY(dlg.Control(CFindObjectDlg::IDC_FIND_SET_CURRENT)->isEnabled());
            QVERIFY(!dlg.Control(CFindObjectDlg::IDC_FIND_GOTO)->isEnabled());
            QVERIFY(!dlg.Control(CFindObjectDlg::IDC_FIND_ADD_STAR)->isEnabled());
            checked = true;
        };
        FindItem(h.Dlg())->trigger();
        QVERIFY(checked);
    }

    // The program's catalogue: "m42" lists the Orion Nebula first with its
    // constellation and type; Enter puts its place of the date in the Next
    // point; a name that is nowhere says so.
    void catalogueSearch()
    {
        std::string error;
        const std::optional<tavro::sky::Catalogue> catalogue =
            tavro::sky::Catalogue::Load(tavro::sky::DefaultCataloguePath(), &error);
        QVERIFY2(catalogue, error.c_str());
        const tavro::sky::SearchResult m42 = catalogue->Find("M42", 1);
        QVERIFY(!m42.matches.empty());
        const Equatorial place =
            tavro::sky::ApparentPlaceOf(*m42.matches.front(), CTestControlDlg::kUtc, std::nullopt);

        Window w("");
        QVERIFY(w.connected);
        QString first, constellation, status, none;
        w.Find([&](CFindObjectDlg& dlg) {
            QTest::keyClicks(dlg.SearchField(), QStringLiteral("qqqxqqq"));
            none = dlg.Status()->text();
            QCOMPARE(dlg.List()->topLevelItemCount(), 0);
            dlg.SearchField()->clear();
            QTest::keyClicks(dlg.SearchField(), QStringLiteral("m42"));
            QVERIFY(dlg.List()->topLevelItemCount() >= 1);
            first = dlg.List()->topLevelItem(0)->text(CFindObjectDlg::kName);
            constellation = dlg.List()->topLevelItem(0)->text(CFindObjectDlg::kConstellation);
            status = dlg.Status()->text();
            QTest::keyClick(dlg.SearchField(), Qt::Key_Return);
        });
        QCOMPARE(none, QStringLiteral("No object found"));
        QVERIFY2(first.startsWith(QStringLiteral("M 42")), qPrintable(first));
        QCOMPARE(constellation, QStringLiteral("Ori"));
        QVERIFY2(status.contains(QStringLiteral("found")), qPrintable(status));
        QCOMPARE(Joined(FieldTexts(w.h.Dlg(), kNextPointFields)), Joined(Expected(place)));
    }

    // The guards: a target 10 degrees from the Sun is asked about with the
    // distance and the filters; below the horizon with a site likewise; No
    // sends nothing, Yes goes. Without a site there is no horizon guard,
    // and the planetarium link's gotos are not asked about.
    void guardsOfTheWindowsGotos_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<double>("ra");
        QTest::addColumn<double>("dec");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("asked");  // a word of the question; empty: none
        const Equatorial sun = BodyAt(Body::Sun, false);
        QTest::newRow("10 deg from the Sun, No") << QByteArray() << sun.raHours << sun.decDegrees + 10.0
                                                 << false << QStringLiteral("10.0\u00b0 from the Sun");
        QTest::newRow("10 deg from the Sun, Yes") << QByteArray() << sun.raHours << sun.decDegrees + 10.0
                                                  << true << QStringLiteral("solar filters");
        QTest::newRow("16 deg from the Sun")
            << QByteArray() << sun.raHours << sun.decDegrees + 16.0 << false << QString();
        QTest::newRow("below the horizon, No")
            << QByteArray(kSite) << 0.0 << -80.0 << false << QStringLiteral("below the horizon");
        QTest::newRow("below the horizon, Yes")
            << QByteArray(kSite) << 0.0 << -80.0 << true << QStringLiteral("below the horizon");
        QTest::newRow("no site, no horizon") << QByteArray() << 0.0 << -80.0 << false << QString();
    }
    void guardsOfTheWindowsGotos()
    {
        QFETCH(QByteArray, ini);
        QFETCH(double, ra);
        QFETCH(double, dec);
        QFETCH(bool, answer);
        QFETCH(QString, asked);
        Window w(kNoCatalogue, ini);
        QVERIFY(w.connected);
        w.h.Dlg().m_goAnswer = answer;
        TypePoint(w.h, kNextPointFields, {ra, dec});
        const bool goes = asked.isEmpty() || answer;
        if (goes) {
            QVERIFY(w.h.StartGoto());
            w.h.AnswerAll();
            QVERIFY(w.h.WaitGotoDone());
        } else {
            QVERIFY(w.h.Click(IDC_GOTO));
            QCOMPARE(w.h.m_line.Hex(), std::string());
            QVERIFY(!w.h.Dlg().Session().Running());
            QVERIFY(w.h.Dlg().Control(IDC_GOTO)->isEnabled());
        }
        QCOMPARE(w.h.Dlg().m_questions.size(), asked.isEmpty() ? 0 : 1);
        if (!asked.isEmpty())
            QVERIFY2(w.h.Dlg().m_questions[0].contains(asked), qPrintable(w.h.Dlg().m_questions[0]));
        if (goes)
            QVERIFY(!w.h.m_line.Hex().empty());
    }

    // The planetarium link presses the same button: its target near the
    // Sun is the client's to judge.
    void linkGotoIsNotAsked()
    {
        Window w(kNoCatalogue, kSite);
        QVERIFY(w.connected);
        w.h.Dlg().m_goAnswer = false;
        const Equatorial sun = BodyAt(Body::Sun, false);
        w.h.m_line.BlockWhenIdle(true);
        w.h.m_line.AnswerStepFrames(-1);
        tavro::lx200::Panel& panel = w.h.Dlg();
        QCOMPARE(panel.Goto({sun.raHours, sun.decDegrees + 5.0}), std::string());
        QVERIFY(w.h.Dlg().Session().Running());
        QCOMPARE(w.h.Dlg().m_questions.size(), 0);
        w.h.AnswerAll();
        QVERIFY(w.h.WaitGotoDone());
    }

    // In night vision the finder, its list with a chosen row and its
    // buttons included, is red only, as every other window of the program.
    void nightVisionIsRedOnly()
    {
        Window w(kNoCatalogue, kSite);
        QVERIFY(w.connected);
        tavro::ui::SetNightVision(true);
        int nonRed = -1;
        int rows = 0;
        w.Find([&](CFindObjectDlg& dlg) {
            QTest::keyClicks(dlg.SearchField(), QStringLiteral("m"));
            rows = dlg.List()->topLevelItemCount();
            nonRed = NonRedPixels(&dlg);
        });
        tavro::ui::SetNightVision(false);
        QCOMPARE(rows, 3);
        QCOMPARE(nonRed, 0);
    }

    // The window's own question box: a warning whose default (Enter) and
    // Escape answer are No.
    void questionBoxDefaultsToNo()
    {
        Window w(kNoCatalogue);
        QVERIFY(w.connected);
        w.h.Dlg().m_realQuestions = true;
        const Equatorial sun = BodyAt(Body::Sun, false);
        TypePoint(w.h, kNextPointFields, {sun.raHours, sun.decDegrees + 3.0});
        QString seen;
        for (const int key : {int(Qt::Key_Return), int(Qt::Key_Escape)}) {
            QTimer::singleShot(0, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(box);
                seen = box->text();
                QCOMPARE(box->icon(), QMessageBox::Warning);
                QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
                QTest::keyClick(box, Qt::Key(key));
            });
            QVERIFY(w.h.Click(IDC_GOTO));
            QVERIFY2(seen.contains(QStringLiteral("3.0\u00b0 from the Sun")), qPrintable(seen));
            QCOMPARE(w.h.m_line.Hex(), std::string());
            QVERIFY(!w.h.Dlg().Session().Running());
        }
    }
};

QTEST_MAIN(FindObjectTest)
#include "find_object_test.moc"
