#include "ui/find/find_object_dlg.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <cmath>

#include "sky/apparent_place.h"
#include "sky/catalogue.h"
#include "ui/widgets/dialog_units.h"
#include "ui/window/point_text.h"

namespace {

using tavro::sky::Body;
using tavro::sky::ObjectType;
using tavro::sky::SkyObject;

// A name as the search compares it: lower case, without blanks.
std::string Folded(std::string_view text)
{
    std::string folded;
    for (const char c : text) {
        if (c == ' ' || c == '\t')
            continue;
        folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return folded;
}

std::vector<SkyObject> SolarSystemBodies()
{
    const struct {
        const char* name;
        Body body;
        ObjectType type;
    } bodies[] = {
        {"Sun", Body::Sun, ObjectType::Sun},
        {"Moon", Body::Moon, ObjectType::Moon},
        {"Mercury", Body::Mercury, ObjectType::Planet},
        {"Venus", Body::Venus, ObjectType::Planet},
        {"Mars", Body::Mars, ObjectType::Planet},
        {"Jupiter", Body::Jupiter, ObjectType::Planet},
        {"Saturn", Body::Saturn, ObjectType::Planet},
        {"Uranus", Body::Uranus, ObjectType::Planet},
        {"Neptune", Body::Neptune, ObjectType::Planet},
    };
    std::vector<SkyObject> objects;
    for (const auto& b : bodies) {
        SkyObject object;
        object.names = {b.name};
        object.type = b.type;
        object.body = b.body;
        objects.push_back(std::move(object));
    }
    return objects;
}

QString DegreesText(double degrees)
{
    return QStringLiteral("%1\u00b0").arg(degrees, 0, 'f', 1);
}

}  // namespace

std::vector<QString> FindRowTexts(const SkyObject& object, const tavro::sky::Catalogue* catalogue,
                                  double unixSeconds, const std::optional<tavro::sky::Site>& site)
{
    std::vector<QString> texts(CFindObjectDlg::kColumns);
    QStringList names;
    for (const std::string& name : object.names)
        names << QString::fromStdString(name);
    texts[CFindObjectDlg::kName] = names.join(QStringLiteral(", "));
    texts[CFindObjectDlg::kType] = QString::fromUtf8(tavro::sky::TypeName(object.type));
    texts[CFindObjectDlg::kMagnitude] =
        object.magnitude ? QString::number(*object.magnitude, 'f', 1) : QStringLiteral("\u2014");

    const tavro::sky::Equatorial place = tavro::sky::ApparentPlaceOf(object, unixSeconds, site);
    std::string constellation = object.constellation;
    if (object.body && catalogue)
        constellation = catalogue->ConstellationAt(tavro::sky::J2000FromApparent(place, unixSeconds));
    texts[CFindObjectDlg::kConstellation] =
        constellation.empty() ? QStringLiteral("\u2014") : QString::fromStdString(constellation);

    // The place as the point fields will hold it.
    const tavro::ui::PointTexts point = tavro::ui::FormatPoint(place.raHours, place.decDegrees);
    texts[CFindObjectDlg::kRa] = QStringLiteral("%1h %2m %3s").arg(point[0], point[1], point[2]);
    texts[CFindObjectDlg::kDec] =
        QStringLiteral("%1%2\u00b0 %3\u2032 %4\u2033")
            .arg(point[3] == QStringLiteral("-") ? QStringLiteral("\u2212") : QStringLiteral("+"), point[4],
                 point[5], point[6]);
    if (site) {
        const tavro::sky::Horizontal h = tavro::sky::ToHorizontal(place, unixSeconds, *site);
        texts[CFindObjectDlg::kAltAz] =
            QStringLiteral("%1 / %2").arg(DegreesText(h.altitudeDegrees), DegreesText(h.azimuthDegrees));
    } else {
        texts[CFindObjectDlg::kAltAz] = QStringLiteral("site not set");
    }
    return texts;
}

CFindObjectDlg::CFindObjectDlg(FindContext context, QWidget* parent)
    : CTemplateDialog(parent), m_context(std::move(context))
{
    setWindowTitle(QStringLiteral("Find object"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    setFont(tavro::ui::DialogFont());
    if (!m_context.catalogue)
        m_bodies = SolarSystemBodies();
    CreateControls();
    OnSearchChanged();
}

CFindObjectDlg::~CFindObjectDlg() = default;

void CFindObjectDlg::CreateControls()
{
    const tavro::ui::DialogUnits du(font());
    setFixedSize(du.X(440), du.Y(216));

    auto* label = new QLabel(QStringLiteral("Object:"), this);
    label->setGeometry(du.Rect(7, 10, 30, 8));
    m_search = new QLineEdit(this);
    SetControlId(m_search, IDC_FIND_TEXT, QStringLiteral("IDC_FIND_TEXT"));
    m_search->setGeometry(du.Rect(40, 7, 393, 14));
    m_search->setPlaceholderText(QStringLiteral("M 31, NGC 224, Andromeda, Vega, Alpha Lyr, Jupiter, Moon"));
    m_search->installEventFilter(this);
    connect(m_search, &QLineEdit::textChanged, this, &CFindObjectDlg::OnSearchChanged);

    m_list = new QTreeWidget(this);
    SetControlId(m_list, IDC_FIND_LIST, QStringLiteral("IDC_FIND_LIST"));
    m_list->setGeometry(du.Rect(7, 26, 426, 148));
    m_list->setColumnCount(kColumns);
    m_list->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Type"), QStringLiteral("Mag"),
                             QStringLiteral("Const"), QStringLiteral("RA (date)"),
                             QStringLiteral("Dec (date)"), QStringLiteral("Alt / Az now")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    // The name takes the room the other columns leave; they take what
    // their texts need.
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(kName, QHeaderView::Stretch);
    m_list->installEventFilter(this);
    connect(m_list, &QTreeWidget::itemActivated, this, [this] { Choose(FindAction::SetNextPoint); });

    m_status = new QLabel(this);
    SetControlId(m_status, IDC_FIND_STATUS, QStringLiteral("IDC_FIND_STATUS"));
    m_status->setGeometry(du.Rect(7, 178, 426, 10));
    m_status->setWordWrap(false);

    auto button = [&](const char* caption, int id, const char* name, int x, int width) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        SetControlId(b, id, QString::fromLatin1(name));
        b->setGeometry(du.Rect(x, 194, width, 14));
        b->setAutoDefault(false);
        return b;
    };
    m_setNext = button("Set Next point", IDC_FIND_SET_NEXT, "IDC_FIND_SET_NEXT", 7, 70);
    m_goto = button("Goto", IDC_FIND_GOTO, "IDC_FIND_GOTO", 81, 50);
    m_setCurrent = button("Set Current point", IDC_FIND_SET_CURRENT, "IDC_FIND_SET_CURRENT", 135, 76);
    m_addStar = button("Add alignment star", IDC_FIND_ADD_STAR, "IDC_FIND_ADD_STAR", 215, 80);
    QPushButton* close = button("Close", IDCANCEL, "IDCANCEL", 383, 50);
    connect(m_setNext, &QPushButton::clicked, this, [this] { Choose(FindAction::SetNextPoint); });
    connect(m_goto, &QPushButton::clicked, this, [this] { Choose(FindAction::Goto); });
    connect(m_setCurrent, &QPushButton::clicked, this, [this] { Choose(FindAction::SetCurrentPoint); });
    connect(m_addStar, &QPushButton::clicked, this, [this] { Choose(FindAction::AddAlignmentStar); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    m_goto->setToolTip(QStringLiteral("Fills the Next point and starts the goto"));
    m_addStar->setToolTip(QStringLiteral("Fills the Current point and adds it as an alignment star"));
}

bool CFindObjectDlg::OnInitDialog()
{
    InitValidationColours();
    PaintFields();
    m_search->setFocus(Qt::OtherFocusReason);
    return true;
}

void CFindObjectDlg::PaintFields()
{
    PaintAlwaysValid(m_search);
}

std::vector<const SkyObject*> CFindObjectDlg::Matches(const QString& text, std::size_t* total) const
{
    const std::string query = text.toStdString();
    if (m_context.catalogue) {
        tavro::sky::SearchResult result = m_context.catalogue->Find(query, kListLimit);
        *total = result.total;
        return std::move(result.matches);
    }
    std::vector<const SkyObject*> matches;
    const std::string folded = Folded(query);
    if (!folded.empty()) {
        for (const SkyObject& body : m_bodies) {
            if (Folded(body.names.front()).rfind(folded, 0) == 0)
                matches.push_back(&body);
        }
    }
    *total = matches.size();
    return matches;
}

void CFindObjectDlg::OnSearchChanged()
{
    std::size_t total = 0;
    m_shown = Matches(m_search->text(), &total);
    const double now = m_context.utcNow ? m_context.utcNow() : 0.0;

    m_list->setUpdatesEnabled(false);
    m_list->clear();
    QList<QTreeWidgetItem*> items;
    for (const SkyObject* object : m_shown) {
        const std::vector<QString> texts = FindRowTexts(*object, m_context.catalogue, now, m_context.site);
        auto* item = new QTreeWidgetItem(QStringList(texts.begin(), texts.end()));
        item->setTextAlignment(kMagnitude, Qt::AlignRight | Qt::AlignVCenter);
        items << item;
    }
    m_list->addTopLevelItems(items);
    if (!items.isEmpty())
        m_list->setCurrentItem(items.front());
    m_list->setUpdatesEnabled(true);

    QString status;
    if (!m_context.catalogueError.empty()) {
        status = QString::fromStdString(m_context.catalogueError) +
                 QStringLiteral(" Only the Sun, the Moon and the planets can be found.");
    }
    if (m_search->text().trimmed().isEmpty()) {
        if (status.isEmpty())
            status = QStringLiteral("Type a name or a catalogue number.");
    } else if (m_shown.empty()) {
        status = status.isEmpty() ? QStringLiteral("No object found")
                                  : QStringLiteral("No object found. ") + status;
    } else if (status.isEmpty()) {
        status =
            total == 1 ? QStringLiteral("1 object found") : QStringLiteral("%1 objects found").arg(total);
        if (total > m_shown.size())
            status += QStringLiteral(", the first %1 listed").arg(m_shown.size());
    }
    m_status->setText(status);
    m_status->setToolTip(status);
    UpdateButtons();
}

void CFindObjectDlg::UpdateButtons()
{
    const bool any = m_list->currentItem() != nullptr;
    m_setNext->setEnabled(any);
    m_goto->setEnabled(any && m_context.gotoAllowed);
    m_setCurrent->setEnabled(any && m_context.setCurrentAllowed);
    m_addStar->setEnabled(any && m_context.addStarAllowed);
}

void CFindObjectDlg::Choose(FindAction action)
{
    const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
    if (row < 0 || static_cast<std::size_t>(row) >= m_shown.size())
        return;
    const SkyObject& object = *m_shown[static_cast<std::size_t>(row)];
    // The place now, not when it was listed: the Moon moves a second of
    // arc in two seconds of time.
    const double now = m_context.utcNow ? m_context.utcNow() : 0.0;
    m_choice =
        FindChoice{action, tavro::sky::ApparentPlaceOf(object, now, m_context.site), object.names.front()};
    accept();
}

bool CFindObjectDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched == m_search) {
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            // The choice in the list moves; the typing goes on in the field.
            if (m_list->topLevelItemCount() > 0)
                QCoreApplication::sendEvent(m_list, event);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            Choose(FindAction::SetNextPoint);
            return true;
        default:
            break;
        }
    }
    return CTemplateDialog::eventFilter(watched, event);
}

void CFindObjectDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter clicks the button with the focus; anywhere else it takes the
    // chosen match as the Next point.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            if (button->isEnabled())
                button->click();
        } else {
            Choose(FindAction::SetNextPoint);
        }
        return;
    }
    CTemplateDialog::keyPressEvent(event);
}
