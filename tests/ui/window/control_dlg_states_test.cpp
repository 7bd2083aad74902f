// The main control window's start-up, its enable rules in every state, the
// connection commands with their error box, and the focus moving to "Exit".

#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <cerrno>
#include <set>

#include "tests/ui/control_dlg_test_util.h"
#include "ui/window/control_dlg_template.h"

using tavro::test::ControlDlgHarness;

namespace {

// The controls whose enabled state the rules set or keep, in this order.
constexpr int kRuleIds[] = {
    IDC_CONNECT,    IDC_DISCONNECT, IDC_GOTO,         IDC_FOCUS_SLOW_PLUS, IDC_FOCUS_SLOW_MINUS,
    IDC_FOCUS_FAST_PLUS, IDC_FOCUS_FAST_MINUS, IDC_DEC_PLUS, IDC_DEC_MINUS, IDC_RA_PLUS,
    IDC_RA_MINUS,   IDC_PAUSE,      IDC_SPEED_GOTO,   IDC_SPEED_SLOW,      IDC_SPEED_FAST,
    IDC_OPTIONS,    IDC_K3CCD_MODE, IDCANCEL,         IDC_CUR_RA_H,        IDC_NEXT_DEC_S,
    IDC_CUR_DEC_SIGN, IDC_NEXT_DEC_SIGN,
};

// "1" for each enabled control of kRuleIds, "0" for each disabled one, in
// groups: commands | goto | focuser | slew | speeds | options, K3CCD, exit |
// fields and lists.
QString EnabledStates(CControlDlg& dlg)
{
    QString s;
    int i = 0;
    for (int id : kRuleIds) {
        if (i == 2 || i == 3 || i == 7 || i == 12 || i == 15 || i == 18)
            s += ' ';
        s += dlg.Control(id)->isEnabled() ? '1' : '0';
        ++i;
    }
    return s;
}

const QString kDisconnected = QStringLiteral("10 0 0000 00000 000 101 1111");
const QString kConnected = QStringLiteral("01 1 1111 11111 111 111 1111");
const QString kConnectedBadField = QStringLiteral("01 0 1111 11111 111 111 1111");
const QString kGotoRunning = QStringLiteral("00 0 0000 00000 000 001 1111");

}  // namespace

class ControlDlgStatesTest : public QObject {
    Q_OBJECT
private slots:
    void startupShowsTheInitialState();
    void everyTemplateControlIsThere();
    void fontsFollowTheirRoles();
    void enableRules_data();
    void enableRules();
    void connectOnStartWithAMissingPort();
    void connectOnStartConnects();
    void aRefusedPortShowsTheSystemText();
    void storedMountModelRelabelsTheSpeeds();
    void k3ccdModeLeavesTheBoardInGuideMode();
    void focusMovesToExitWhenItsControlIsDisabled();
    void enterInAFieldEndsTheWindow();
};

void ControlDlgStatesTest::startupShowsTheInitialState()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Tavro Control Tool 0.53"));
    for (const PointFields& f : {kCurrentPointFields, kNextPointFields}) {
        for (int id : {f.raH, f.raM, f.raS, f.decD, f.decM, f.decS})
            QCOMPARE(dlg.Edit(id)->text(), QStringLiteral("0"));
        QCOMPARE(dlg.SignList(f.decSign)->currentText(), QStringLiteral("+"));
    }
    QVERIFY(qobject_cast<QRadioButton*>(dlg.Control(IDC_SPEED_SLOW))->isChecked());
    QVERIFY(!qobject_cast<QRadioButton*>(dlg.Control(IDC_SPEED_FAST))->isChecked());
    QVERIFY(!qobject_cast<QRadioButton*>(dlg.Control(IDC_SPEED_GOTO))->isChecked());
    for (int id : {IDC_PROGRESS_RA, IDC_PROGRESS_DEC}) {
        auto* bar = qobject_cast<QProgressBar*>(dlg.Control(id));
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 1000);
        QCOMPARE(bar->value(), 0);
    }
    QVERIFY(dlg.Control(IDC_TIME_LEFT)->isHidden());
    QCOMPARE(qobject_cast<QLabel*>(dlg.Control(IDC_TIME_LEFT))->text(),
             QStringLiteral("Estimated time left:"));
    QCOMPARE(qobject_cast<QRadioButton*>(dlg.Control(IDC_SPEED_SLOW))->text(),
             QStringLiteral("2.5x"));
    QCOMPARE(qobject_cast<QRadioButton*>(dlg.Control(IDC_SPEED_FAST))->text(),
             QStringLiteral("10x"));
    QVERIFY(!h.GotoRunning());
    QCOMPARE(EnabledStates(dlg), kDisconnected);
    // Connect-on-start is off: nothing is opened until "Connect", on COM1.
    QCOMPARE(h.m_line.Opens(), 0);
    QVERIFY(h.m_line.Writes().empty());
    QVERIFY(h.Dlg().m_errors.isEmpty());
    QVERIFY(h.Click(IDC_CONNECT));
    QCOMPARE(h.m_line.Writes().front().port, 1);
}

void ControlDlgStatesTest::everyTemplateControlIsThere()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    std::set<int> ids;
    for (const tavro::ui::ControlTemplate& t : tavro::ui::ControlDlgTemplate()) {
        QWidget* w = dlg.Control(t.id);
        QVERIFY2(w, qPrintable(QString::number(t.id)));
        QCOMPARE(CControlDlg::ControlId(w), t.id);
        QVERIFY(ids.insert(t.id).second);
    }
    QCOMPARE(ids.size(), size_t(58));
    QCOMPARE(qobject_cast<QAbstractButton*>(dlg.Control(IDCANCEL))->text(), QStringLiteral("Exit"));
    QCOMPARE(qobject_cast<QLabel*>(dlg.Control(1048))->text(), QString::fromUtf8("\u00b0"));
    QCOMPARE(qobject_cast<QLabel*>(dlg.Control(1056))->text(), QStringLiteral("\""));
    QVERIFY(dlg.HoldButton(IDC_PAUSE));
    QVERIFY(!dlg.HoldButton(IDC_GOTO));

    // Tab order is template order: Connect, Disconnect, Options, K3CCD Mode,
    // Exit, the three speeds, then "Ra +", "Dec +", "Ra -".
    const int expected[] = {IDC_CONNECT,    IDC_DISCONNECT, IDC_OPTIONS, IDC_K3CCD_MODE,
                            IDCANCEL,       IDC_SPEED_GOTO, IDC_SPEED_FAST, IDC_SPEED_SLOW,
                            IDC_RA_PLUS,    IDC_DEC_PLUS,   IDC_RA_MINUS};
    QWidget* w = dlg.Control(IDC_CONNECT);
    for (int id : expected) {
        QCOMPARE(CControlDlg::ControlId(w), id);
        do
            w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || CControlDlg::ControlId(w) == 0);
    }
    // The dialog is 372 x 222 dialog units; "Exit" spans the command column.
    const QRect exit = dlg.Control(IDCANCEL)->geometry();
    QCOMPARE(exit.left(), dlg.Control(IDC_CONNECT)->geometry().left());
    QCOMPARE(exit.right(), dlg.Control(IDC_DISCONNECT)->geometry().right());
    QVERIFY(dlg.width() > exit.right() && dlg.height() > dlg.Control(IDC_GOTO_GROUP)->geometry().bottom());
}

void ControlDlgStatesTest::fontsFollowTheirRoles()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    // Large: bold at 4/3 of the dialog font's height; bold: weight 600 at
    // the dialog font's height.
    const int dialogPixels = QFontInfo(dlg.font()).pixelSize();
    for (int id : {IDC_CUR_RA_H, IDC_NEXT_DEC_S, IDC_CUR_DEC_SIGN, 1036, 1037}) {
        QCOMPARE(dlg.Control(id)->font().weight(), 600);
        QCOMPARE(dlg.Control(id)->font().pixelSize(), dialogPixels * 4 / 3);
    }
    for (int id : {IDC_CONTROL_GROUP, IDC_GOTO_GROUP, IDC_SPEED_SLOW, IDC_TIME_LEFT, 1038, 1043,
                   1045, 1056}) {
        QCOMPARE(dlg.Control(id)->font().weight(), 600);
        QCOMPARE(QFontInfo(dlg.Control(id)->font()).pixelSize(), dialogPixels);
    }
    for (int id : {IDC_CONNECT, IDC_RA_PLUS, IDC_GOTO, IDCANCEL})
        QCOMPARE(dlg.Control(id)->font().weight(), dlg.font().weight());
}

void ControlDlgStatesTest::enableRules_data()
{
    QTest::addColumn<bool>("connect");
    QTest::addColumn<bool>("gotoRunning");
    QTest::addColumn<bool>("badField");
    QTest::addColumn<QString>("states");

    QTest::newRow("disconnected") << false << false << false << kDisconnected;
    QTest::newRow("disconnected, bad field") << false << false << true << kDisconnected;
    QTest::newRow("connected") << true << false << false << kConnected;
    QTest::newRow("connected, bad field") << true << false << true << kConnectedBadField;
    QTest::newRow("goto running") << true << true << false << kGotoRunning;
    QTest::newRow("goto running, bad field") << true << true << true << kGotoRunning;
}

void ControlDlgStatesTest::enableRules()
{
    QFETCH(bool, connect);
    QFETCH(bool, gotoRunning);
    QFETCH(bool, badField);
    QFETCH(QString, states);

    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    if (connect)
        QVERIFY(h.Connect());
    if (gotoRunning) {
        h.SetNextPoint(QStringLiteral("2"), QStringLiteral("+"), QStringLiteral("1"));
        QVERIFY(h.StartGoto());
    }
    if (badField)
        h.Type(IDC_NEXT_RA_M, QStringLiteral("60"));
    QCOMPARE(EnabledStates(dlg), states);
    if (gotoRunning) {
        h.AnswerAll();
        QVERIFY(h.WaitGotoDone());
        QCOMPARE(EnabledStates(dlg), badField ? kConnectedBadField : kConnected);
    }
}

void ControlDlgStatesTest::connectOnStartWithAMissingPort()
{
    ControlDlgHarness h;
    h.WriteSettings("[Options]\nConnection=3\nConnectOnStart=1\n");
    h.m_line.SetOpenResult(3, ENOENT);
    CControlDlg& dlg = h.Start();
    QCOMPARE(h.Dlg().m_errors,
             QStringList{QStringLiteral("Can't find port COM3\nThere is no device /dev/ttyS2.")});
    QCOMPARE(dlg.Controller().m_nPort, 3);
    QVERIFY(!dlg.Controller().m_hPort);
    QCOMPARE(EnabledStates(dlg), kDisconnected);
    QVERIFY(h.m_line.Writes().empty());

    // The Connect button tries again and says the same.
    QTest::mouseClick(qobject_cast<QPushButton*>(dlg.Control(IDC_CONNECT)), Qt::LeftButton);
    QCOMPARE(h.Dlg().m_errors.size(), 2);
    QCOMPARE(h.Dlg().m_errors.last(), h.Dlg().m_errors.first());
}

void ControlDlgStatesTest::connectOnStartConnects()
{
    ControlDlgHarness h;
    h.WriteSettings("[Options]\nConnection=1\nConnectOnStart=1\nMaxGotoSpeed=255\n");
    CControlDlg& dlg = h.Start();
    QVERIFY(h.Dlg().m_errors.isEmpty());
    QVERIFY(dlg.Controller().m_hPort);
    QCOMPARE(QString::fromStdString(h.m_line.Hex()), QStringLiteral("71 7A FF 03 01 00"));
    QCOMPARE(EnabledStates(dlg), kConnected);

    QTest::mouseClick(qobject_cast<QPushButton*>(dlg.Control(IDC_DISCONNECT)), Qt::LeftButton);
    QVERIFY(!dlg.Controller().m_hPort);
    QCOMPARE(h.m_line.Closes(), 1);
    QCOMPARE(EnabledStates(dlg), kDisconnected);
}

void ControlDlgStatesTest::aRefusedPortShowsTheSystemText()
{
    ControlDlgHarness h;
    h.m_line.SetOpenResult(1, EBUSY);
    CControlDlg& dlg = h.Start();
    QVERIFY(h.Click(IDC_CONNECT));
    QCOMPARE(h.Dlg().m_errors,
             QStringList{QStringLiteral("Connection error:\n/dev/ttyS0: Device or resource busy.\n"
                                        "Another program has the port open.")});
    QCOMPARE(EnabledStates(dlg), kDisconnected);
}

void ControlDlgStatesTest::storedMountModelRelabelsTheSpeeds()
{
    ControlDlgHarness h;
    h.WriteSettings("[Options]\nDriverMode=eq4\n");
    CControlDlg& dlg = h.Start();
    QCOMPARE(qobject_cast<QRadioButton*>(dlg.Control(IDC_SPEED_SLOW))->text(), QStringLiteral("4x"));
    QCOMPARE(qobject_cast<QRadioButton*>(dlg.Control(IDC_SPEED_FAST))->text(), QStringLiteral("8x"));
    QCOMPARE(qobject_cast<QRadioButton*>(dlg.Control(IDC_SPEED_GOTO))->text(),
             QStringLiteral("Goto speed"));
}

void ControlDlgStatesTest::k3ccdModeLeavesTheBoardInGuideMode()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    QVERIFY(h.Connect());
    QTest::mouseClick(qobject_cast<QPushButton*>(dlg.Control(IDC_K3CCD_MODE)), Qt::LeftButton);
    // From command level: "d" and nothing after it, then the port closes.
    QCOMPARE(QString::fromStdString(h.m_line.Hex()), QStringLiteral("64"));
    QCOMPARE(h.m_line.Closes(), 1);
    QCOMPARE(dlg.Controller().Mode(), MODE_K3CCD);
    QCOMPARE(EnabledStates(dlg), kDisconnected);
}

void ControlDlgStatesTest::focusMovesToExitWhenItsControlIsDisabled()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QWidget* exit = dlg.Control(IDCANCEL);

    // Connect disables the Connect button it was clicked with.
    dlg.Control(IDC_CONNECT)->setFocus();
    QTest::keyClick(dlg.Control(IDC_CONNECT), Qt::Key_Space);
    QVERIFY(dlg.Controller().m_hPort);
    QCOMPARE(dlg.focusWidget(), exit);

    // K3CCD Mode disables the slew button that had the focus.
    dlg.Control(IDC_RA_PLUS)->setFocus();
    QCOMPARE(dlg.focusWidget(), dlg.Control(IDC_RA_PLUS));
    QVERIFY(h.Click(IDC_K3CCD_MODE));
    QCOMPARE(dlg.focusWidget(), exit);

    // A field keeps the focus: it is never disabled.
    QVERIFY(h.Click(IDC_CONNECT));
    dlg.Edit(IDC_NEXT_RA_H)->setFocus();
    QVERIFY(h.Click(IDC_DISCONNECT));
    QCOMPARE(dlg.focusWidget(), dlg.Edit(IDC_NEXT_RA_H));

    // A goto disables Options.
    QVERIFY(h.Connect());
    h.SetNextPoint(QStringLiteral("1"), QStringLiteral("+"), QStringLiteral("0"));
    dlg.Control(IDC_OPTIONS)->setFocus();
    QVERIFY(h.StartGoto());
    QCOMPARE(dlg.focusWidget(), exit);
    h.AnswerAll();
    QVERIFY(h.WaitGotoDone());
}

void ControlDlgStatesTest::enterInAFieldEndsTheWindow()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    // On a focused button Enter clicks it.
    dlg.Control(IDC_CONNECT)->setFocus();
    QTest::keyClick(dlg.Control(IDC_CONNECT), Qt::Key_Return);
    QVERIFY(dlg.isVisible());
    QVERIFY(dlg.Controller().m_hPort);
    // In a field it ends the window like OK.
    dlg.Edit(IDC_CUR_RA_M)->setFocus();
    QTest::keyClick(dlg.Edit(IDC_CUR_RA_M), Qt::Key_Return);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));

    ControlDlgHarness h2;
    CControlDlg& dlg2 = h2.Start();
    dlg2.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg2));
    dlg2.Edit(IDC_CUR_RA_M)->setFocus();
    QTest::keyClick(dlg2.Edit(IDC_CUR_RA_M), Qt::Key_Escape);
    QVERIFY(!dlg2.isVisible());
    QCOMPARE(dlg2.result(), int(QDialog::Rejected));
}

QTEST_MAIN(ControlDlgStatesTest)
#include "control_dlg_states_test.moc"
