#include "settings/alignment_settings.h"

#include <QSettings>

#include <string_view>

#include "settings/ini_format.h"
#include "settings/value_text.h"

namespace tavro {

namespace {

// A group's value: absent, or its text (nothing when the raw value is not
// one text).
struct GroupValue {
    bool present = false;
    std::optional<std::string> text;
};

GroupValue Value(const QSettings::SettingsMap& map, const char* group, const char* key)
{
    const auto it = map.constFind(QLatin1String(group) + u'/' + QLatin1String(key));
    if (it == map.constEnd())
        return {};
    std::optional<std::string> text = UnescapeIniValue(it.value().toString());
    if (text && text->size() > kMaxStoredText)
        text.reset();
    return {true, std::move(text)};
}

std::string Name(const char* group, const char* key)
{
    return std::string("[") + group + "] " + key;
}

// The number of a present value within [low, high]; a problem told when it
// is not one.
std::optional<double> Number(const QSettings::SettingsMap& map, const char* group, const char* key, double low,
                             double high, const char* what, std::vector<std::string>& problems)
{
    const GroupValue value = Value(map, group, key);
    if (!value.present)
        return std::nullopt;
    const std::optional<double> number = value.text ? ParseWholeNumber(*value.text) : std::nullopt;
    if (!number) {
        problems.push_back(Name(group, key) + "=" + value.text.value_or("") + " is not a number of " + what +
                           "; it is ignored.");
        return std::nullopt;
    }
    if (*number < low || *number > high) {
        problems.push_back(Name(group, key) + "=" + *value.text + " is out of range (" + FormatFixed(low, 0) +
                           " to " + FormatFixed(high, 0) + " " + what + "); it is ignored.");
        return std::nullopt;
    }
    return number;
}

bool HasGroup(const QSettings::SettingsMap& map, const char* group)
{
    const QString prefix = QLatin1String(group) + u'/';
    const auto it = map.lowerBound(prefix);
    return it != map.constEnd() && it.key().startsWith(prefix);
}

std::optional<QSettings::SettingsMap> ReadMap(const std::string& path)
{
    const std::optional<QByteArray> text = ReadSettingsText(path);
    if (!text)
        return std::nullopt;
    QSettings::SettingsMap map;
    ParseIni(*text, map);
    return map;
}

struct TermKey {
    const char* key;
    double PointingTerms::*term;
};

constexpr TermKey kKeptTerms[] = {
    {"CH", &PointingTerms::ch},
    {"NP", &PointingTerms::np},
    {"MA", &PointingTerms::ma},
    {"ME", &PointingTerms::me},
};

constexpr char kModelName[] = "Model";

void EraseGroup(QSettings::SettingsMap& map, const char* group)
{
    const QString prefix = QLatin1String(group) + u'/';
    for (auto it = map.lowerBound(prefix); it != map.end() && it.key().startsWith(prefix);)
        it = map.erase(it);
}

}  // namespace

SiteLoad LoadSite(const std::string& path)
{
    SiteLoad load;
    const std::optional<QSettings::SettingsMap> map = ReadMap(path);
    if (!map || !HasGroup(*map, kSiteGroup))
        return load;
    const GroupValue latitudeText = Value(*map, kSiteGroup, "Latitude");
    const GroupValue longitudeText = Value(*map, kSiteGroup, "Longitude");
    const std::optional<double> latitude =
        Number(*map, kSiteGroup, "Latitude", -90.0, 90.0, "degrees", load.problems);
    const std::optional<double> longitude =
        Number(*map, kSiteGroup, "Longitude", -180.0, 180.0, "degrees", load.problems);
    if (latitude && longitude) {
        load.site = Site{*latitude, *longitude};
        return load;
    }
    if (!latitudeText.present)
        load.problems.push_back(Name(kSiteGroup, "Latitude") + " is missing; the site is not used.");
    if (!longitudeText.present)
        load.problems.push_back(Name(kSiteGroup, "Longitude") + " is missing; the site is not used.");
    return load;
}

AlignmentLoad LoadAlignment(const std::string& path, MountModel model)
{
    AlignmentLoad load;
    const std::optional<QSettings::SettingsMap> map = ReadMap(path);
    if (!map || !HasGroup(*map, kAlignmentGroup))
        return load;
    const GroupValue modelText = Value(*map, kAlignmentGroup, kModelName);
    if (!modelText.present || !modelText.text) {
        load.problems.push_back(Name(kAlignmentGroup, kModelName) +
                                " is missing: the kept alignment is not used.");
        return load;
    }
    const bool eq4 = IsEq4Text(*modelText.text);
    const bool eq5 = QString::fromStdString(*modelText.text).compare(u"EQ5", Qt::CaseInsensitive) == 0;
    if (!eq4 && !eq5) {
        load.problems.push_back(Name(kAlignmentGroup, kModelName) + "=" + *modelText.text +
                                " is not a mount model (EQ4 or EQ5): the kept alignment is not used.");
        return load;
    }
    if ((eq4 ? MountModel::EQ4 : MountModel::EQ5) != model) {
        load.problems.push_back(std::string("The kept alignment was made on an ") + (eq4 ? "EQ4" : "EQ5") +
                                " mount, not this " + ModelText(model) + ": it is not used.");
        return load;
    }
    PointingTerms terms;
    bool whole = true;
    for (const TermKey& kept : kKeptTerms) {
        const GroupValue value = Value(*map, kAlignmentGroup, kept.key);
        const std::optional<double> number = Number(*map, kAlignmentGroup, kept.key, -kMaxKeptTermArcsec,
                                                    kMaxKeptTermArcsec, "arcseconds", load.problems);
        if (!value.present)
            load.problems.push_back(Name(kAlignmentGroup, kept.key) + " is missing.");
        if (!number) {
            whole = false;
            continue;
        }
        terms.*kept.term = *number;
    }
    if (!whole) {
        load.problems.push_back("The kept alignment is not used: a term of it is missing or ignored.");
        return load;
    }
    load.terms = terms;
    return load;
}

std::optional<SaveFailure> SaveAlignment(const std::string& path, const PointingTerms& terms, MountModel model)
{
    return SaveSettingsChange(path, [&](QSettings::SettingsMap& map) {
        EraseGroup(map, kAlignmentGroup);
        const QString prefix = QLatin1String(kAlignmentGroup) + u'/';
        map.insert(prefix + QLatin1String(kModelName), QLatin1String(ModelText(model)));
        for (const TermKey& kept : kKeptTerms) {
            map.insert(prefix + QLatin1String(kept.key),
                       QString::fromStdString(FormatFixed(terms.*kept.term, 2)));
        }
    });
}

std::optional<SaveFailure> RemoveAlignment(const std::string& path)
{
    return SaveSettingsChange(path, [](QSettings::SettingsMap& map) { EraseGroup(map, kAlignmentGroup); });
}

std::optional<SaveFailure> KeepAlignment(const std::string& path, const PointingModel& model,
                                         MountModel mountModel)
{
    const PointingTerms& terms = model.Terms();
    bool anyKept = false;
    for (const TermKey& kept : kKeptTerms)
        anyKept = anyKept || terms.*kept.term != 0.0;
    if (model.Count() == 0 && !anyKept)
        return RemoveAlignment(path);
    return SaveAlignment(path, terms, mountModel);
}

}  // namespace tavro
