// The coordinate fields of the main control window: their validity and
// colours, and the conversion between a point and its seven fields.

#include <QComboBox>
#include <QLineEdit>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "ui/window/control_dlg.h"
#include "ui/window/point_text.h"
#include "ui/widgets/validation.h"

namespace {

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
    PaintValidity(edit, IsCoordinateValid(ControlId(edit)));
}

void CControlDlg::PaintFields()
{
    for (int id : {IDC_CUR_DEC_SIGN, IDC_NEXT_DEC_SIGN})
        PaintAlwaysValid(SignList(id));
    for (int id : kNumberFields)
        ColorField(Edit(id));
}

void CControlDlg::WritePoint(double raHours, double decDegrees, const PointFields& fields)
{
    const tavro::ui::PointTexts texts = tavro::ui::FormatPoint(raHours, decDegrees);
    SignList(fields.decSign)->setCurrentIndex(texts[3] == QStringLiteral("-") ? 1 : 0);
    const int ids[7] = {fields.raH, fields.raM, fields.raS, 0, fields.decD, fields.decM, fields.decS};
    for (size_t i = 0; i < 7; ++i) {
        if (i != 3)
            Edit(ids[i])->setText(texts[i]);
    }
}

void CControlDlg::ReadPoint(double* raHours, double* decDegrees, const PointFields& fields) const
{
    // No sign chosen reads as minus, as any index but the first does.
    const tavro::ui::PointTexts texts = {
        Edit(fields.raH)->text(),  Edit(fields.raM)->text(),
        Edit(fields.raS)->text(),  SignList(fields.decSign)->currentIndex() == 0 ? "+" : "-",
        Edit(fields.decD)->text(), Edit(fields.decM)->text(),
        Edit(fields.decS)->text()};
    if (const auto point = tavro::ui::ReadPoint(texts)) {
        *raHours = point->first;
        *decDegrees = point->second;
    }
    // A field that does not read leaves the point as it was.
}

tavro::SkyPoint CControlDlg::FieldPoint(const tavro::SkyPoint& point)
{
    const long long raSeconds = std::llround(tavro::WrapRa(point.ra) * 3600.0) % (24 * 3600);
    const double dec = std::clamp(point.dec, -90.0, 90.0);
    return {static_cast<double>(raSeconds) / 3600.0,
            static_cast<double>(std::llround(dec * 3600.0)) / 3600.0};
}

void CControlDlg::OnChangeCoordinate()
{
    UpdateControls();
}
