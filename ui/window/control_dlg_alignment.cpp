// The alignment in the main control window: "Add alignment star" and
// "Clear alignment" in the window's context menu, the stars and their
// residual in the title, the site from the settings file's [Site] group and
// the model's terms kept in its [Alignment] group across restarts.
//
// A star is added where the operator says the telescope points: the Current
// point fields, after centring the star by hand or after a plate solve. The
// fields are then taken as that point, not again as a plain sync.

#include <QAction>

#include <cstdio>

#include "settings/alignment_settings.h"
#include "ui/window/control_dlg.h"
#include "ui/window/control_dlg_template.h"

namespace {

QString FailureText(const tavro::SaveFailure& failure)
{
    QString reason = QString::fromStdString(failure.reason);
    if (!reason.isEmpty())
        reason[0] = reason[0].toUpper();
    return QStringLiteral("The alignment could not be saved to %1:\n%2.\nIt stays in force until the program ends.")
        .arg(QString::fromStdString(failure.path), reason);
}

// Settings that cannot be used are told where the program's other start-up
// messages go: the standard error.
void TellProblems(const std::string& path, const std::vector<std::string>& problems)
{
    for (const std::string& problem : problems)
        std::fprintf(stderr, "%s: %s\n", path.c_str(), problem.c_str());
}

}  // namespace

void CControlDlg::CreateAlignmentActions()
{
    m_pAddStarAction = new QAction(QStringLiteral("Add alignment star"), this);
    connect(m_pAddStarAction, &QAction::triggered, this, &CControlDlg::OnAddAlignmentStar);
    addAction(m_pAddStarAction);
    m_pClearAlignmentAction = new QAction(QStringLiteral("Clear alignment"), this);
    connect(m_pClearAlignmentAction, &QAction::triggered, this, &CControlDlg::OnClearAlignment);
    addAction(m_pClearAlignmentAction);
    // Until the start-up's enable rules, as the controls they act with.
    m_pAddStarAction->setEnabled(false);
    m_pClearAlignmentAction->setEnabled(false);
}

void CControlDlg::LoadAlignment()
{
    const tavro::SiteLoad site = tavro::LoadSite(m_settingsPath);
    TellProblems(m_settingsPath, site.problems);
    if (site.site)
        m_gotoSession.SetSite(site.site);

    const tavro::AlignmentLoad kept = tavro::LoadAlignment(m_settingsPath, m_controller.Settings().model);
    TellProblems(m_settingsPath, kept.problems);
    if (kept.terms)
        m_gotoSession.RestoreTerms(*kept.terms);
    UpdateTitle();
}

void CControlDlg::OnAddAlignmentStar()
{
    if (!m_controller.Connected() || m_gotoSession.Running() || m_bLineBusy)
        return;  // disabled then; a trigger from elsewhere changes nothing
    for (int id : {IDC_CUR_RA_H, IDC_CUR_RA_M, IDC_CUR_RA_S, IDC_CUR_DEC_D, IDC_CUR_DEC_M, IDC_CUR_DEC_S}) {
        if (!IsCoordinateValid(id)) {
            ShowError(QStringLiteral("The star was not added: the Current point fields do not hold a point."));
            return;
        }
    }
    double ra = 0.0;
    double dec = 0.0;
    ReadPoint(&ra, &dec, kCurrentPointFields);
    const tavro::SkyPoint star{tavro::WrapRa(ra), dec};
    const tavro::AddOutcome outcome = m_gotoSession.AddAlignmentPoint(star);
    if (!outcome.Accepted()) {
        ShowError(QStringLiteral("The star was not added: %1").arg(QString::fromStdString(outcome.message)));
        return;
    }
    // The fields hold the star now: not a sync of their own as well.
    m_fieldsPoint = star;
    KeepAlignment();
    UpdateTitle();
}

void CControlDlg::OnClearAlignment()
{
    if (!m_controller.Connected() || m_gotoSession.Running() || m_bLineBusy)
        return;
    m_gotoSession.ClearAlignment();
    KeepAlignment();
    UpdateTitle();
}

void CControlDlg::ForgetAlignment()
{
    const tavro::PointingModel& model = m_gotoSession.Model();
    if (model.Count() == 0 && model.Terms() == tavro::PointingTerms{})
        return;
    m_gotoSession.ClearAlignment();
    KeepAlignment();
    UpdateTitle();
}

void CControlDlg::KeepAlignment()
{
    const std::optional<tavro::SaveFailure> failure =
        tavro::KeepAlignment(m_settingsPath, m_gotoSession.Model(), m_controller.Settings().model);
    if (!failure) {
        m_bAlignmentSaveFailed = false;
        return;
    }
    if (m_bAlignmentSaveFailed)
        return;
    m_bAlignmentSaveFailed = true;
    ShowError(FailureText(*failure));
}

void CControlDlg::UpdateTitle()
{
    QString title = QString::fromUtf8(tavro::ui::kControlDlgCaption);
    if (!m_linkWords.empty())
        title += QStringLiteral(" \u2014 ") + QString::fromStdString(m_linkWords);

    const tavro::PointingModel& model = m_gotoSession.Model();
    const int stars = model.Count();
    const std::string limitation = model.Limitation();
    QString aligned;
    if (stars > 0) {
        aligned = QStringLiteral("aligned on %1 %2, %3\u2032")
                      .arg(stars)
                      .arg(stars == 1 ? QStringLiteral("star") : QStringLiteral("stars"))
                      .arg(model.RmsArcsec() / 60.0, 0, 'f', 1);
        if (!limitation.empty())
            aligned += model.GetSite() ? QStringLiteral(", index only")
                                       : QStringLiteral(", index only (no site)");
    } else if (!(model.Terms() == tavro::PointingTerms{})) {
        aligned = QStringLiteral("alignment kept: one star restores it");
    }
    if (!aligned.isEmpty())
        title += QStringLiteral(" \u2014 ") + aligned;
    if (!m_gamepadName.empty())
        title += QStringLiteral(" \u2014 gamepad: ") + QString::fromStdString(m_gamepadName);
    setWindowTitle(title);

    // Why a star fits the index only, where the star is added.
    const QString why = QString::fromStdString(limitation);
    m_pAddStarAction->setToolTip(why.isEmpty() ? m_pAddStarAction->text() : why);
    m_pAddStarAction->setStatusTip(why);
}
