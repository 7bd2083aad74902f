// The coordinate fields: validity and colours as typed, the two-character
// limit, and the conversions between a point and its seven texts.

#include <QComboBox>
#include <QLineEdit>
#include <QPalette>
#include <QTest>

#include "tests/ui/control_dlg_test_util.h"
#include "ui/window/point_text.h"

using tavro::test::ControlDlgHarness;
using tavro::ui::FormatPoint;
using tavro::ui::PointTexts;

namespace {

const QColor kBlue(0, 0, 255);
const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);

constexpr int kAllNumberFields[] = {IDC_CUR_RA_H,  IDC_CUR_RA_M,  IDC_CUR_RA_S,  IDC_CUR_DEC_D,
                                    IDC_CUR_DEC_M, IDC_CUR_DEC_S, IDC_NEXT_RA_H, IDC_NEXT_RA_M,
                                    IDC_NEXT_RA_S, IDC_NEXT_DEC_D, IDC_NEXT_DEC_M, IDC_NEXT_DEC_S};

QStringList List(const PointTexts& texts)
{
    return QStringList(texts.begin(), texts.end());
}

PointTexts Texts(const QStringList& list)
{
    PointTexts texts;
    for (size_t i = 0; i < texts.size(); ++i)
        texts[i] = list[static_cast<int>(i)];
    return texts;
}

}  // namespace

class ControlDlgFieldsTest : public QObject {
    Q_OBJECT
private slots:
    void typedTextIsJudgedAndColoured_data();
    void typedTextIsJudgedAndColoured();
    void gotoFollowsTheFieldsWhileConnected();
    void aThirdCharacterIsRefused();
    void signListsAreBlueOnWhite();
    void writePointShowsRoundedSeconds_data();
    void writePointShowsRoundedSeconds();
    void readPointMultipliesWholeSeconds_data();
    void readPointMultipliesWholeSeconds();
    void readPointOfAnUnreadableFieldLeavesThePoint();
    void writtenPointsReadBack();
};

void ControlDlgFieldsTest::typedTextIsJudgedAndColoured_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("valid");

    QTest::newRow("hours 24") << IDC_CUR_RA_H << "24" << false;
    QTest::newRow("hours 23") << IDC_CUR_RA_H << "23" << true;
    QTest::newRow("next hours 24") << IDC_NEXT_RA_H << "24" << false;
    QTest::newRow("empty") << IDC_CUR_RA_M << "" << false;
    QTest::newRow("letter") << IDC_CUR_RA_S << "a" << false;
    QTest::newRow("leading zero") << IDC_NEXT_RA_M << "05" << true;
    QTest::newRow("minutes 59") << IDC_CUR_DEC_M << "59" << true;
    QTest::newRow("minutes 60") << IDC_CUR_DEC_M << "60" << false;
    QTest::newRow("seconds 60") << IDC_NEXT_DEC_S << "60" << false;
    QTest::newRow("degrees 90") << IDC_CUR_DEC_D << "90" << true;
    QTest::newRow("degrees 91") << IDC_NEXT_DEC_D << "91" << false;
    QTest::newRow("leading blank") << IDC_CUR_RA_H << " 5" << true;
    QTest::newRow("trailing blank") << IDC_CUR_RA_H << "5 " << true;
    QTest::newRow("digit then letter") << IDC_CUR_RA_H << "5a" << false;
    QTest::newRow("plus sign") << IDC_CUR_DEC_D << "+5" << false;
    QTest::newRow("minus sign") << IDC_CUR_DEC_D << "-5" << false;
    QTest::newRow("two blanks") << IDC_CUR_RA_M << "  " << false;
}

void ControlDlgFieldsTest::typedTextIsJudgedAndColoured()
{
    QFETCH(int, field);
    QFETCH(QString, typed);
    QFETCH(bool, valid);

    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    QVERIFY(h.Connect());
    h.Type(field, typed);
    QCOMPARE(dlg.Edit(field)->text(), typed);
    // "Goto >" needs every field valid; the others all are.
    QCOMPARE(dlg.Control(IDC_GOTO)->isEnabled(), valid);
    const QPalette palette = dlg.Edit(field)->palette();
    QCOMPARE(palette.color(QPalette::Text), valid ? kBlue : kWhite);
    QCOMPARE(palette.color(QPalette::Base), valid ? kWhite : kRed);
}

void ControlDlgFieldsTest::gotoFollowsTheFieldsWhileConnected()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    QVERIFY(h.Connect());
    QWidget* go = dlg.Control(IDC_GOTO);
    QVERIFY(go->isEnabled());

    // Each keystroke re-runs the rules: "2" is valid, "24" is not.
    h.Type(IDC_CUR_RA_H, QStringLiteral("2"));
    QVERIFY(go->isEnabled());
    QTest::keyClick(dlg.Edit(IDC_CUR_RA_H), Qt::Key_4);
    QVERIFY(!go->isEnabled());
    QCOMPARE(dlg.Edit(IDC_CUR_RA_H)->palette().color(QPalette::Base), kRed);
    QTest::keyClick(dlg.Edit(IDC_CUR_RA_H), Qt::Key_Backspace);
    QTest::keyClick(dlg.Edit(IDC_CUR_RA_H), Qt::Key_3);
    QCOMPARE(dlg.Edit(IDC_CUR_RA_H)->text(), QStringLiteral("23"));
    QVERIFY(go->isEnabled());
    QCOMPARE(dlg.Edit(IDC_CUR_RA_H)->palette().color(QPalette::Text), kBlue);

    // 90 degrees 59' 59" passes the field limits.
    h.Type(IDC_NEXT_DEC_D, QStringLiteral("90"));
    h.Type(IDC_NEXT_DEC_M, QStringLiteral("59"));
    h.Type(IDC_NEXT_DEC_S, QStringLiteral("59"));
    QVERIFY(go->isEnabled());

    // A sign change does not re-run the rules, and a field emptied does.
    h.Type(IDC_NEXT_RA_S, QString());
    QVERIFY(!go->isEnabled());
}

void ControlDlgFieldsTest::aThirdCharacterIsRefused()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    for (int id : kAllNumberFields) {
        h.Type(id, QStringLiteral("123"));
        QCOMPARE(dlg.Edit(id)->text(), QStringLiteral("12"));
        QTest::keyClicks(dlg.Edit(id), QStringLiteral("x"));
        QCOMPARE(dlg.Edit(id)->text(), QStringLiteral("12"));
    }
}

void ControlDlgFieldsTest::signListsAreBlueOnWhite()
{
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    for (int id : {IDC_CUR_DEC_SIGN, IDC_NEXT_DEC_SIGN}) {
        QComboBox* list = dlg.SignList(id);
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->itemText(0), QStringLiteral("+"));
        QCOMPARE(list->itemText(1), QStringLiteral("-"));
        QCOMPARE(list->palette().color(QPalette::ButtonText), kBlue);
        QCOMPARE(list->palette().color(QPalette::Text), kBlue);
        QCOMPARE(list->palette().color(QPalette::Base), kWhite);
    }
}

void ControlDlgFieldsTest::writePointShowsRoundedSeconds_data()
{
    QTest::addColumn<double>("ra");
    QTest::addColumn<double>("dec");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("half hours and degrees")
        << 5.5 << -10.5 << QStringList{"5", "30", "0", "-", "10", "30", "0"};
    QTest::newRow("tiny negative dec rounds to +0")
        << 0.0 << -0.0001 << QStringList{"0", "0", "0", "+", "0", "0", "0"};
    QTest::newRow("ra rounds up to 24 h")
        << 23.9999 << 0.0 << QStringList{"24", "0", "0", "+", "0", "0", "0"};
    QTest::newRow("ra from 86399.5 s shows 24 h")
        << 23.999861111111112 << 0.0 << QStringList{"24", "0", "0", "+", "0", "0", "0"};
    QTest::newRow("ra just below 86399.5 s")
        << 23.99986111111111 << 0.0 << QStringList{"23", "59", "59", "+", "0", "0", "0"};
    QTest::newRow("negative dec rounds away from zero")
        << 0.0 << -0.000139 << QStringList{"0", "0", "0", "-", "0", "0", "1"};
    QTest::newRow("pole") << 12.0 << 90.0 << QStringList{"12", "0", "0", "+", "90", "0", "0"};
    QTest::newRow("south pole")
        << 0.25 << -90.0 << QStringList{"0", "15", "0", "-", "90", "0", "0"};
    QTest::newRow("seconds of both")
        << 1.2345 << 45.6789 << QStringList{"1", "14", "4", "+", "45", "40", "44"};
}

void ControlDlgFieldsTest::writePointShowsRoundedSeconds()
{
    QFETCH(double, ra);
    QFETCH(double, dec);
    QFETCH(QStringList, texts);
    QCOMPARE(List(FormatPoint(ra, dec)), texts);
}

void ControlDlgFieldsTest::readPointMultipliesWholeSeconds_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<double>("ra");
    QTest::addColumn<double>("dec");

    QTest::newRow("half hours and degrees")
        << QStringList{"5", "30", "0", "-", "10", "30", "0"} << 5.5 << -10.5;
    // 3 x 0.0002777777777777778 is one unit in the last place below 3 / 3600.
    QTest::newRow("three seconds") << QStringList{"0", "0", "3", "+", "0", "0", "3"}
                                   << 0x1.b4e81b4e81b4ep-11 << 0x1.b4e81b4e81b4ep-11;
    QTest::newRow("limits are not checked")
        << QStringList{"99", "99", "99", "-", "99", "99", "99"} << 100.6775 << -100.6775;
    QTest::newRow("leading zero") << QStringList{"05", "00", "00", "+", "01", "00", "00"} << 5.0
                                  << 1.0;
    QTest::newRow("no sign chosen reads as minus")
        << QStringList{"0", "0", "0", "", "1", "0", "0"} << 0.0 << -1.0;
}

void ControlDlgFieldsTest::readPointMultipliesWholeSeconds()
{
    QFETCH(QStringList, texts);
    QFETCH(double, ra);
    QFETCH(double, dec);
    const auto point = tavro::ui::ReadPoint(Texts(texts));
    QVERIFY(point);
    // Exact: QCOMPARE would forgive the last bits.
    QVERIFY2(point->first == ra, qPrintable(QString::number(point->first, 'g', 17)));
    QVERIFY2(point->second == dec, qPrintable(QString::number(point->second, 'g', 17)));
}

void ControlDlgFieldsTest::readPointOfAnUnreadableFieldLeavesThePoint()
{
    for (int field : {0, 2, 4, 6}) {
        PointTexts texts = FormatPoint(1.0, 2.0);
        texts[static_cast<size_t>(field)] = QStringLiteral("a");
        QVERIFY2(!tavro::ui::ReadPoint(texts), qPrintable(QString::number(field)));
    }
    // In the window: the goto reads its points from the fields, and a Goto
    // with an unreadable field cannot be started (the button is disabled).
    ControlDlgHarness h;
    CControlDlg& dlg = h.Start();
    QVERIFY(h.Connect());
    h.Type(IDC_CUR_DEC_S, QStringLiteral("a"));
    QVERIFY(!dlg.Control(IDC_GOTO)->isEnabled());
}

void ControlDlgFieldsTest::writtenPointsReadBack()
{
    // Whole seconds survive the round trip to the last bit of the factor.
    for (int raSec : {0, 1, 59, 3600, 19800, 45296, 86399}) {
        for (int decSec : {-324000, -37800, -1, 0, 1, 164701, 324000}) {
            const double ra = raSec * 0.0002777777777777778;
            const double dec = decSec * 0.0002777777777777778;
            const auto point = tavro::ui::ReadPoint(FormatPoint(ra, dec));
            QVERIFY(point);
            QVERIFY(point->first == ra);
            QVERIFY(point->second == dec);
        }
    }
}

QTEST_MAIN(ControlDlgFieldsTest)
#include "control_dlg_fields_test.moc"
