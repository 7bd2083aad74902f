#include "ui/options/options_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>

#include "mount/mount_controller.h"
#include "ui/widgets/dialog_units.h"
#include "ui/options/options_logic.h"
#include "ui/widgets/up_down.h"
#include "ui/widgets/validation.h"

COptionsDlg::COptionsDlg(QWidget* pParent)
    : CTemplateDialog(pParent),
      m_portLister([](const tavro::PortMap& map) { return tavro::PresentPorts(map); })
{
    setWindowTitle(QStringLiteral("Tavro Options"));
    // A modal frame with a caption bar and a system menu, nothing more.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFont(tavro::ui::DialogFont());
    CreateControls();
    UpdateMaxGotoSpeedColours();
}

COptionsDlg::~COptionsDlg() = default;

void COptionsDlg::CreateControls()
{
    const tavro::ui::DialogUnits du(font());
    setFixedSize(du.X(370), du.Y(185));

    auto place = [&](QWidget* w, int id, const char* name, int x, int y, int cx, int cy) {
        w->setGeometry(du.Rect(x, y, cx, cy));
        if (id != -1)
            SetControlId(w, id, QString::fromLatin1(name));
    };
    std::vector<QGroupBox*> frames;
    auto frame = [&](const char* caption, int x, int y, int cx, int cy) {
        auto* box = new QGroupBox(QString::fromLatin1(caption), this);
        // Only a frame: it takes no clicks and lies behind the controls.
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
        place(box, -1, nullptr, x, y, cx, cy);
        frames.push_back(box);
    };
    auto label = [&](const char* caption, int x, int y, int cx, int cy) {
        auto* text = new QLabel(QString::fromLatin1(caption), this);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        place(text, -1, nullptr, x, y, cx, cy);
        // The desktop font may run wider than the template's; a label then
        // takes the room it needs (there is free space to its right).
        if (text->sizeHint().width() > text->width())
            text->resize(text->sizeHint().width(), text->height());
    };
    auto readOnlyEdit = [&](int id, const char* name, int x, int y, int cx, int cy) {
        auto* edit = new QLineEdit(this);
        edit->setReadOnly(true);
        place(edit, id, name, x, y, cx, cy);
        return edit;
    };
    auto slider = [&](int id, const char* name, int x, int y, int cx, int cy) {
        auto* s = new QSlider(Qt::Horizontal, this);
        s->setTickPosition(QSlider::NoTicks);
        s->setFocusPolicy(Qt::StrongFocus);
        place(s, id, name, x, y, cx, cy);
        connect(s, &QSlider::valueChanged, this, [this, s] { OnHScroll(s); });
        return s;
    };
    auto combo = [&](int id, const char* name, int x, int y, int cx, int dropHeight) {
        auto* c = new QComboBox(this);
        c->setEditable(false);
        // The template's height is that of the opened list; the closed box
        // is as high as the edit fields.
        place(c, id, name, x, y, cx, 14);
        c->setMaxVisibleItems(std::max(1, (dropHeight - 14) / 9));
        return c;
    };
    auto spin = [&](int id, const char* name, int x, int y, int cx, int cy) {
        auto* s = new CUpDown(this);
        place(s, id, name, x, y, cx, cy);
        return s;
    };

    // The dialog's controls, in tab order.
    frame(" Connection ", 7, 3, 108, 55);
    label("Serial port:", 20, 20, 34, 8);
    m_comboPort = combo(IDC_PORT, "IDC_PORT", 63, 18, 44, 86);
    m_checkConnectOnStart = new QCheckBox(QStringLiteral("Connect on start "), this);
    place(m_checkConnectOnStart, IDC_CONNECT_ON_START, "IDC_CONNECT_ON_START", 21, 39, 70, 10);
    m_wndEQ4 = new QRadioButton(QStringLiteral("EQ-4"), this);
    place(m_wndEQ4, IDC_EQ4, "IDC_EQ4", 138, 19, 32, 10);
    m_wndEQ5 = new QRadioButton(QStringLiteral("EQ-5"), this);
    place(m_wndEQ5, IDC_EQ5, "IDC_EQ5", 138, 36, 32, 10);
    frame(" Clock ", 192, 3, 171, 55);
    label("Clock speed correction:", 205, 20, 76, 8);
    m_sliderClock = slider(IDC_CLOCK_SLIDER, "IDC_CLOCK_SLIDER", 204, 31, 120, 15);
    m_editClockText = readOnlyEdit(IDC_CLOCK_TEXT, "IDC_CLOCK_TEXT", 324, 31, 25, 14);
    frame(" Goto ", 7, 63, 181, 94);
    label("Ra Gap (time minutes):", 20, 80, 72, 8);
    m_editRaGap = readOnlyEdit(IDC_RA_GAP, "IDC_RA_GAP", 139, 77, 26, 14);
    m_spinRaGap = spin(IDC_RA_GAP_SPIN, "IDC_RA_GAP_SPIN", 166, 77, 11, 14);
    label("Dec Gap (arc minutes):", 20, 101, 74, 8);
    m_editDecGap = readOnlyEdit(IDC_DEC_GAP, "IDC_DEC_GAP", 139, 98, 26, 14);
    m_spinDecGap = spin(IDC_DEC_GAP_SPIN, "IDC_DEC_GAP_SPIN", 166, 98, 11, 14);
    label("Max Goto Speed:", 20, 122, 56, 8);
    m_sliderMaxGotoSpeed =
        slider(IDC_MAX_GOTO_SPEED_SLIDER, "IDC_MAX_GOTO_SPEED_SLIDER", 19, 133, 120, 15);
    m_editMaxGotoSpeed = new QLineEdit(this);
    place(m_editMaxGotoSpeed, IDC_MAX_GOTO_SPEED, "IDC_MAX_GOTO_SPEED", 139, 133, 26, 14);
    frame(" Autoguide ", 192, 63, 171, 94);
    label("Autoguide step count:", 205, 81, 70, 8);
    m_sliderAutoguide = slider(IDC_AUTOGUIDE_SLIDER, "IDC_AUTOGUIDE_SLIDER", 204, 92, 120, 15);
    m_editAutoguideSteps = readOnlyEdit(IDC_AUTOGUIDE_STEPS, "IDC_AUTOGUIDE_STEPS", 324, 92, 25, 14);
    label("K3CCD guide:", 205, 135, 46, 8);
    m_comboK3CCDGuide = combo(IDC_K3CCD_GUIDE, "IDC_K3CCD_GUIDE", 269, 133, 81, 74);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    place(ok, IDOK, "IDOK", 128, 165, 50, 14);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    place(cancel, IDCANCEL, "IDCANCEL", 202, 165, 50, 14);
    frame(" Mount ", 119, 3, 69, 55);

    for (QGroupBox* box : frames)
        box->lower();

    // The desktop font's digits run wider than the template's. A field too
    // narrow for the longest text it can show grows into the free room
    // beside it: to the left for the gap fields (their spin sits on the
    // right), to the right for the others.
    FitField(m_editClockText, QStringLiteral("+0.2%"), false);
    FitField(m_editRaGap, QStringLiteral("60.00 m"), true);
    FitField(m_editDecGap, QStringLiteral("60.0'"), true);
    FitField(m_editMaxGotoSpeed, QStringLiteral("255"), false);
    FitField(m_editAutoguideSteps, QStringLiteral("4"), false);

    // The guide list's items come with the template, in this order.
    m_comboK3CCDGuide->addItem(QStringLiteral(" Allow Dec reverse"));
    m_comboK3CCDGuide->addItem(QStringLiteral(" Disable Dec+"));
    m_comboK3CCDGuide->addItem(QStringLiteral(" Disable Dec-"));
    m_comboK3CCDGuide->setCurrentIndex(-1);

    connect(m_comboPort, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_comboPort->setToolTip(index >= 0 ? m_comboPort->itemData(index, Qt::ToolTipRole).toString()
                                           : QString());
    });
    connect(m_editMaxGotoSpeed, &QLineEdit::textChanged, this, [this] {
        OnChangeMaxGotoSpeed();
        UpdateMaxGotoSpeedColours();
    });
    connect(m_spinRaGap, &CUpDown::deltaPos, this, &COptionsDlg::OnDeltaPosRaGapSpin);
    connect(m_spinDecGap, &CUpDown::deltaPos, this, &COptionsDlg::OnDeltaPosDecGapSpin);
    connect(ok, &QPushButton::clicked, this, &COptionsDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &COptionsDlg::reject);
    // The spin arrows take no focus; their read-only fields pass the arrow
    // keys on to them.
    m_editRaGap->installEventFilter(this);
    m_editDecGap->installEventFilter(this);
}

int COptionsDlg::DoModal()
{
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

bool COptionsDlg::OnInitDialog()
{
    InitValidationColours();
    UpdateMaxGotoSpeedColours();
    if (m_pController == nullptr)
        return true;
    const CMountController& controller = *m_pController;

    FillPortList();
    if (m_bConnectOnStart)
        m_checkConnectOnStart->setChecked(true);

    const tavro::MountSettings settings = controller.Settings();
    const auto slider = [](QSlider* control, tavro::Setting setting, int position) {
        const tavro::Limits offer = tavro::RuleOf(setting).offer;
        {
            const QSignalBlocker quiet(control);
            control->setRange(static_cast<int>(offer.low), static_cast<int>(offer.high));
        }
        SetSliderPos(control, position);
    };
    slider(m_sliderMaxGotoSpeed, tavro::Setting::MaxGotoSpeed, settings.maxGotoSpeed);
    m_editMaxGotoSpeed->setText(QString::number(settings.maxGotoSpeed));

    slider(m_sliderClock, tavro::Setting::ClockCorrection, settings.clockCorrection);
    UpdateClockText();

    slider(m_sliderAutoguide, tavro::Setting::AutoguideSteps, settings.autoguideSteps);
    m_editAutoguideSteps->setText(QString::number(settings.autoguideSteps));

    const int option = settings.k3ccdOption;
    m_comboK3CCDGuide->setCurrentIndex(tavro::RuleOf(tavro::Setting::K3CCDOption).offer.Contains(option) ? option
                                                                                                  : -1);

    // The text shows the stored gap itself; the spin holds the nearest
    // position within its range.
    const tavro::SettingRule& ra = tavro::RuleOf(tavro::Setting::RaGap);
    ShowGapText(m_editRaGap, tavro::ui::FormatRaGap(settings.raGapMinutes));
    m_spinRaGap->SetRange(0, ra.OfferSteps());
    m_spinRaGap->SetPos(tavro::ui::GapSpinPosition(settings.raGapMinutes, ra.stepsPerUnit, ra.OfferSteps()));
    const tavro::SettingRule& dec = tavro::RuleOf(tavro::Setting::DecGap);
    ShowGapText(m_editDecGap, tavro::ui::FormatDecGap(settings.decGapArcmin));
    m_spinDecGap->SetRange(0, dec.OfferSteps());
    m_spinDecGap->SetPos(tavro::ui::GapSpinPosition(settings.decGapArcmin, dec.stepsPerUnit, dec.OfferSteps()));

    if (!settings.Eq5())
        m_wndEQ4->setChecked(true);
    else
        m_wndEQ5->setChecked(true);
    return true;
}

void COptionsDlg::PaintFields()
{
    UpdateMaxGotoSpeedColours();
}

void COptionsDlg::FillPortList()
{
    m_comboPort->clear();
    std::vector<tavro::PresentPort> ports;
    if (m_portLister)
        ports = m_portLister(m_pController ? m_pController->Ports() : tavro::PortMap{});

    // One flag per number, so the list comes out ascending and once each.
    std::vector<const tavro::PresentPort*> present(tavro::kLastPort + 1, nullptr);
    for (const tavro::PresentPort& port : ports) {
        if (port.number >= tavro::kFirstPort && port.number <= tavro::kLastPort &&
            present[static_cast<size_t>(port.number)] == nullptr)
            present[static_cast<size_t>(port.number)] = &port;
    }
    int selected = -1;
    for (int n = tavro::kFirstPort; n <= tavro::kLastPort; ++n) {
        const tavro::PresentPort* port = present[static_cast<size_t>(n)];
        if (port == nullptr)
            continue;
        m_comboPort->addItem(QString::asprintf("COM%0d", n), n);
        const int index = m_comboPort->count() - 1;
        m_comboPort->setItemData(index, QString::fromStdString(port->device), Qt::ToolTipRole);
        if (n == m_nComPort)
            selected = index;
    }
    // A list whose first item was added selects it by itself; the window's
    // port is the only one to be selected.
    m_comboPort->setCurrentIndex(selected);
}

void COptionsDlg::UpdateClockText()
{
    m_editClockText->setText(tavro::ui::ClockCorrectionLabel(m_sliderClock->value()));
}

void COptionsDlg::OnHScroll(QSlider* slider)
{
    if (slider == m_sliderMaxGotoSpeed)
        m_editMaxGotoSpeed->setText(QString::number(slider->value()));
    else if (slider == m_sliderClock)
        UpdateClockText();
    else if (slider == m_sliderAutoguide)
        m_editAutoguideSteps->setText(QString::number(slider->value()));
}

bool COptionsDlg::MaxGotoSpeedValid() const
{
    const auto value = tavro::ui::ReadUnsignedField(m_editMaxGotoSpeed->text());
    return value && tavro::RuleOf(tavro::Setting::MaxGotoSpeed).offer.Contains(static_cast<double>(*value));
}

void COptionsDlg::OnChangeMaxGotoSpeed()
{
    if (MaxGotoSpeedValid())
        SetSliderPos(m_sliderMaxGotoSpeed,
                     static_cast<int>(*tavro::ui::ReadUnsignedField(m_editMaxGotoSpeed->text())));
}

void COptionsDlg::UpdateMaxGotoSpeedColours()
{
    PaintValidity(m_editMaxGotoSpeed, MaxGotoSpeedValid());
}

void COptionsDlg::OnDeltaPosRaGapSpin(int position, int delta)
{
    const tavro::SettingRule& ra = tavro::RuleOf(tavro::Setting::RaGap);
    const int shown = tavro::ui::GapTextPosition(position, delta, ra.OfferSteps());
    if (shown >= 0)
        ShowGapText(m_editRaGap, tavro::ui::FormatRaGap(shown * ra.Step()));
}

void COptionsDlg::OnDeltaPosDecGapSpin(int position, int delta)
{
    const tavro::SettingRule& dec = tavro::RuleOf(tavro::Setting::DecGap);
    const int shown = tavro::ui::GapTextPosition(position, delta, dec.OfferSteps());
    if (shown >= 0)
        ShowGapText(m_editDecGap, tavro::ui::FormatDecGap(shown * dec.Step()));
}

void COptionsDlg::accept()
{
    OnOK();
}

void COptionsDlg::OnOK()
{
    const int selected = m_comboPort->currentIndex();
    if (selected >= 0)
        m_nComPort = m_comboPort->itemData(selected).toInt();
    else if (m_pController != nullptr)
        m_nComPort = m_pController->Port();
    m_bConnectOnStart = m_checkConnectOnStart->isChecked();

    // Without a controller there is nothing the settings could go to.
    if (m_pController != nullptr) {
        tavro::MountSettings settings = m_pController->Settings();
        // The slider holds the last valid speed, whatever the field says.
        settings.maxGotoSpeed = m_sliderMaxGotoSpeed->value();
        settings.clockCorrection = m_sliderClock->value();
        settings.autoguideSteps = m_sliderAutoguide->value();
        // With no item selected the option stays.
        const int option = m_comboK3CCDGuide->currentIndex();
        if (option >= 0)
            settings.k3ccdOption = option;
        const int decPosition = m_spinDecGap->Pos() & 0xFFFF;
        const int raPosition = m_spinRaGap->Pos() & 0xFFFF;
        settings.raGapMinutes = raPosition * tavro::RuleOf(tavro::Setting::RaGap).Step();
        settings.decGapArcmin = decPosition * tavro::RuleOf(tavro::Setting::DecGap).Step();
        settings.model = m_wndEQ4->isChecked() ? tavro::MountModel::EQ4 : tavro::MountModel::EQ5;
        // Every control holds a value its setter takes, so all are stored.
        m_pController->SetSettings(settings);
    }
    QDialog::accept();
}

void COptionsDlg::FitField(QLineEdit* edit, const QString& widest, bool growLeft)
{
    const QFontMetrics metrics(edit->font());
    // What a line edit needs beside its text: frame, margins and cursor.
    const int overhead = edit->sizeHint().width() - 17 * metrics.horizontalAdvance(QLatin1Char('x'));
    const int needed = metrics.horizontalAdvance(widest) + overhead + 1;
    const int extra = needed - edit->width();
    if (extra <= 0)
        return;
    QRect r = edit->geometry();
    if (growLeft)
        r.setLeft(r.left() - extra);
    else
        r.setRight(r.right() + extra);
    edit->setGeometry(r);
}

void COptionsDlg::ShowGapText(QLineEdit* edit, const QString& text)
{
    edit->setText(text);
    // Show the start of the text, never a scrolled tail of it.
    edit->setCursorPosition(0);
}

void COptionsDlg::SetSliderPos(QSlider* slider, int position)
{
    const QSignalBlocker quiet(slider);
    slider->setValue(position);
}

bool COptionsDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == m_editRaGap || watched == m_editDecGap)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            CUpDown* spin = watched == m_editRaGap ? m_spinRaGap : m_spinDecGap;
            spin->Step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
