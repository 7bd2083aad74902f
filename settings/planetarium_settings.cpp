#include "settings/planetarium_settings.h"

#include <QSettings>

#include "settings/ini_format.h"
#include "settings/settings_store.h"

namespace tavro {

namespace {

// Longer values are not addresses; they are not taken.
constexpr size_t kMaxValueText = 256;

std::optional<std::string> Value(const QSettings::SettingsMap& map, const char* key)
{
    const auto it = map.constFind(QLatin1String(kPlanetariumGroup) + u'/' + QLatin1String(key));
    if (it == map.constEnd())
        return std::nullopt;
    std::optional<std::string> text = UnescapeIniValue(it.value().toString());
    if (text && text->size() > kMaxValueText)
        return std::nullopt;
    return text;
}

}  // namespace

PlanetariumSettings LoadPlanetariumSettings(const std::string& path)
{
    PlanetariumSettings settings;
    const std::optional<QByteArray> text = ReadSettingsText(path);
    if (!text)
        return settings;
    QSettings::SettingsMap map;
    ParseIni(*text, map);
    if (const std::optional<std::string> listen = Value(map, "Listen"))
        settings.listen = *listen;
    if (const std::optional<std::string> epoch = Value(map, "Epoch"))
        settings.j2000 = QString::fromStdString(*epoch).compare(u"J2000", Qt::CaseInsensitive) == 0;
    return settings;
}

}  // namespace tavro
