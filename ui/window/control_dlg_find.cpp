// "Find object…" in the main control window and the guards of the gotos the
// operator starts in the window.
//
// Ctrl+F is a window shortcut like Ctrl+N: taken before any control sees
// the key, it starts no motion and types into no field. The catalogue is
// read at the first search, not at start-up; a catalogue that cannot be
// read is told in the dialog, which then still finds the Sun, the Moon and
// the planets.
//
// A goto started with the Goto button (by mouse or keyboard, or from the
// dialog) to a target near the Sun or below the horizon is asked about
// first; the answer's default is No. Gotos from the planetarium link and
// the INDI driver are their clients' to judge and are not asked about.

#include <QAction>
#include <QKeySequence>
#include <QMessageBox>
#include <QPushButton>

#include "sky/apparent_place.h"
#include "sky/catalogue.h"
#include "ui/find/find_object_dlg.h"
#include "ui/window/control_dlg.h"

namespace {

tavro::sky::Equatorial AsEquatorial(const tavro::SkyPoint& point)
{
    return {tavro::WrapRa(point.ra), point.dec};
}

}  // namespace

void CControlDlg::CreateFindAction()
{
    m_pFindAction = new QAction(QStringLiteral("Find object\u2026"), this);
    m_pFindAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    m_pFindAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_pFindAction, &QAction::triggered, this, &CControlDlg::OnFindObject);
    addAction(m_pFindAction);
}

std::optional<tavro::sky::Site> CControlDlg::SkySite() const
{
    const std::optional<tavro::Site> site = m_gotoSession.Model().GetSite();
    if (!site)
        return std::nullopt;
    return tavro::sky::Site{site->latitudeDeg, site->longitudeDeg, 0.0};
}

int CControlDlg::RunFindDialog(CFindObjectDlg& dlg)
{
    return dlg.exec();
}

void CControlDlg::OnFindObject()
{
    if (!m_bCatalogueTried) {
        m_bCatalogueTried = true;
        const std::string path =
            m_cataloguePath.empty() ? tavro::sky::DefaultCataloguePath() : m_cataloguePath;
        std::string error;
        if (std::optional<tavro::sky::Catalogue> loaded = tavro::sky::Catalogue::Load(path, &error))
            m_pCatalogue = std::make_unique<tavro::sky::Catalogue>(std::move(*loaded));
        else
            m_catalogueError = error.empty() ? "The catalogue " + path + " could not be read." : error;
    }

    const bool idle = !m_gotoSession.Running() && !m_bLineBusy;
    FindContext context;
    context.catalogue = m_pCatalogue.get();
    context.catalogueError = m_catalogueError;
    context.utcNow = [this] { return m_gotoSession.Utc(); };
    context.site = SkySite();
    context.gotoAllowed = m_controller.Connected() && idle;
    context.setCurrentAllowed = idle;
    context.addStarAllowed = m_pAddStarAction->isEnabled();

    CFindObjectDlg dlg(std::move(context), this);
    if (RunFindDialog(dlg) != QDialog::Accepted || !dlg.Choice())
        return;
    const FindChoice& choice = *dlg.Choice();
    const tavro::SkyPoint point = FieldPoint({choice.place.raHours, choice.place.decDegrees});
    switch (choice.action) {
    case FindAction::SetNextPoint:
        WritePoint(point.ra, point.dec, kNextPointFields);
        break;
    case FindAction::Goto:
        WritePoint(point.ra, point.dec, kNextPointFields);
        // As a press of the button: its rules and the guards apply.
        if (auto* button = qobject_cast<QPushButton*>(Control(IDC_GOTO)); button->isEnabled())
            button->click();
        break;
    case FindAction::SetCurrentPoint:
        // Taken as a sync when the window next uses the Current point.
        if (!m_gotoSession.Running() && !m_bLineBusy)
            WritePoint(point.ra, point.dec, kCurrentPointFields);
        break;
    case FindAction::AddAlignmentStar:
        if (m_pAddStarAction->isEnabled()) {
            WritePoint(point.ra, point.dec, kCurrentPointFields);
            OnAddAlignmentStar();
        }
        break;
    }
}

bool CControlDlg::AskToGo(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Confirm goto"), text,
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool CControlDlg::ConfirmGotoTarget()
{
    double ra = 0.0;
    double dec = 0.0;
    ReadPoint(&ra, &dec, kNextPointFields);
    const tavro::sky::Equatorial target = AsEquatorial({ra, dec});
    const double utc = m_gotoSession.Utc();
    const std::optional<tavro::sky::Site> site = SkySite();

    const tavro::sky::Equatorial sun = tavro::sky::ApparentPlaceOf(tavro::sky::Body::Sun, utc, site);
    const double fromSun = tavro::sky::SeparationDegrees(target, sun);
    if (fromSun < kSunGuardDegrees) {
        const QString text = QStringLiteral(
                                 "The target is %1\u00b0 from the Sun.\n\n"
                                 "Sunlight through a telescope or its finder blinds at once and burns the "
                                 "eyepiece, a camera or the telescope itself. Go on only with solar filters "
                                 "fitted over the front of the telescope and of its finder.\n\n"
                                 "Go to the target anyway?")
                                 .arg(fromSun, 0, 'f', 1);
        if (!AskToGo(text))
            return false;
    }
    if (site) {
        const double altitude = tavro::sky::ToHorizontal(target, utc, *site).altitudeDegrees;
        if (altitude < 0.0) {
            const QString text = QStringLiteral(
                                     "The target is %1\u00b0 below the horizon at the site.\n\n"
                                     "Go to the target anyway?")
                                     .arg(-altitude, 0, 'f', 1);
            if (!AskToGo(text))
                return false;
        }
    }
    return true;
}

void CControlDlg::OnGotoClicked()
{
    // The planetarium link presses the button for its own gotos: not asked.
    if (!m_bLinkGoto) {
        if (!ConfirmGotoTarget())
            return;
        // Whatever happened while the question was open (a lost link, a
        // goto from elsewhere) is judged by the button's rules again.
        if (!Control(IDC_GOTO)->isEnabled())
            return;
    }
    OnGoto();
}
