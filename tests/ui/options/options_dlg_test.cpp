// The options dialog on its own: what it shows for the controller's
// settings, the maximum goto speed field with its slider and colours, the
// clock labels, the gap spins, and what OK, Cancel and Escape leave behind.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include "mount/mount_controller.h"
#include "ui/options/options_dlg.h"
#include "ui/widgets/up_down.h"

namespace {

const QColor kBlue(0, 0, 255);
const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);

// Ports 1 and 3 are present on the test machine.
std::vector<tavro::PresentPort> TwoPorts(const tavro::PortMap&)
{
    return {{1, "/dev/ttyS0"}, {3, "/dev/ttyS2"}};
}

// Replaces the field's text as an operator would: select all, then type.
void Retype(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

struct Fixture {
    CMountController controller;
    COptionsDlg dlg;

    explicit Fixture(int comPort = 1, bool connectOnStart = false)
    {
        dlg.SetPortLister(TwoPorts);
        dlg.m_nComPort = comPort;
        dlg.m_bConnectOnStart = connectOnStart;
        dlg.m_pController = &controller;
        dlg.show();
    }
};

bool IsBlueOnWhite(const QLineEdit* edit)
{
    return edit->palette().color(QPalette::Text) == kBlue &&
           edit->palette().color(QPalette::Base) == kWhite;
}

bool IsWhiteOnRed(const QLineEdit* edit)
{
    return edit->palette().color(QPalette::Text) == kWhite &&
           edit->palette().color(QPalette::Base) == kRed;
}

}  // namespace

class OptionsDlgTest : public QObject {
    Q_OBJECT

private slots:
    void opensWithDefaultSettings();
    void opensWithStoredSettings();
    void withoutControllerFillsNothing();
    void speedFieldValidityAndSlider_data();
    void speedFieldValidityAndSlider();
    void okStoresTheSlidersLastValidSpeed();
    void speedSliderWritesTheField();
    void clockLabels_data();
    void clockLabels();
    void raSpinRunsFromZeroToFourMinutes();
    void decSpinRunsFromZeroToSixtyArcMinutes();
    void heldSpinOvershootShowsTheEndOfTheRange();
    void arrowKeysInAGapFieldMoveItsSpin();
    void mouseClickOnTheSpinArrows();
    void okTakesTheGapsFromTheSpins();
    void storedRaGapBeyondTheSpinRange();
    void okWritesEverySetting();
    void okWithoutSelectionTakesTheLastConnectsPort();
    void cancelEscapeAndCloseChangeNothing_data();
    void cancelEscapeAndCloseChangeNothing();
    void enterInTheSpeedFieldPressesOk();
};

void OptionsDlgTest::opensWithDefaultSettings()
{
    Fixture f(3);
    COptionsDlg& d = f.dlg;
    QCOMPARE(d.windowTitle(), QStringLiteral("Tavro Options"));
    QCOMPARE(d.m_comboPort->currentText(), QStringLiteral("COM3"));
    QCOMPARE(d.m_comboPort->currentData().toInt(), 3);
    QVERIFY(!d.m_checkConnectOnStart->isChecked());
    QVERIFY(d.m_wndEQ5->isChecked());
    QVERIFY(!d.m_wndEQ4->isChecked());
    QCOMPARE(d.m_sliderMaxGotoSpeed->value(), 76);
    QCOMPARE(d.m_sliderMaxGotoSpeed->minimum(), 48);
    QCOMPARE(d.m_sliderMaxGotoSpeed->maximum(), 255);
    QCOMPARE(d.m_editMaxGotoSpeed->text(), QStringLiteral("76"));
    QVERIFY(IsBlueOnWhite(d.m_editMaxGotoSpeed));
    QCOMPARE(d.m_sliderClock->value(), 3);
    QCOMPARE(qobject_cast<QLineEdit*>(d.Control(COptionsDlg::IDC_CLOCK_TEXT))->text(),
             QStringLiteral("Def."));
    QCOMPARE(d.m_sliderAutoguide->value(), 2);
    QCOMPARE(d.m_sliderAutoguide->maximum(), 4);
    QCOMPARE(qobject_cast<QLineEdit*>(d.Control(COptionsDlg::IDC_AUTOGUIDE_STEPS))->text(),
             QStringLiteral("2"));
    QCOMPARE(d.m_comboK3CCDGuide->count(), 3);
    QCOMPARE(d.m_comboK3CCDGuide->itemText(0), QStringLiteral(" Allow Dec reverse"));
    QCOMPARE(d.m_comboK3CCDGuide->itemText(1), QStringLiteral(" Disable Dec+"));
    QCOMPARE(d.m_comboK3CCDGuide->itemText(2), QStringLiteral(" Disable Dec-"));
    QCOMPARE(d.m_comboK3CCDGuide->currentIndex(), 0);
    QCOMPARE(d.m_editRaGap->text(), QStringLiteral("0.00 m"));
    QCOMPARE(d.m_editDecGap->text(), QStringLiteral("0.0'"));
    QCOMPARE(d.m_spinRaGap->Pos(), 0);
    QCOMPARE(d.m_spinRaGap->High(), 400);
    QCOMPARE(d.m_spinDecGap->Pos(), 0);
    QCOMPARE(d.m_spinDecGap->High(), 600);
    QVERIFY(d.m_editRaGap->isReadOnly());
    QVERIFY(d.m_editDecGap->isReadOnly());
    QVERIFY(!d.m_editMaxGotoSpeed->isReadOnly());
}

void OptionsDlgTest::opensWithStoredSettings()
{
    CMountController controller;
    controller.SetMountModel(0);
    controller.SetMaxGotoSpeed(200);
    controller.SetClockCorrection(5);
    controller.SetAutoguideSteps(4);
    controller.SetK3CCDOption(2);
    controller.SetGaps(1.25, 12.5);
    COptionsDlg d;
    d.SetPortLister(TwoPorts);
    d.m_nComPort = 1;
    d.m_bConnectOnStart = true;
    d.m_pController = &controller;
    d.InitialiseOnce();
    QVERIFY(d.m_checkConnectOnStart->isChecked());
    QVERIFY(d.m_wndEQ4->isChecked());
    QVERIFY(!d.m_wndEQ5->isChecked());
    QCOMPARE(d.m_editMaxGotoSpeed->text(), QStringLiteral("200"));
    QCOMPARE(qobject_cast<QLineEdit*>(d.Control(COptionsDlg::IDC_CLOCK_TEXT))->text(),
             QStringLiteral("+0.2%"));
    QCOMPARE(d.m_comboK3CCDGuide->currentText(), QStringLiteral(" Disable Dec-"));
    QCOMPARE(d.m_editRaGap->text(), QStringLiteral("1.25 m"));
    QCOMPARE(d.m_spinRaGap->Pos(), 125);
    QCOMPARE(d.m_editDecGap->text(), QStringLiteral("12.5'"));
    QCOMPARE(d.m_spinDecGap->Pos(), 125);

    // An option outside 0..2 leaves the guide list without a selection.
    CMountController odd;
    odd.SetK3CCDOption(7);
    COptionsDlg d2;
    d2.SetPortLister(TwoPorts);
    d2.m_pController = &odd;
    d2.InitialiseOnce();
    QCOMPARE(d2.m_comboK3CCDGuide->currentIndex(), -1);
}

void OptionsDlgTest::withoutControllerFillsNothing()
{
    int listerCalls = 0;
    COptionsDlg d;
    d.SetPortLister([&](const tavro::PortMap&) {
        ++listerCalls;
        return TwoPorts({});
    });
    d.m_nComPort = 3;
    d.m_bConnectOnStart = true;
    d.show();
    QCOMPARE(listerCalls, 0);
    QCOMPARE(d.m_comboPort->count(), 0);
    QVERIFY(!d.m_checkConnectOnStart->isChecked());
    QVERIFY(d.m_editMaxGotoSpeed->text().isEmpty());
    QVERIFY(IsWhiteOnRed(d.m_editMaxGotoSpeed));
    QVERIFY(d.m_editRaGap->text().isEmpty());
    QVERIFY(!d.m_wndEQ4->isChecked() && !d.m_wndEQ5->isChecked());
    QCOMPARE(d.m_comboK3CCDGuide->currentIndex(), -1);
    // OK has no controller to write to and keeps the port it was given.
    d.OnOK();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(d.m_nComPort, 3);
}

void OptionsDlgTest::speedFieldValidityAndSlider_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("slider");
    QTest::newRow("47") << "47" << false << 76;
    QTest::newRow("48") << "48" << true << 48;
    QTest::newRow("255") << "255" << true << 255;
    QTest::newRow("256") << "256" << false << 76;
    QTest::newRow("empty") << "" << false << 76;
    QTest::newRow("leading blank") << " 100" << true << 100;
    // "100" moved the slider before the letter came.
    QTest::newRow("trailing letter") << "100a" << false << 100;
    QTest::newRow("minus") << "-50" << false << 76;
    QTest::newRow("beyond 32 bits") << "4294967344" << false << 76;
}

void OptionsDlgTest::speedFieldValidityAndSlider()
{
    QFETCH(QString, typed);
    QFETCH(bool, valid);
    QFETCH(int, slider);
    Fixture f;
    Retype(f.dlg.m_editMaxGotoSpeed, typed);
    QCOMPARE(f.dlg.m_editMaxGotoSpeed->text(), typed);
    QCOMPARE(IsBlueOnWhite(f.dlg.m_editMaxGotoSpeed), valid);
    QCOMPARE(IsWhiteOnRed(f.dlg.m_editMaxGotoSpeed), !valid);
    QCOMPARE(f.dlg.m_sliderMaxGotoSpeed->value(), slider);
    // Typing never writes the field back or changes the controller.
    QCOMPARE(f.controller.Settings().maxGotoSpeed, 76);
}

void OptionsDlgTest::okStoresTheSlidersLastValidSpeed()
{
    Fixture f;
    QLineEdit* edit = f.dlg.m_editMaxGotoSpeed;
    Retype(edit, QStringLiteral("120"));
    QCOMPARE(f.dlg.m_sliderMaxGotoSpeed->value(), 120);
    // Each keystroke is judged: "3" and "30" are too small, "300" too large.
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_3);
    QVERIFY(IsWhiteOnRed(edit));
    QTest::keyClick(edit, Qt::Key_0);
    QVERIFY(IsWhiteOnRed(edit));
    QTest::keyClick(edit, Qt::Key_0);
    QVERIFY(IsWhiteOnRed(edit));
    QCOMPARE(edit->text(), QStringLiteral("300"));
    f.dlg.OnOK();
    QCOMPARE(f.controller.Settings().maxGotoSpeed, 120);
    QCOMPARE(f.dlg.result(), int(QDialog::Accepted));
}

void OptionsDlgTest::speedSliderWritesTheField()
{
    Fixture f;
    QSlider* slider = f.dlg.m_sliderMaxGotoSpeed;
    QTest::keyClick(slider, Qt::Key_Right);
    QCOMPARE(slider->value(), 77);
    QCOMPARE(f.dlg.m_editMaxGotoSpeed->text(), QStringLiteral("77"));
    QTest::keyClick(slider, Qt::Key_End);
    QCOMPARE(f.dlg.m_editMaxGotoSpeed->text(), QStringLiteral("255"));
    QVERIFY(IsBlueOnWhite(f.dlg.m_editMaxGotoSpeed));
    // A red field is overwritten by the next move of the slider.
    Retype(f.dlg.m_editMaxGotoSpeed, QStringLiteral("abc"));
    QTest::keyClick(slider, Qt::Key_Left);
    QCOMPARE(f.dlg.m_editMaxGotoSpeed->text(), QStringLiteral("254"));
    QVERIFY(IsBlueOnWhite(f.dlg.m_editMaxGotoSpeed));
}

void OptionsDlgTest::clockLabels_data()
{
    QTest::addColumn<int>("rightPresses");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("label");
    QTest::newRow("1") << 0 << 1 << "-0.2%";
    QTest::newRow("2") << 1 << 2 << "-0.1%";
    QTest::newRow("3") << 2 << 3 << "Def.";
    QTest::newRow("4") << 3 << 4 << "+0.1%";
    QTest::newRow("5") << 4 << 5 << "+0.2%";
    QTest::newRow("stops at 5") << 6 << 5 << "+0.2%";
}

void OptionsDlgTest::clockLabels()
{
    QFETCH(int, rightPresses);
    QFETCH(int, position);
    QFETCH(QString, label);
    Fixture f;
    QSlider* slider = f.dlg.m_sliderClock;
    QTest::keyClick(slider, Qt::Key_Home);
    for (int i = 0; i < rightPresses; ++i)
        QTest::keyClick(slider, Qt::Key_Right);
    QCOMPARE(slider->value(), position);
    QCOMPARE(qobject_cast<QLineEdit*>(f.dlg.Control(COptionsDlg::IDC_CLOCK_TEXT))->text(), label);
    f.dlg.OnOK();
    QCOMPARE(f.controller.Settings().clockCorrection, position);
}

void OptionsDlgTest::raSpinRunsFromZeroToFourMinutes()
{
    Fixture f;
    CUpDown* spin = f.dlg.m_spinRaGap;
    spin->Step(-1);   // already at the bottom: stays, text unchanged
    QCOMPARE(spin->Pos(), 0);
    QCOMPARE(f.dlg.m_editRaGap->text(), QStringLiteral("0.00 m"));
    spin->Step(1);
    QCOMPARE(f.dlg.m_editRaGap->text(), QStringLiteral("0.01 m"));
    for (int i = 0; i < 124; ++i)
        spin->Step(1);
    QCOMPARE(f.dlg.m_editRaGap->text(), QStringLiteral("1.25 m"));
    for (int i = 0; i < 275; ++i)
        spin->Step(1);
    QCOMPARE(spin->Pos(), 400);
    QCOMPARE(f.dlg.m_editRaGap->text(), QStringLiteral("4.00 m"));
    spin->Step(1);
    QCOMPARE(spin->Pos(), 400);
    QCOMPARE(f.dlg.m_editRaGap->text(), QStringLiteral("4.00 m"));
}

void OptionsDlgTest::decSpinRunsFromZeroToSixtyArcMinutes()
{
    Fixture f;
    CUpDown* spin = f.dlg.m_spinDecGap;
    spin->Step(1);
    QCOMPARE(f.dlg.m_editDecGap->text(), QStringLiteral("0.1'"));
    for (int i = 0; i < 124; ++i)
        spin->Step(1);
    QCOMPARE(f.dlg.m_editDecGap->text(), QStringLiteral("12.5'"));
    for (int i = 0; i < 500; ++i)
        spin->Step(1);
    QCOMPARE(spin->Pos(), 600);
    QCOMPARE(f.dlg.m_editDecGap->text(), QStringLiteral("60.0'"));
    spin->Step(-1);
    QCOMPARE(f.dlg.m_editDecGap->text(), QStringLiteral("59.9'"));
}

void OptionsDlgTest::heldSpinOvershootShowsTheEndOfTheRange()
{
    // A held arrow proposes several steps at once; when that passes the end
    // the spin stops at the end, and the text says so.
    Fixture f;
    CUpDown* spin = f.dlg.m_spinRaGap;
    spin->SetPos(398);
    spin->Step(5);
    QCOMPARE(spin->Pos(), 400);
    QCOMPARE(f.dlg.m_editRaGap->text(), QStringLiteral("4.00 m"));
    spin->SetPos(10);
    spin->Step(-20);
    QCOMPARE(spin->Pos(), 0);
    QCOMPARE(f.dlg.m_editRaGap->text(), QStringLiteral("0.00 m"));
    f.dlg.m_spinDecGap->SetPos(590);
    f.dlg.m_spinDecGap->Step(20);
    QCOMPARE(f.dlg.m_editDecGap->text(), QStringLiteral("60.0'"));
}

void OptionsDlgTest::arrowKeysInAGapFieldMoveItsSpin()
{
    Fixture f;
    QTest::keyClick(f.dlg.m_editRaGap, Qt::Key_Up);
    QTest::keyClick(f.dlg.m_editRaGap, Qt::Key_Up);
    QCOMPARE(f.dlg.m_spinRaGap->Pos(), 2);
    QCOMPARE(f.dlg.m_editRaGap->text(), QStringLiteral("0.02 m"));
    QTest::keyClick(f.dlg.m_editDecGap, Qt::Key_Up);
    QTest::keyClick(f.dlg.m_editDecGap, Qt::Key_Down);
    QTest::keyClick(f.dlg.m_editDecGap, Qt::Key_Down);
    QCOMPARE(f.dlg.m_spinDecGap->Pos(), 0);
    QCOMPARE(f.dlg.m_editDecGap->text(), QStringLiteral("0.0'"));
    // Typing into a read-only gap field changes nothing.
    QTest::keyClicks(f.dlg.m_editRaGap, QStringLiteral("9"));
    QCOMPARE(f.dlg.m_editRaGap->text(), QStringLiteral("0.02 m"));
}

void OptionsDlgTest::mouseClickOnTheSpinArrows()
{
    Fixture f;
    CUpDown* spin = f.dlg.m_spinDecGap;
    const QPoint up(spin->width() / 2, 2);
    const QPoint down(spin->width() / 2, spin->height() - 3);
    QTest::mouseClick(spin, Qt::LeftButton, {}, up);
    QTest::mouseClick(spin, Qt::LeftButton, {}, up);
    QTest::mouseClick(spin, Qt::LeftButton, {}, down);
    QCOMPARE(spin->Pos(), 1);
    QCOMPARE(f.dlg.m_editDecGap->text(), QStringLiteral("0.1'"));
}

void OptionsDlgTest::okTakesTheGapsFromTheSpins()
{
    Fixture f;
    for (int i = 0; i < 150; ++i)
        f.dlg.m_spinRaGap->Step(1);
    for (int i = 0; i < 25; ++i)
        f.dlg.m_spinDecGap->Step(1);
    QCOMPARE(f.dlg.m_editRaGap->text(), QStringLiteral("1.50 m"));
    QCOMPARE(f.dlg.m_editDecGap->text(), QStringLiteral("2.5'"));
    f.dlg.OnOK();
    QCOMPARE(f.controller.Settings().raGapMinutes, 1.5);
    QCOMPARE(f.controller.Settings().decGapArcmin, 2.5);
}

void OptionsDlgTest::storedRaGapBeyondTheSpinRange()
{
    CMountController controller;
    controller.SetGaps(10.0, 0.0);
    COptionsDlg d;
    d.SetPortLister(TwoPorts);
    d.m_pController = &controller;
    d.show();
    QCOMPARE(d.m_editRaGap->text(), QStringLiteral("10.00 m"));
    QCOMPARE(d.m_spinRaGap->Pos(), 400);
    // At the top already: an up click leaves the stored value's text.
    d.m_spinRaGap->Step(1);
    QCOMPARE(d.m_editRaGap->text(), QStringLiteral("10.00 m"));
    d.OnOK();
    QCOMPARE(controller.Settings().raGapMinutes, 4.0);
    QCOMPARE(controller.Settings().decGapArcmin, 0.0);
}

void OptionsDlgTest::okWritesEverySetting()
{
    Fixture f(1);
    COptionsDlg& d = f.dlg;
    d.m_comboPort->setCurrentIndex(1);   // COM3
    d.m_checkConnectOnStart->click();
    d.m_wndEQ4->click();
    Retype(d.m_editMaxGotoSpeed, QStringLiteral("150"));
    QTest::keyClick(d.m_sliderClock, Qt::Key_Left);
    QTest::keyClick(d.m_sliderAutoguide, Qt::Key_Right);
    QCOMPARE(qobject_cast<QLineEdit*>(d.Control(COptionsDlg::IDC_AUTOGUIDE_STEPS))->text(),
             QStringLiteral("3"));
    d.m_comboK3CCDGuide->setCurrentIndex(1);
    d.m_spinRaGap->Step(1);
    d.m_spinDecGap->Step(1);
    QTest::mouseClick(qobject_cast<QWidget*>(d.Control(IDOK)), Qt::LeftButton);
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(d.m_nComPort, 3);
    QVERIFY(d.m_bConnectOnStart);
    QCOMPARE(f.controller.Settings().model, tavro::MountModel::EQ4);
    QCOMPARE(f.controller.Settings().maxGotoSpeed, 150);
    QCOMPARE(f.controller.Settings().clockCorrection, 2);
    QCOMPARE(f.controller.Settings().autoguideSteps, 3);
    QCOMPARE(f.controller.Settings().k3ccdOption, 1);
    QCOMPARE(f.controller.Settings().raGapMinutes, 0.01);
    QCOMPARE(f.controller.Settings().decGapArcmin, 0.1);
    QCOMPARE(f.controller.m_nPort, 1);   // the dialog never connects
}

void OptionsDlgTest::okWithoutSelectionTakesTheLastConnectsPort()
{
    // Port 9 is not present: nothing is selected, and OK falls back on the
    // port of the last connect.
    Fixture f(9);
    f.controller.m_nPort = 3;
    QCOMPARE(f.dlg.m_comboPort->currentIndex(), -1);
    f.dlg.OnOK();
    QCOMPARE(f.dlg.m_nComPort, 3);
}

void OptionsDlgTest::cancelEscapeAndCloseChangeNothing_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Cancel button") << 0;
    QTest::newRow("Escape key") << 1;
    QTest::newRow("close box") << 2;
}

void OptionsDlgTest::cancelEscapeAndCloseChangeNothing()
{
    QFETCH(int, how);
    Fixture f(1);
    COptionsDlg& d = f.dlg;
    d.m_comboPort->setCurrentIndex(1);
    d.m_checkConnectOnStart->click();
    d.m_wndEQ4->click();
    QTest::keyClick(d.m_sliderMaxGotoSpeed, Qt::Key_End);
    QTest::keyClick(d.m_sliderClock, Qt::Key_End);
    QTest::keyClick(d.m_sliderAutoguide, Qt::Key_End);
    d.m_comboK3CCDGuide->setCurrentIndex(2);
    d.m_spinRaGap->Step(7);
    d.m_spinDecGap->Step(9);
    if (how == 0)
        QTest::mouseClick(d.Control(IDCANCEL), Qt::LeftButton);
    else if (how == 1)
        QTest::keyClick(&d, Qt::Key_Escape);
    else
        d.close();
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QVERIFY(!d.isVisible());
    QCOMPARE(d.m_nComPort, 1);
    QVERIFY(!d.m_bConnectOnStart);
    QCOMPARE(f.controller.Settings().model, tavro::MountModel::EQ5);
    QCOMPARE(f.controller.Settings().maxGotoSpeed, 76);
    QCOMPARE(f.controller.Settings().clockCorrection, 3);
    QCOMPARE(f.controller.Settings().autoguideSteps, 2);
    QCOMPARE(f.controller.Settings().k3ccdOption, 0);
    QCOMPARE(f.controller.Settings().raGapMinutes, 0.0);
    QCOMPARE(f.controller.Settings().decGapArcmin, 0.0);
}

void OptionsDlgTest::enterInTheSpeedFieldPressesOk()
{
    Fixture f;
    f.dlg.activateWindow();
    f.dlg.m_editMaxGotoSpeed->setFocus();
    Retype(f.dlg.m_editMaxGotoSpeed, QStringLiteral("99"));
    QTest::keyClick(f.dlg.m_editMaxGotoSpeed, Qt::Key_Return);
    QCOMPARE(f.dlg.result(), int(QDialog::Accepted));
    QCOMPARE(f.controller.Settings().maxGotoSpeed, 99);
}

QTEST_MAIN(OptionsDlgTest)
#include "options_dlg_test.moc"
