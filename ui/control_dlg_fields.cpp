// The coordinate fields of the main control window: their validity and
// colours, and the conversion between a point and its seven fields.

#include <QComboBox>
#include <QLineEdit>
#include <QPalette>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "ui/control_dlg.h"
#include "ui/validation.h"

namespace {

// The double nearest to 1/3600: points are read back as whole seconds times
// this factor, not divided by 3600.
constexpr double kSecondsToUnits = 0.0002777777777777778;

// Truncates toward zero like the processor's conversion: a value that does
// not fit (or NaN) gives the "integer indefinite" INT32_MIN instead of
// undefined behaviour.
int32_t TruncateToInt32(double value)
{
    if (!(value > -2147483649.0 && value < 2147483648.0))
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

int FieldLimit(int id)
{
    switch (id) {
    case IDC_CUR_RA_H:
    case IDC_NEXT_RA_H:
        return 23;
    case IDC_CUR_DEC_D:
    case IDC_NEXT_DEC_D:
        return 90;
    default:
        return 59;
    }
}

constexpr int kNumberFields[] = {IDC_CUR_RA_H,  IDC_CUR_RA_M,  IDC_CUR_RA_S,  IDC_CUR_DEC_D,
                                 IDC_CUR_DEC_M, IDC_CUR_DEC_S, IDC_NEXT_RA_H, IDC_NEXT_RA_M,
                                 IDC_NEXT_RA_S, IDC_NEXT_DEC_D, IDC_NEXT_DEC_M, IDC_NEXT_DEC_S};

// Text written into a field: an unsigned decimal number without leading
// zeros, as the window's integer writer shows any 32-bit value.
QString UnsignedText(int32_t value)
{
    return QString::number(static_cast<uint32_t>(value));
}

}  // namespace

bool CControlDlg::IsCoordinateValid(int id) const
{
    const QLineEdit* edit = Edit(id);
    if (!edit)
        return false;
    const std::optional<uint32_t> value = tavro::ui::ReadUnsignedField(edit->text());
    return value && *value <= static_cast<uint32_t>(FieldLimit(id));
}

bool CControlDlg::AllCoordinatesValid() const
{
    for (int id : kNumberFields) {
        if (!IsCoordinateValid(id))
            return false;
    }
    return true;
}

void CControlDlg::ColorField(QLineEdit* edit) const
{
    const bool valid = IsCoordinateValid(ControlId(edit));
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text,
                     tavro::ui::ColorFromRef(valid ? m_crGoodText : m_crBadText));
    palette.setColor(QPalette::Base,
                     tavro::ui::ColorFromRef(valid ? m_crGoodBack : m_crBadBack));
    edit->setPalette(palette);
}

void CControlDlg::ColorSignList(QComboBox* list) const
{
    QPalette palette = list->palette();
    const QColor text = tavro::ui::ColorFromRef(m_crGoodText);
    const QColor back = tavro::ui::ColorFromRef(m_crGoodBack);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Base, back);
    palette.setColor(QPalette::Button, back);
    list->setPalette(palette);
}

void CControlDlg::WritePoint(double raHours, double decDegrees, const PointFields& fields)
{
    const int32_t raSec = TruncateToInt32(raHours * 3600.0 + 0.5);
    const int32_t decSec = TruncateToInt32(decDegrees < 0 ? decDegrees * 3600.0 - 0.5
                                                          : decDegrees * 3600.0 + 0.5);
    SignList(fields.decSign)->setCurrentIndex(decSec < 0 ? 1 : 0);

    const int64_t a = std::llabs(static_cast<int64_t>(decSec));
    Edit(fields.raH)->setText(UnsignedText(raSec / 3600));
    Edit(fields.raM)->setText(UnsignedText((raSec / 60) % 60));
    Edit(fields.raS)->setText(UnsignedText(raSec % 60));
    Edit(fields.decD)->setText(UnsignedText(static_cast<int32_t>(a / 3600)));
    Edit(fields.decM)->setText(UnsignedText(static_cast<int32_t>((a / 60) % 60)));
    Edit(fields.decS)->setText(UnsignedText(static_cast<int32_t>(a % 60)));
}

void CControlDlg::ReadPoint(double* raHours, double* decDegrees, const PointFields& fields) const
{
    uint32_t v[6];
    const int ids[6] = {fields.raH, fields.raM, fields.raS, fields.decD, fields.decM, fields.decS};
    for (int i = 0; i < 6; ++i) {
        const std::optional<uint32_t> value = tavro::ui::ReadUnsignedField(Edit(ids[i])->text());
        if (!value)
            return;   // the point is left as it was
        v[i] = *value;
    }
    // 32-bit arithmetic, wrapping like the processor's rather than
    // overflowing.
    const auto raSec = static_cast<int32_t>((v[0] * 60u + v[1]) * 60u + v[2]);
    auto decSec = static_cast<int32_t>((v[3] * 60u + v[4]) * 60u + v[5]);
    if (SignList(fields.decSign)->currentIndex() != 0)
        decSec = static_cast<int32_t>(0u - static_cast<uint32_t>(decSec));
    *raHours = raSec * kSecondsToUnits;
    *decDegrees = decSec * kSecondsToUnits;
}

void CControlDlg::OnChangeCoordinate()
{
    UpdateControls();
}
