#include "ui/widgets/template_dialog.h"

#include <QPalette>
#include <QVariant>

#include "ui/app/night_vision.h"
#include "ui/widgets/validation.h"

namespace {

constexpr const char* kIdProperty = "tavroControlId";

}  // namespace

CTemplateDialog::CTemplateDialog(QWidget* parent) : QDialog(parent)
{
    InitValidationColours();
}

QWidget* CTemplateDialog::Control(int id) const
{
    const auto widgets = findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* w : widgets) {
        if (ControlId(w) == id)
            return w;
    }
    return nullptr;
}

int CTemplateDialog::ControlId(const QWidget* widget)
{
    return widget ? widget->property(kIdProperty).toInt() : 0;
}

void CTemplateDialog::SetControlId(QWidget* widget, int id, const QString& name)
{
    widget->setProperty(kIdProperty, id);
    widget->setObjectName(name);
}

void CTemplateDialog::InitialiseOnce()
{
    if (m_bInitialised)
        return;
    m_bInitialised = true;
    OnInitDialog();
}

void CTemplateDialog::setVisible(bool visible)
{
    if (visible)
        InitialiseOnce();
    QDialog::setVisible(visible);
}

void CTemplateDialog::RepaintValidity()
{
    if (!m_bInitialised)
        return;
    InitValidationColours();
    PaintFields();
}

void CTemplateDialog::InitValidationColours()
{
    const bool night = tavro::ui::NightVisionOn();
    m_crBadText = night ? tavro::ui::kNightBadText : tavro::ui::kBadText;
    m_crGoodText = night ? tavro::ui::kNightGoodText : tavro::ui::kGoodText;
    m_crBadBack = night ? tavro::ui::kNightBadBack : tavro::ui::kBadBack;
    m_crGoodBack = night ? tavro::ui::kNightGoodBack : tavro::ui::kGoodBack;
}

void CTemplateDialog::PaintValidity(QWidget* field, bool valid) const
{
    QPalette palette = field->palette();
    palette.setColor(QPalette::Text, valid ? m_crGoodText : m_crBadText);
    palette.setColor(QPalette::Base, valid ? m_crGoodBack : m_crBadBack);
    field->setPalette(palette);
}

void CTemplateDialog::PaintAlwaysValid(QWidget* control) const
{
    QPalette palette = control->palette();
    const QColor text = m_crGoodText;
    const QColor back = m_crGoodBack;
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Base, back);
    palette.setColor(QPalette::Button, back);
    control->setPalette(palette);
}
