#include "ui/window/control_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimerEvent>
#include <QValidator>

#include "sky/catalogue.h"
#include "ui/window/control_dlg_template.h"
#include "ui/widgets/dialog_units.h"
#include "ui/widgets/hold_button.h"
#include "ui/widgets/key_repeat.h"
#include "ui/widgets/validation.h"

namespace {

// Limits what the operator can type or paste into a field to two
// characters; texts the window writes itself are not limited.
class CTwoCharacterLimit : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return input.size() <= 2 ? Acceptable : Invalid;
    }
};

QIcon LoadProgramIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addFile(QStringLiteral(":/tavro/telescope-%1.png").arg(size), QSize(size, size));
    return icon;
}

}  // namespace

CControlDlg::CControlDlg(const std::string& settingsPath, ControlDlgSeams seams, QWidget* parent)
    : CTemplateDialog(parent),
      m_clock(seams.clock ? *seams.clock : tavro::SystemClock()),
      m_controller(m_clock, std::move(seams.portFactory)),
      // The goto's end is queued to the window's thread; a call queued to a
      // window that is being torn down (the controller, a member, ends a
      // goto in its destructor) is dropped.
      m_gotoSession(m_controller, m_clock,
                    [this](std::function<void()> call) {
                        QPointer<CControlDlg> guard(this);
                        QMetaObject::invokeMethod(
                            this,
                            [guard, call = std::move(call)] {
                                if (guard)
                                    call();
                            },
                            Qt::QueuedConnection);
                    }),
      m_pGotoTimer(seams.progressTimer ? seams.progressTimer() : MakeProgressTimer()),
      m_settingsPath(settingsPath)
{
    if (seams.gotoWorker)
        m_controller.SetWorkerLauncher(std::move(seams.gotoWorker));
    if (seams.utcNow)
        m_gotoSession.SetUtcNow(std::move(seams.utcNow));
    m_cataloguePath = std::move(seams.cataloguePath);
    // A caption, a system menu with the close box, a fixed frame; a window
    // of its own in the task bar.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(tavro::ui::kControlDlgCaption));
    setFont(tavro::ui::DialogFont());
    CreateControls();
    CreateNightVisionAction();
    CreateAlignmentActions();
    CreateFindAction();
    m_hIcon = LoadProgramIcon();
}

CControlDlg::~CControlDlg()
{
    // The controls go first; the controller's destructor then ends the link
    // to the board.
    std::vector<QWidget*> controls;
    controls.swap(m_controls);
    for (QWidget* control : controls)
        control->removeEventFilter(this);
    qDeleteAll(controls);
}

void CControlDlg::CreateControls()
{
    using tavro::ui::ControlKind;
    const tavro::ui::DialogUnits du(font());
    setFixedSize(du.X(tavro::ui::kControlDlgWidth), du.Y(tavro::ui::kControlDlgHeight));

    for (const tavro::ui::ControlTemplate& t : tavro::ui::ControlDlgTemplate()) {
        const QString caption = QString::fromUtf8(t.caption);
        QWidget* w = nullptr;
        QRect rect = du.Rect(t.x, t.y, t.width, t.height);
        switch (t.kind) {
        case ControlKind::PushButton: {
            auto* button = new QPushButton(caption, this);
            button->setAutoDefault(false);
            w = button;
            break;
        }
        case ControlKind::HoldButton:
            w = new CHoldButton(caption, this);
            break;
        case ControlKind::RadioButton:
            w = new QRadioButton(caption, this);
            break;
        case ControlKind::GroupBox:
            w = new QGroupBox(caption, this);
            break;
        case ControlKind::Static:
        case ControlKind::StaticCentred: {
            auto* label = new QLabel(caption, this);
            label->setAlignment((t.kind == ControlKind::StaticCentred ? Qt::AlignHCenter
                                                                      : Qt::AlignLeft) |
                                Qt::AlignTop);
            w = label;
            break;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(this);
            connect(edit, &QLineEdit::textChanged, this, [this, edit] {
                ColorField(edit);
                OnChangeCoordinate();
            });
            w = edit;
            break;
        }
        case ControlKind::SignList: {
            auto* list = new QComboBox(this);
            list->addItem(QStringLiteral("+"));
            list->addItem(QStringLiteral("-"));
            // The template's height includes the dropped-down list; the
            // closed list is as tall as the fields beside it.
            rect = du.Rect(t.x, t.y, t.width, 14);
            w = list;
            break;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(this);
            bar->setTextVisible(false);
            w = bar;
            break;
        }
        }
        SetControlId(w, t.id, QStringLiteral("control%1").arg(t.id));
        w->setGeometry(rect);
        w->installEventFilter(this);
        m_controls.push_back(w);
    }

    // Only buttons, edits and lists take the focus by Tab.
    for (QWidget* w : m_controls) {
        if (qobject_cast<QLabel*>(w) || qobject_cast<QGroupBox*>(w) ||
            qobject_cast<QProgressBar*>(w))
            w->setFocusPolicy(Qt::NoFocus);
    }
    Control(IDC_TIME_LEFT)->hide();

    connect(qobject_cast<QPushButton*>(Control(IDC_CONNECT)), &QPushButton::clicked, this,
            &CControlDlg::OnConnect);
    connect(qobject_cast<QPushButton*>(Control(IDC_DISCONNECT)), &QPushButton::clicked, this,
            &CControlDlg::OnDisconnect);
    connect(qobject_cast<QPushButton*>(Control(IDC_GOTO)), &QPushButton::clicked, this,
            &CControlDlg::OnGotoClicked);
    connect(qobject_cast<QPushButton*>(Control(IDC_OPTIONS)), &QPushButton::clicked, this,
            &CControlDlg::OnOptions);
    connect(qobject_cast<QPushButton*>(Control(IDC_K3CCD_MODE)), &QPushButton::clicked, this,
            &CControlDlg::OnK3CCDMode);
    connect(qobject_cast<QPushButton*>(Control(IDCANCEL)), &QPushButton::clicked, this,
            &QDialog::reject);
}

bool CControlDlg::OnInitDialog()
{
    setWindowIcon(m_hIcon);

    // Bold: the dialog font at weight 600; large: bold at 4/3 of the height.
    m_fontBold = font();
    m_fontBold.setWeight(QFont::DemiBold);
    m_fontLarge = m_fontBold;
    m_fontLarge.setPixelSize(QFontInfo(font()).pixelSize() * 4 / 3);
    for (const tavro::ui::ControlTemplate& t : tavro::ui::ControlDlgTemplate()) {
        if (t.font == tavro::ui::FontRole::Bold)
            Control(t.id)->setFont(m_fontBold);
        else if (t.font == tavro::ui::FontRole::Large)
            Control(t.id)->setFont(m_fontLarge);
    }

    for (const tavro::ui::ControlTemplate& t : tavro::ui::ControlDlgTemplate()) {
        if (t.kind == tavro::ui::ControlKind::Edit)
            Edit(t.id)->setValidator(new CTwoCharacterLimit(Edit(t.id)));
    }

    LoadNightVision();
    InitValidationColours();
    for (int id : {IDC_CUR_DEC_SIGN, IDC_NEXT_DEC_SIGN})
        SignList(id)->setCurrentIndex(0);
    PaintFields();

    qobject_cast<QRadioButton*>(Control(IDC_SPEED_SLOW))->setChecked(true);

    const CMountController::Point start = m_controller.CurrentPoint();
    WritePoint(start.ra, start.dec, kCurrentPointFields);
    WritePoint(start.ra, start.dec, kNextPointFields);

    for (int id : {IDC_PROGRESS_RA, IDC_PROGRESS_DEC}) {
        auto* bar = qobject_cast<QProgressBar*>(Control(id));
        bar->setRange(0, 1000);
        bar->setValue(0);
    }

    m_bConnectOnStart = false;
    m_nComPort = 1;
    LoadSettings();
    LoadAlignment();
    UpdateSpeedLabels();
    if (m_bConnectOnStart)
        OnConnect();
    else
        UpdateControls();
    return true;
}

int CControlDlg::DoModal()
{
    return exec();
}

void CControlDlg::setVisible(bool visible)
{
    CTemplateDialog::setVisible(visible);
    if (visible && m_bQuitRequested)
        QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
}

void CControlDlg::RequestQuit()
{
    m_bQuitRequested = true;
    // Nested dialogs first (options, a message box), as their Cancel would;
    // each modal loop then returns in turn.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window != this && window->isVisible()) {
            if (auto* dialog = qobject_cast<QDialog*>(window))
                dialog->reject();
        }
    }
    if (isVisible())
        reject();
}

void CControlDlg::EndLink()
{
    m_controller.Disconnect();
}

QLineEdit* CControlDlg::Edit(int id) const
{
    return qobject_cast<QLineEdit*>(Control(id));
}

QComboBox* CControlDlg::SignList(int id) const
{
    return qobject_cast<QComboBox*>(Control(id));
}

CHoldButton* CControlDlg::HoldButton(int id) const
{
    return qobject_cast<CHoldButton*>(Control(id));
}

void CControlDlg::ShowError(const QString& text)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Error"), text, QMessageBox::Ok, this);
    box.exec();
}

bool CControlDlg::event(QEvent* event)
{
    if (event->type() == kHoldButtonDownEvent) {
        OnHoldButtonDown(static_cast<CHoldButtonEvent*>(event)->Button());
        return true;
    }
    if (event->type() == kHoldButtonUpEvent) {
        OnHoldButtonUp(static_cast<CHoldButtonEvent*>(event)->Button());
        return true;
    }
    // With the focus gone from the window the held keys' releases go
    // elsewhere; each hold button releases itself on the same event.
    if ((event->type() == QEvent::WindowDeactivate || event->type() == QEvent::Hide) && m_pKeyRepeat)
        m_pKeyRepeat->ForgetHeldKeys();
    return QDialog::event(event);
}

bool CControlDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        if (PreTranslateMessage(watched, event))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CControlDlg::keyPressEvent(QKeyEvent* event)
{
    // The template has no default button: Enter clicks the push button that
    // has the focus, and anywhere else it ends the window like OK.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            if (button->isEnabled())
                button->click();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CControlDlg::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_linkWatch.timerId()) {
        // A goto's worker notices a failure itself; its completion says so.
        if (!m_gotoSession.Running() && !m_bLineBusy && !m_controller.CheckLink())
            OnLinkLost();
        return;
    }
    QDialog::timerEvent(event);
}
