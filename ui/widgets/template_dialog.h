#pragma once
// CTemplateDialog: what the program's two dialogs have in common. Their
// controls carry the ids of their templates and are found by them; their
// number fields are painted in the validation colours (blue on white when
// valid, white on red when not; in night vision dim red on black when
// valid, black on a brighter red when not); and each is initialised once,
// just before it is first shown.

#include <QColor>
#include <QDialog>
#include <cstdint>

#include "ui/widgets/dialog_ids.h"

class CTemplateDialog : public QDialog {
    Q_OBJECT
public:
    explicit CTemplateDialog(QWidget* parent = nullptr);

    // The control with a template id, or null.
    QWidget* Control(int id) const;
    // Template id of a control of a dialog; 0 for anything else.
    static int ControlId(const QWidget* widget);

    // Runs the dialog's start-up now, unless it has run: it runs by itself
    // just before the dialog is first shown.
    void InitialiseOnce();

    // Takes the validation colours of the display mode (normal or night
    // vision) and paints the fields again; nothing before the start-up.
    void RepaintValidity();

protected:
    // Gives a control its template id and an object name of its own.
    static void SetControlId(QWidget* widget, int id, const QString& name);

    // The dialog's start-up (through InitialiseOnce only).
    virtual bool OnInitDialog() = 0;
    void setVisible(bool visible) override;

    // Sets the four validation colours to their values for the display
    // mode.
    void InitValidationColours();
    // Paints every field and always-valid control in the validation
    // colours, as the dialog's start-up does.
    virtual void PaintFields() = 0;
    // Paints a field: its text and background in the colours for `valid`.
    void PaintValidity(QWidget* field, bool valid) const;
    // Paints a control that is always valid, its button face included.
    void PaintAlwaysValid(QWidget* control) const;

    QColor m_crBadText;
    QColor m_crGoodText;
    QColor m_crBadBack;
    QColor m_crGoodBack;

private:
    bool m_bInitialised = false;
};
