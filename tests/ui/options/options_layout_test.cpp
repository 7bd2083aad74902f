// The options dialog's template: every control at its place in dialog
// units, in template (tab) order, with its caption and style; and the small
// pieces of arithmetic behind the dialog's texts and spins.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <cmath>
#include <limits>

#include "mount/mount_controller.h"
#include "ui/widgets/dialog_units.h"
#include "ui/options/options_dlg.h"
#include "ui/options/options_logic.h"
#include "ui/widgets/up_down.h"

namespace {

// How a control may differ from its template place: not at all, or (a
// field too narrow for its widest text in the desktop font) grown to the
// left or to the right.
enum Grow { Exact, Left, Right };

struct Placed {
    int id;
    int x, y, w, h;
    Grow grow = Exact;
    const char* widest = nullptr;   // the longest text a grown field shows
};

// The controls with an id, in template order.
const Placed kControls[] = {
    {COptionsDlg::IDC_PORT, 63, 18, 44, 14},   // closed height: that of the fields
    {COptionsDlg::IDC_CONNECT_ON_START, 21, 39, 70, 10},
    {COptionsDlg::IDC_EQ4, 138, 19, 32, 10},
    {COptionsDlg::IDC_EQ5, 138, 36, 32, 10},
    {COptionsDlg::IDC_CLOCK_SLIDER, 204, 31, 120, 15},
    {COptionsDlg::IDC_CLOCK_TEXT, 324, 31, 25, 14, Right, "+0.2%"},
    {COptionsDlg::IDC_RA_GAP, 139, 77, 26, 14, Left, "60.00 m"},
    {COptionsDlg::IDC_RA_GAP_SPIN, 166, 77, 11, 14},
    {COptionsDlg::IDC_DEC_GAP, 139, 98, 26, 14, Left, "60.0'"},
    {COptionsDlg::IDC_DEC_GAP_SPIN, 166, 98, 11, 14},
    {COptionsDlg::IDC_MAX_GOTO_SPEED_SLIDER, 19, 133, 120, 15},
    {COptionsDlg::IDC_MAX_GOTO_SPEED, 139, 133, 26, 14, Right, "255"},
    {COptionsDlg::IDC_AUTOGUIDE_SLIDER, 204, 92, 120, 15},
    {COptionsDlg::IDC_AUTOGUIDE_STEPS, 324, 92, 25, 14, Right, "4"},
    {COptionsDlg::IDC_K3CCD_GUIDE, 269, 133, 81, 14},
    {IDOK, 128, 165, 50, 14},
    {IDCANCEL, 202, 165, 50, 14},
};

struct Captioned {
    const char* caption;
    int x, y, w, h;
};

const Captioned kFrames[] = {
    {" Connection ", 7, 3, 108, 55}, {" Clock ", 192, 3, 171, 55},
    {" Goto ", 7, 63, 181, 94},      {" Autoguide ", 192, 63, 171, 94},
    {" Mount ", 119, 3, 69, 55},
};

const Captioned kLabels[] = {
    {"Serial port:", 20, 20, 34, 8},           {"Clock speed correction:", 205, 20, 76, 8},
    {"Ra Gap (time minutes):", 20, 80, 72, 8}, {"Dec Gap (arc minutes):", 20, 101, 74, 8},
    {"Max Goto Speed:", 20, 122, 56, 8},       {"Autoguide step count:", 205, 81, 70, 8},
    {"K3CCD guide:", 205, 135, 46, 8},
};

}  // namespace

class OptionsLayoutTest : public QObject {
    Q_OBJECT

private slots:
    void controlsAtTheirPlaces();
    void framesAndLabels();
    void tabOrderIsTemplateOrder();
    void captionsAndStyles();
    void framesDoNotSwallowClicks();
    void clockLabelOutsideTheRangeIsEmpty();
    void gapTexts_data();
    void gapTexts();
    void gapSpinPosition_data();
    void gapSpinPosition();
    void gapTextPosition_data();
    void gapTextPosition();
};

void OptionsLayoutTest::controlsAtTheirPlaces()
{
    COptionsDlg dlg;
    const tavro::ui::DialogUnits du(tavro::ui::DialogFont());
    QCOMPARE(dlg.size(), QSize(du.X(370), du.Y(185)));
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
    for (const Placed& c : kControls) {
        QWidget* w = dlg.Control(c.id);
        QVERIFY2(w != nullptr, qPrintable(QString::number(c.id)));
        const QRect place = du.Rect(c.x, c.y, c.w, c.h);
        const QRect got = w->geometry();
        if (c.grow == Exact) {
            QCOMPARE(got, place);
            continue;
        }
        QCOMPARE(got.top(), place.top());
        QCOMPARE(got.height(), place.height());
        QCOMPARE(c.grow == Left ? got.right() : got.left(),
                 c.grow == Left ? place.right() : place.left());
        QVERIFY(got.width() >= place.width());
        QVERIFY2(w->fontMetrics().horizontalAdvance(QLatin1String(c.widest)) + 4 < got.width(),
                 c.widest);
    }
    // Grown fields still keep clear of their neighbours.
    QVERIFY(dlg.Control(COptionsDlg::IDC_CLOCK_TEXT)->geometry().right() < du.X(363));
    QVERIFY(dlg.Control(COptionsDlg::IDC_MAX_GOTO_SPEED)->geometry().right() < du.X(188));
    QVERIFY(dlg.Control(COptionsDlg::IDC_RA_GAP)->geometry().left() > du.X(20 + 74));
    QVERIFY(dlg.Control(4711) == nullptr);
}

void OptionsLayoutTest::framesAndLabels()
{
    COptionsDlg dlg;
    const tavro::ui::DialogUnits du(tavro::ui::DialogFont());
    const auto boxes = dlg.findChildren<QGroupBox*>();
    QCOMPARE(boxes.size(), qsizetype(std::size(kFrames)));
    for (const Captioned& f : kFrames) {
        auto it = std::find_if(boxes.begin(), boxes.end(),
                               [&](QGroupBox* b) { return b->title() == QLatin1String(f.caption); });
        QVERIFY2(it != boxes.end(), f.caption);
        QCOMPARE((*it)->geometry(), du.Rect(f.x, f.y, f.w, f.h));
    }
    const auto labels = dlg.findChildren<QLabel*>();
    QCOMPARE(labels.size(), qsizetype(std::size(kLabels)));
    for (const Captioned& l : kLabels) {
        auto it = std::find_if(labels.begin(), labels.end(),
                               [&](QLabel* t) { return t->text() == QLatin1String(l.caption); });
        QVERIFY2(it != labels.end(), l.caption);
        // A label may run wider than its template place, never cut short.
        const QRect place = du.Rect(l.x, l.y, l.w, l.h);
        QCOMPARE((*it)->pos(), place.topLeft());
        QCOMPARE((*it)->height(), place.height());
        QVERIFY((*it)->width() >= place.width());
        QVERIFY((*it)->width() >= (*it)->sizeHint().width());
    }
}

void OptionsLayoutTest::tabOrderIsTemplateOrder()
{
    COptionsDlg dlg;
    // Walk the focus chain from the first control and note every control
    // with an id, until the chain comes round.
    QWidget* first = dlg.Control(COptionsDlg::IDC_PORT);
    QList<int> order;
    QWidget* w = first;
    do {
        const int id = COptionsDlg::ControlId(w);
        if (id != 0 && w->focusPolicy() != Qt::NoFocus)
            order << id;
        w = w->nextInFocusChain();
    } while (w != first && order.size() < 64);
    const QList<int> expected{
        COptionsDlg::IDC_PORT,           COptionsDlg::IDC_CONNECT_ON_START,
        COptionsDlg::IDC_EQ4,            COptionsDlg::IDC_EQ5,
        COptionsDlg::IDC_CLOCK_SLIDER,   COptionsDlg::IDC_CLOCK_TEXT,
        COptionsDlg::IDC_RA_GAP,         COptionsDlg::IDC_DEC_GAP,
        COptionsDlg::IDC_MAX_GOTO_SPEED_SLIDER, COptionsDlg::IDC_MAX_GOTO_SPEED,
        COptionsDlg::IDC_AUTOGUIDE_SLIDER, COptionsDlg::IDC_AUTOGUIDE_STEPS,
        COptionsDlg::IDC_K3CCD_GUIDE,    IDOK,
        IDCANCEL};
    QCOMPARE(order, expected);
}

void OptionsLayoutTest::captionsAndStyles()
{
    COptionsDlg dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Tavro Options"));
    QVERIFY(!(dlg.windowFlags() & Qt::WindowContextHelpButtonHint));
    QVERIFY(!(dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(qobject_cast<QCheckBox*>(dlg.Control(COptionsDlg::IDC_CONNECT_ON_START))->text(),
             QStringLiteral("Connect on start "));
    QCOMPARE(dlg.m_wndEQ4->text(), QStringLiteral("EQ-4"));
    QCOMPARE(dlg.m_wndEQ5->text(), QStringLiteral("EQ-5"));
    QVERIFY(dlg.m_wndEQ4->autoExclusive() && dlg.m_wndEQ5->autoExclusive());
    auto* ok = qobject_cast<QPushButton*>(dlg.Control(IDOK));
    auto* cancel = qobject_cast<QPushButton*>(dlg.Control(IDCANCEL));
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QVERIFY(ok->isDefault());
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    QVERIFY(!cancel->isDefault());
    for (QSlider* s : {dlg.m_sliderClock, dlg.m_sliderAutoguide, dlg.m_sliderMaxGotoSpeed}) {
        QCOMPARE(s->orientation(), Qt::Horizontal);
        QCOMPARE(s->tickPosition(), QSlider::NoTicks);
    }
    for (int id : {COptionsDlg::IDC_CLOCK_TEXT, COptionsDlg::IDC_AUTOGUIDE_STEPS,
                   COptionsDlg::IDC_RA_GAP, COptionsDlg::IDC_DEC_GAP})
        QVERIFY(qobject_cast<QLineEdit*>(dlg.Control(id))->isReadOnly());
    QVERIFY(!dlg.m_comboPort->isEditable());
    QVERIFY(!dlg.m_comboK3CCDGuide->isEditable());
    QCOMPARE(dlg.m_spinRaGap->focusPolicy(), Qt::NoFocus);
}

void OptionsLayoutTest::framesDoNotSwallowClicks()
{
    // The " Mount " frame comes last in the template but lies behind its
    // radio buttons: a click on EQ-4 selects it.
    CMountController controller;
    COptionsDlg dlg;
    dlg.SetPortLister([](const tavro::PortMap&) { return std::vector<tavro::PresentPort>{}; });
    dlg.m_pController = &controller;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QPoint onEq4 = dlg.m_wndEQ4->geometry().topLeft() + QPoint(6, dlg.m_wndEQ4->height() / 2);
    QCOMPARE(dlg.childAt(onEq4), static_cast<QWidget*>(dlg.m_wndEQ4));
    QTest::mouseClick(dlg.m_wndEQ4, Qt::LeftButton, {}, QPoint(6, dlg.m_wndEQ4->height() / 2));
    QVERIFY(dlg.m_wndEQ4->isChecked());
    QVERIFY(!dlg.m_wndEQ5->isChecked());
}

void OptionsLayoutTest::clockLabelOutsideTheRangeIsEmpty()
{
    for (int position : {-1, 0, 6, 1029})
        QCOMPARE(tavro::ui::ClockCorrectionLabel(position), QString());
}

void OptionsLayoutTest::gapTexts_data()
{
    QTest::addColumn<double>("gap");
    QTest::addColumn<QString>("ra");
    QTest::addColumn<QString>("dec");
    QTest::newRow("0") << 0.0 << "0.00 m" << "0.0'";
    QTest::newRow("1.5") << 1.5 << "1.50 m" << "1.5'";
    QTest::newRow("2.54") << 2.54 << "2.54 m" << "2.5'";
    QTest::newRow("2.675 rounds on its binary value") << 2.675 << "2.67 m" << "2.7'";
    QTest::newRow("0.05") << 0.05 << "0.05 m" << "0.1'";
    QTest::newRow("60") << 60.0 << "60.00 m" << "60.0'";
}

void OptionsLayoutTest::gapTexts()
{
    QFETCH(double, gap);
    QFETCH(QString, ra);
    QFETCH(QString, dec);
    QCOMPARE(tavro::ui::FormatRaGap(gap), ra);
    QCOMPARE(tavro::ui::FormatDecGap(gap), dec);
}

void OptionsLayoutTest::gapSpinPosition_data()
{
    QTest::addColumn<double>("gap");
    QTest::addColumn<int>("units");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("position");
    QTest::newRow("0") << 0.0 << 100 << 400 << 0;
    QTest::newRow("1.25 m") << 1.25 << 100 << 400 << 125;
    QTest::newRow("rounds half up") << 0.005 << 100 << 400 << 1;
    QTest::newRow("below half") << 0.004 << 100 << 400 << 0;
    QTest::newRow("4.00 m") << 4.0 << 100 << 400 << 400;
    QTest::newRow("10.00 m held at the top") << 10.0 << 100 << 400 << 400;
    QTest::newRow("12.5'") << 12.5 << 10 << 600 << 125;
    QTest::newRow("60.0'") << 60.0 << 10 << 600 << 600;
    QTest::newRow("655.36 m does not wrap to 0") << 655.36 << 100 << 400 << 400;
    QTest::newRow("huge") << 1e300 << 100 << 400 << 400;
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << 10 << 600 << 600;
    QTest::newRow("NaN") << std::nan("") << 100 << 400 << 0;
    QTest::newRow("negative") << -1.0 << 100 << 400 << 0;
}

void OptionsLayoutTest::gapSpinPosition()
{
    QFETCH(double, gap);
    QFETCH(int, units);
    QFETCH(int, max);
    QFETCH(int, position);
    QCOMPARE(tavro::ui::GapSpinPosition(gap, units, max), position);
}

void OptionsLayoutTest::gapTextPosition_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("delta");
    QTest::addColumn<int>("shown");
    QTest::newRow("one up") << 0 << 1 << 1;
    QTest::newRow("one down") << 125 << -1 << 124;
    QTest::newRow("top, up: unchanged") << 400 << 1 << -1;
    QTest::newRow("bottom, down: unchanged") << 0 << -1 << -1;
    QTest::newRow("fast overshoot shows the top") << 398 << 5 << 400;
    QTest::newRow("fast undershoot shows the bottom") << 3 << -20 << 0;
    QTest::newRow("exactly to the top") << 395 << 5 << 400;
}

void OptionsLayoutTest::gapTextPosition()
{
    QFETCH(int, current);
    QFETCH(int, delta);
    QFETCH(int, shown);
    QCOMPARE(tavro::ui::GapTextPosition(current, delta, 400), shown);
}

QTEST_MAIN(OptionsLayoutTest)
#include "options_layout_test.moc"
