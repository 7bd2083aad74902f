#include "ui/app/night_vision.h"

#include <QApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include "ui/widgets/dialog_units.h"
#include "ui/widgets/template_dialog.h"

namespace tavro::ui {

namespace {

// The night colours, red only: black ground, dim red text and frames, a
// brighter red for what has the focus or is pressed.
constexpr QRgb kBlack = 0x000000;
constexpr QRgb kText = 0xa00000;          // labels, captions, field text
constexpr QRgb kDisabledText = 0x500000;  // disabled captions
constexpr QRgb kFrame = 0x500000;         // frames of boxes, fields, buttons
constexpr QRgb kFace = 0x180000;          // button faces
constexpr QRgb kPressed = 0x500000;       // a pressed button's face
constexpr QRgb kFocus = 0xd00000;         // the focus frame, pressed text
constexpr QRgb kFill = 0x700000;          // progress, selection, check marks

QString Css(QRgb colour)
{
    return QColor(colour).name();
}

QPalette NightPalette()
{
    QPalette palette;
    const struct {
        QPalette::ColorRole role;
        QRgb active;
        QRgb disabled;
    } roles[] = {
        {QPalette::Window, kBlack, kBlack},
        {QPalette::WindowText, kText, kDisabledText},
        {QPalette::Base, kBlack, kBlack},
        {QPalette::AlternateBase, kFace, kFace},
        {QPalette::Text, kText, kDisabledText},
        {QPalette::PlaceholderText, kDisabledText, kDisabledText},
        {QPalette::Button, kFace, kBlack},
        {QPalette::ButtonText, kText, kDisabledText},
        {QPalette::BrightText, kFocus, kDisabledText},
        {QPalette::Light, kFill, kFrame},
        {QPalette::Midlight, kFrame, kFrame},
        {QPalette::Mid, kFrame, kFrame},
        {QPalette::Dark, kFace, kFace},
        {QPalette::Shadow, kBlack, kBlack},
        {QPalette::Highlight, kFill, kFrame},
        {QPalette::HighlightedText, kFocus, kDisabledText},
        {QPalette::Link, kText, kDisabledText},
        {QPalette::LinkVisited, kDisabledText, kDisabledText},
        {QPalette::ToolTipBase, kBlack, kBlack},
        {QPalette::ToolTipText, kText, kDisabledText},
    };
    for (const auto& r : roles) {
        palette.setColor(QPalette::Active, r.role, QColor(r.active));
        palette.setColor(QPalette::Inactive, r.role, QColor(r.active));
        palette.setColor(QPalette::Disabled, r.role, QColor(r.disabled));
    }
    return palette;
}

// Frames and faces that Fusion draws in colours of its own (white contrast
// lines, grey frame pictures), drawn here from the night colours instead.
// The group box frame starts where Fusion starts it: below the title.
//
// Line edits are not in it: a style sheet takes a widget's palette once,
// and the validation colours change a field's palette whenever its text
// does. Their frames are the night style's.
QString NightStyleSheet()
{
    const int titleHeight = QFontMetrics(DialogFont()).height() + 5;
    return QStringLiteral(R"(
QPushButton, CUpDown {
    color: %1; background-color: %2; border: 1px solid %3; border-radius: 3px;
}
QPushButton:default { border-color: %5; }
QPushButton:focus { border-color: %4; }
QPushButton:pressed, QPushButton:checked { background-color: %6; color: %4; }
QPushButton:disabled { color: %7; border-color: %2; background-color: %8; }
QGroupBox {
    border: 1px solid %3; border-radius: 3px; margin-top: %9px; margin-left: 1px;
}
QGroupBox::title {
    subcontrol-origin: margin; subcontrol-position: top left; left: -2px; padding: 0px; color: %1;
}
QComboBox { border: 1px solid %3; border-radius: 2px; padding-left: 3px; }
QComboBox:focus { border-color: %4; }
QComboBox QAbstractItemView, QMenu, QToolTip {
    color: %1; background-color: %8; border: 1px solid %3;
    selection-color: %4; selection-background-color: %6;
}
QMenu::item { padding: 3px 20px 3px 20px; }
QMenu::item:selected { color: %4; background-color: %6; }
QMenu::indicator { width: 8px; height: 8px; left: 6px; border: 1px solid %5; }
QMenu::indicator:checked { background-color: %1; }
QProgressBar { border: 1px solid %3; border-radius: 2px; background-color: %8; }
QProgressBar::chunk { background-color: %5; }
QRadioButton::indicator, QCheckBox::indicator {
    width: 12px; height: 12px; border: 1px solid %5; background-color: %8;
}
QRadioButton::indicator { border-radius: 7px; }
QRadioButton::indicator:checked, QCheckBox::indicator:checked { background-color: %1; }
QRadioButton:focus, QCheckBox:focus { color: %4; }
QRadioButton:disabled, QCheckBox:disabled { color: %7; }
QSlider::groove:horizontal {
    height: 4px; border: 1px solid %3; border-radius: 2px; background-color: %2;
}
QSlider::handle:horizontal {
    width: 8px; margin: -5px 0; border: 1px solid %5; border-radius: 2px; background-color: %6;
}
QSlider::handle:horizontal:focus { border-color: %4; }
QHeaderView::section {
    color: %1; background-color: %2; border: none; border-right: 1px solid %3; border-bottom: 1px solid %3;
    padding-left: 3px;
}
QScrollBar { background-color: %8; border: 1px solid %2; }
QScrollBar::handle { background-color: %6; border-radius: 2px; min-height: 12px; min-width: 12px; }
QScrollBar::add-line, QScrollBar::sub-line { background: none; border: none; }
)")
        .arg(Css(kText), Css(kFace), Css(kFrame), Css(kFocus), Css(kFill), Css(kPressed),
             Css(kDisabledText), Css(kBlack))
        .arg(titleHeight);
}

// A picture in shades of red: each pixel's brightness becomes its red, its
// transparency is kept.
QPixmap RedOnly(const QPixmap& pixmap)
{
    QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qRgba(qGray(line[x]) * 3 / 4, 0, 0, qAlpha(line[x]));
    }
    QPixmap red = QPixmap::fromImage(image);
    red.setDevicePixelRatio(pixmap.devicePixelRatio());
    return red;
}

// Fusion with its standard icons (the message boxes' icons, the dialog
// buttons' icons) turned to red, and the frames of line edits, which
// Fusion draws in a shade of the window's colour (black here), drawn in the
// night frame colour, brighter with the focus.
class CNightStyle : public QProxyStyle {
public:
    CNightStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (element != PE_FrameLineEdit) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QColor(option->state.testFlag(State_HasFocus) ? kFocus : kFrame));
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }

    // The text cursor is drawn by inverting what is under it: white on a
    // black field. It takes no room here; CNightCaret draws it in red.
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_TextCursorWidth)
            return 0;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

    QIcon standardIcon(StandardPixmap which, const QStyleOption* option,
                       const QWidget* widget) const override
    {
        const QIcon icon = QProxyStyle::standardIcon(which, option, widget);
        QIcon red;
        for (int size : {16, 22, 24, 32, 48, 64, 128}) {
            const QPixmap pixmap = icon.pixmap(size, size);
            if (!pixmap.isNull())
                red.addPixmap(RedOnly(pixmap));
        }
        return red;
    }

    QPixmap standardPixmap(StandardPixmap which, const QStyleOption* option,
                           const QWidget* widget) const override
    {
        return RedOnly(QProxyStyle::standardPixmap(which, option, widget));
    }
};

// Draws the text cursor of the line edit with the focus, in the focus red
// and steady, after the line edit has drawn itself (without its own).
class CNightCaret : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        auto* edit = qobject_cast<QLineEdit*>(watched);
        if (!edit || !edit->hasFocus() || edit->isReadOnly())
            return false;
        // The line edit first (QObject::event is public: this filter is
        // not run again).
        static_cast<QObject*>(edit)->event(event);
        // The line edit's cursor rectangle has a margin around the cursor's
        // place: that place is its middle.
        const QRect around = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        QPainter painter(edit);
        painter.fillRect(QRect(around.x() + (around.width() + 1) / 2, around.y(), 1, around.height() - 1),
                         QColor(kFocus));
        return true;
    }
};

struct State {
    bool on = false;
    QString dayStyle;   // the style's name before night vision
    CNightCaret* caret = nullptr;
};

State& TheState()
{
    static State state;
    return state;
}

// The validation colours of the open dialogs follow the mode.
void RepaintDialogFields()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (auto* dialog = qobject_cast<CTemplateDialog*>(window))
            dialog->RepaintValidity();
    }
}

}  // namespace

bool NightVisionOn()
{
    return TheState().on;
}

void SetNightVision(bool on)
{
    State& state = TheState();
    if (state.on == on || !qApp)
        return;
    state.on = on;
    if (on) {
        state.dayStyle = QApplication::style()->name();
        QApplication::setStyle(new CNightStyle);
        QApplication::setPalette(NightPalette());
        qApp->setStyleSheet(NightStyleSheet());
        state.caret = new CNightCaret(qApp);
        qApp->installEventFilter(state.caret);
    } else {
        delete state.caret;
        state.caret = nullptr;
        qApp->setStyleSheet(QString());
        // An empty palette: the style's and the desktop's own again.
        QApplication::setPalette(QPalette());
        QApplication::setStyle(state.dayStyle);
    }
    // Windows take a new application palette from an event posted to them
    // (their children at once, from the window's palette of before): now,
    // so that everything is in the new mode when this returns.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::ApplicationPaletteChange);
    if (!on) {
        // A control the style sheet drew gets back the application's font
        // instead of its window's (the dialog font); it inherits it again.
        const QWidgetList widgets = QApplication::allWidgets();
        for (QWidget* widget : widgets) {
            QEvent fontChange(QEvent::ApplicationFontChange);
            QCoreApplication::sendEvent(widget, &fontChange);
        }
    }
    RepaintDialogFields();
}

}  // namespace tavro::ui
