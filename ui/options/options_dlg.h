#pragma once
// COptionsDlg: the options dialog ("Tavro Options", IDD_OPTIONS). It shows
// the window's port and connect-on-start flag and the controller's mount
// settings; on OK it writes the settings into the controller through its
// setters and keeps the chosen port and flag for the window to take back.
// Until OK nothing outside the dialog changes; Cancel, Escape and the close
// box change nothing at all.

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/port_discovery.h"
#include "ui/widgets/template_dialog.h"

class CMountController;
class CUpDown;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QSlider;

class COptionsDlg : public CTemplateDialog {
    Q_OBJECT

public:
    // The dialog's id and its control ids (OK and Cancel: IDOK, IDCANCEL).
    enum : int {
        IDD_OPTIONS = 103,
        IDC_MAX_GOTO_SPEED_SLIDER = 1059,
        IDC_MAX_GOTO_SPEED = 1060,
        IDC_PORT = 1061,
        IDC_CLOCK_SLIDER = 1062,
        IDC_AUTOGUIDE_SLIDER = 1064,
        IDC_CLOCK_TEXT = 1067,
        IDC_AUTOGUIDE_STEPS = 1068,
        IDC_CONNECT_ON_START = 1069,
        IDC_RA_GAP = 1070,
        IDC_DEC_GAP = 1071,
        IDC_RA_GAP_SPIN = 1073,
        IDC_DEC_GAP_SPIN = 1074,
        IDC_K3CCD_GUIDE = 1075,
        IDC_EQ4 = 1077,
        IDC_EQ5 = 1078,
    };

    // Lists the present ports for a [Ports] map; the real one asks the
    // system, tests hand in a fixed list.
    using PortLister = std::function<std::vector<tavro::PresentPort>(const tavro::PortMap&)>;

    explicit COptionsDlg(QWidget* pParent = nullptr);
    ~COptionsDlg() override;

    // Runs the dialog modally: IDOK after OnOK, IDCANCEL otherwise.
    int DoModal();

    void FillPortList();
    void UpdateClockText();
    // Takes the controls' values, writes the settings into the controller
    // and ends the dialog with IDOK.
    void OnOK();

    void SetPortLister(PortLister lister) { m_portLister = std::move(lister); }

    // Whether the maximum goto speed field holds a number from 48 to 255.
    bool MaxGotoSpeedValid() const;

    // What the dialog shows and gives back (the validation colours are the
    // dialog base's).
    int m_nComPort = 1;                 // in: the window's port; out: the port chosen
    bool m_bConnectOnStart = false;     // in: the window's flag; out: the check box
    CMountController* m_pController = nullptr;   // the window's controller, not owned

    QRadioButton* m_wndEQ5 = nullptr;
    QRadioButton* m_wndEQ4 = nullptr;
    CUpDown* m_spinDecGap = nullptr;
    QLineEdit* m_editDecGap = nullptr;
    CUpDown* m_spinRaGap = nullptr;
    QLineEdit* m_editRaGap = nullptr;
    QComboBox* m_comboK3CCDGuide = nullptr;
    QCheckBox* m_checkConnectOnStart = nullptr;
    QSlider* m_sliderAutoguide = nullptr;
    QSlider* m_sliderClock = nullptr;
    QLineEdit* m_editMaxGotoSpeed = nullptr;
    QSlider* m_sliderMaxGotoSpeed = nullptr;
    QComboBox* m_comboPort = nullptr;

public slots:
    void accept() override;

protected:
    // Fills the controls from the members and the controller (once, before
    // the dialog is first shown).
    bool OnInitDialog() override;
    void PaintFields() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void OnHScroll(QSlider* slider);
    void OnChangeMaxGotoSpeed();
    // Paints the maximum goto speed field in the validation colours for its
    // validity; runs on every change of its text.
    void UpdateMaxGotoSpeedColours();
    void OnDeltaPosRaGapSpin(int position, int delta);
    void OnDeltaPosDecGapSpin(int position, int delta);
    static void FitField(QLineEdit* edit, const QString& widest, bool growLeft);
    static void ShowGapText(QLineEdit* edit, const QString& text);
    // Sets a slider's position without the notification a user's move makes.
    static void SetSliderPos(QSlider* slider, int position);

    QLineEdit* m_editClockText = nullptr;
    QLineEdit* m_editAutoguideSteps = nullptr;
    PortLister m_portLister;
};
