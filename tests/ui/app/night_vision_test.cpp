// Night vision: the windows red only with invalid fields still told apart,
// Ctrl+N and the context menu switching it without touching the mount,
// [Display] keeping it for the next start, off bringing the normal look back.
//
// "Red only": no pixel has green or blue above a quarter of its red plus 8
// (of 255), i.e. g <= r/4 + 8 and b <= r/4 + 8.

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>

#include "mount/mount_controller.h"
#include "tests/support/non_red_pixels.h"
#include "tests/ui/control_dlg_test_util.h"
#include "ui/app/night_vision.h"
#include "ui/options/options_dlg.h"

using tavro::ui::NightVisionOn;

namespace {

using tavro::test::NonRedPixels;

// A field's ground, just inside its frame.
QRgb Ground(QWidget* field)
{
    return field->grab().toImage().pixel(3, 3) & 0xFFFFFF;
}

QByteArray ReadFile(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A main window on the harness's line, connected, shown and active (window
// shortcuts work only then). Tests check `ready` first.
struct Shown {
    explicit Shown(const QByteArray& ini = {})
    {
        if (!ini.isEmpty())
            h.WriteSettings(ini);
        Start();
    }
    void Start()
    {
        CControlDlg& dlg = h.Start();
        dlg.show();
        dlg.activateWindow();
        ready = h.Connect() && QTest::qWaitForWindowActive(&dlg);
    }
    tavro::test::CTestControlDlg& Dlg() { return h.Dlg(); }
    bool Focus(int id) { return Dlg().Control(id)->setFocus(), Dlg().focusWidget() == Dlg().Control(id); }
    // Ctrl+N as the keyboard gives it, to the control with the focus.
    void CtrlN() { QTest::keyClick(Dlg().focusWidget(), Qt::Key_N, Qt::ControlModifier); }

    tavro::test::ControlDlgHarness h;
    bool ready = false;
};

}  // namespace

class NightVisionTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { tavro::ui::SetNightVision(false); }

    void everythingIsRedOnly()
    {
        Shown w;
        QVERIFY(w.ready);
        w.h.Type(IDC_NEXT_RA_M, QStringLiteral("77"));
        QVERIFY(w.Focus(IDC_NEXT_RA_M));   // its text cursor too
        w.CtrlN();
        QVERIFY(NightVisionOn());
        QCOMPARE(NonRedPixels(&w.Dlg()), 0);
        CMountController controller;
        COptionsDlg options;
        options.m_pController = &controller;
        options.SetPortLister([](const tavro::PortMap&) { return std::vector<tavro::PresentPort>{{1, "/dev/ttyS0"}}; });
        options.InitialiseOnce();
        options.m_editMaxGotoSpeed->setText(QStringLiteral("12"));
        QMessageBox box(QMessageBox::Information, QStringLiteral("Error"), QStringLiteral("Port in use."),
                        QMessageBox::Ok, &w.Dlg());
        box.show();
        QCOMPARE(NonRedPixels(&options), 0);
        QCOMPARE(NonRedPixels(&box), 0);
        // A valid field on black, an invalid one on a clearly brighter red.
        QCOMPARE(Ground(w.Dlg().Edit(IDC_NEXT_RA_S)), 0u);
        QVERIFY(qRed(Ground(w.Dlg().Edit(IDC_NEXT_RA_M))) >= 128);
        // Focus and a pressed button stay visible.
        QWidget* pause = w.Dlg().Control(IDC_PAUSE);
        const QImage idle = pause->grab().toImage();
        QVERIFY(w.Focus(IDC_PAUSE));
        const QImage focused = pause->grab().toImage();
        QTest::mousePress(pause, Qt::LeftButton);
        QVERIFY(focused != idle && pause->grab().toImage() != focused);
        QTest::mouseRelease(pause, Qt::LeftButton);
    }

    void offBringsBackTheNormalLook()
    {
        Shown w;
        QVERIFY(w.ready);
        w.h.Type(IDC_NEXT_RA_M, QStringLiteral("77"));
        QVERIFY(w.Focus(IDC_RA_PLUS));
        const QImage before = w.Dlg().grab().toImage();
        QVERIFY(NonRedPixels(&w.Dlg()) > 0);   // the check sees colour
        w.CtrlN();
        w.CtrlN();
        QVERIFY(!NightVisionOn());
        QCOMPARE(w.Dlg().grab().toImage(), before);
        QCOMPARE(Ground(w.Dlg().Edit(IDC_NEXT_RA_S)), 0xFFFFFFu);   // blue on white
        QCOMPARE(Ground(w.Dlg().Edit(IDC_NEXT_RA_M)), 0xFF0000u);   // white on red
    }

    void ctrlNLeavesTheMountAlone_data()
    {
        QTest::addColumn<int>("focus");
        for (int id : {IDC_RA_PLUS, IDC_PAUSE, IDC_FOCUS_FAST_MINUS, IDC_NEXT_RA_M, IDC_CUR_DEC_SIGN,
                       IDC_SPEED_FAST, IDCANCEL})
            QTest::addRow("control %d", id) << id;
    }

    void ctrlNLeavesTheMountAlone()
    {
        QFETCH(int, focus);
        Shown w;
        QVERIFY(w.ready && w.Focus(focus));
        for (bool on : {true, false}) {
            w.CtrlN();
            QCoreApplication::sendPostedEvents();
            QCOMPARE(NightVisionOn(), on);
            QCOMPARE(w.h.m_line.Hex(), std::string());
            QVERIFY(qobject_cast<QRadioButton*>(w.Dlg().Control(IDC_SPEED_SLOW))->isChecked());
            QCOMPARE(w.Dlg().Edit(IDC_NEXT_RA_M)->text(), QStringLiteral("0"));
            QCOMPARE(w.Dlg().focusWidget(), w.Dlg().Control(focus));
        }
    }

    void contextMenuSwitchesIt()
    {
        Shown w;
        QVERIFY(w.ready);
        for (bool on : {true, false}) {
            QString seen = QStringLiteral("no menu");
            QTimer::singleShot(0, this, [&] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                QAction* item = menu ? menu->actions().value(0) : nullptr;
                if (!item)
                    return menu ? void(menu->close()) : void();
                seen = QStringLiteral("%1 %2 %3").arg(item->text()).arg(item->isChecked()).arg(NonRedPixels(menu) == 0);
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
            });
            // A right click on the window's background.
            const QPoint at(w.Dlg().width() - 4, w.Dlg().height() - 4);
            QContextMenuEvent click(QContextMenuEvent::Mouse, at, w.Dlg().mapToGlobal(at));
            QApplication::sendEvent(&w.Dlg(), &click);
            // Checked and drawn red only when opened in night vision.
            QCOMPARE(seen, QStringLiteral("Night vision %1 %1").arg(!on));
            QCOMPARE(NightVisionOn(), on);
        }
    }

    void choiceSurvivesARestart()
    {
        Shown w("[Options]\nConnection=1\n[Ports]\nCOM7=/dev/ttyUSB3\n[Zeta]\nkey=value\n");
        QVERIFY(w.ready);
        w.CtrlN();
        QCOMPARE(ReadFile(w.h.m_path), QByteArray("[Display]\nNightVision=1\n\n[Options]\nConnection=1\n\n"
                                                  "[Ports]\nCOM7=/dev/ttyUSB3\n\n[Zeta]\nkey=value\n"));
        // The next run starts with the mode off, then reads the file.
        w.h.m_dlg.reset();
        tavro::ui::SetNightVision(false);
        w.Start();
        QVERIFY(w.ready && NightVisionOn());
        QCOMPARE(NonRedPixels(&w.Dlg()), 0);
        w.CtrlN();
        QVERIFY(!NightVisionOn() && ReadFile(w.h.m_path).startsWith("[Display]\nNightVision=0\n"));
    }

    void failedSaveIsToldOnce()
    {
        Shown w;
        const QString path = QString::fromStdString(w.h.m_path);
        QVERIFY(w.ready && QFile::link(w.h.m_dir.filePath(QStringLiteral("elsewhere")), path));
        w.CtrlN();
        QVERIFY(NightVisionOn());
        QCOMPARE(w.Dlg().m_errors, QStringList(QStringLiteral("Night vision could not be saved to %1:\nIt is a "
                                                              "symbolic link.\nIt stays on until the program ends.")
                                                   .arg(path)));
    }
};

QTEST_MAIN(NightVisionTest)
#include "night_vision_test.moc"
