#pragma once
// CFindObjectDlg: "Find object…" (IDD_FIND_OBJECT). A search field that
// lists the matching objects as the operator types, each with its names,
// type, magnitude, constellation, its place of the date (as the window's
// point fields will show it) and its altitude and azimuth now at the site.
// The dialog only chooses: the object's place of the date and what to do
// with it come back to the window, which fills its fields and acts.
//
// The keyboard is enough: the arrow keys move the choice in the list while
// the search field keeps the focus, Enter takes the chosen match (the first
// until another is chosen) as the Next point, Escape closes the dialog and
// changes nothing.

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sky/sky_object.h"
#include "ui/widgets/template_dialog.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace tavro::sky {
class Catalogue;
}

// What the operator chose the object for.
enum class FindAction { SetNextPoint, Goto, SetCurrentPoint, AddAlignmentStar };

struct FindChoice {
    FindAction action = FindAction::SetNextPoint;
    // The object's place of the date (topocentric for the Moon with a site).
    tavro::sky::Equatorial place;
    std::string name;
};

// What the dialog works with; the window makes it.
struct FindContext {
    // The catalogue, or null when it could not be read: `catalogueError`
    // then says why, and only the Sun, the Moon and the planets are found.
    const tavro::sky::Catalogue* catalogue = nullptr;
    std::string catalogueError;
    // UTC now, unix seconds (the window's clock of the sky).
    std::function<double()> utcNow;
    // The observing site; none: the list says "site not set".
    std::optional<tavro::sky::Site> site;
    // Which of the buttons that act on the mount may act now.
    bool gotoAllowed = false;
    bool setCurrentAllowed = true;
    bool addStarAllowed = false;
};

class CFindObjectDlg : public CTemplateDialog {
    Q_OBJECT
public:
    enum : int {
        IDD_FIND_OBJECT = 104,
        IDC_FIND_TEXT = 1101,
        IDC_FIND_LIST = 1102,
        IDC_FIND_STATUS = 1103,
        IDC_FIND_SET_NEXT = 1104,
        IDC_FIND_GOTO = 1105,
        IDC_FIND_SET_CURRENT = 1106,
        IDC_FIND_ADD_STAR = 1107,
    };
    // The list's columns.
    enum Column : int { kName, kType, kMagnitude, kConstellation, kRa, kDec, kAltAz, kColumns };
    // At most this many matches are listed; the status tells how many there are.
    static constexpr std::size_t kListLimit = 50;

    explicit CFindObjectDlg(FindContext context, QWidget* parent = nullptr);
    ~CFindObjectDlg() override;

    // The operator's choice once the dialog ended with IDOK.
    const std::optional<FindChoice>& Choice() const { return m_choice; }

    QLineEdit* SearchField() const { return m_search; }
    QTreeWidget* List() const { return m_list; }
    QLabel* Status() const { return m_status; }

protected:
    bool OnInitDialog() override;
    void PaintFields() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateControls();
    // Lists the matches of the search text (every keystroke).
    void OnSearchChanged();
    // Ends the dialog with the chosen match and `action`; nothing without a
    // match.
    void Choose(FindAction action);
    void UpdateButtons();
    // The matches: the catalogue's, or the bodies of the solar system
    // when there is no catalogue. `total` is every match.
    std::vector<const tavro::sky::SkyObject*> Matches(const QString& text, std::size_t* total) const;

    FindContext m_context;
    // The Sun, the Moon and the planets, found without a catalogue.
    std::vector<tavro::sky::SkyObject> m_bodies;
    std::vector<const tavro::sky::SkyObject*> m_shown;  // the list's rows
    std::optional<FindChoice> m_choice;

    QLineEdit* m_search = nullptr;
    QTreeWidget* m_list = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_setNext = nullptr;
    QPushButton* m_goto = nullptr;
    QPushButton* m_setCurrent = nullptr;
    QPushButton* m_addStar = nullptr;
};

// The texts of the list's columns for `object` at `unixSeconds`: names,
// type, magnitude, constellation, RA and Dec of the date as the point fields
// show them, altitude and azimuth at the site or "site not set".
std::vector<QString> FindRowTexts(const tavro::sky::SkyObject& object, const tavro::sky::Catalogue* catalogue,
                                  double unixSeconds, const std::optional<tavro::sky::Site>& site);
