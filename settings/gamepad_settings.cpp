#include "settings/gamepad_settings.h"

#include <QSettings>

#include <optional>

#include "settings/ini_format.h"
#include "settings/settings_store.h"
#include "settings/value_text.h"

namespace tavro {

namespace {

struct Present {
    bool present = false;
    std::string text;
};

Present Value(const QSettings::SettingsMap& map, const char* key)
{
    const auto it = map.constFind(QLatin1String(kGamepadGroup) + u'/' + QLatin1String(key));
    if (it == map.constEnd())
        return {};
    // A value that is not one text (a list: "0,25" written with a decimal
    // comma) is told as it stands in the file.
    const QString raw = it.value().toString();
    const std::optional<std::string> text = UnescapeIniValue(raw);
    if (!text)
        return {true, raw.left(static_cast<qsizetype>(kMaxStoredText)).toStdString()};
    if (text->size() > kMaxStoredText)
        return {true, text->substr(0, kMaxStoredText)};
    return {true, *text};
}

std::string Name(const char* key)
{
    return std::string("[") + kGamepadGroup + "] " + key;
}

// The number of a present value from `low` (or above it, when `aboveLow`)
// up to `high`; a problem told when it is not one.
std::optional<double> Fraction(const QSettings::SettingsMap& map, const char* key, double low, bool aboveLow,
                               double high, const std::string& range, std::vector<std::string>& problems)
{
    const Present value = Value(map, key);
    if (!value.present)
        return std::nullopt;
    const std::optional<double> number = ParseWholeNumber(value.text);
    if (!number) {
        problems.push_back(Name(key) + "=" + value.text +
                           " is not a number (a fraction of the full travel, such as 0.25); it is ignored.");
        return std::nullopt;
    }
    if (*number < low || (aboveLow && *number == low) || *number > high) {
        problems.push_back(Name(key) + "=" + value.text + " is out of range (" + range + "); it is ignored.");
        return std::nullopt;
    }
    return number;
}

}  // namespace

GamepadSettingsLoad LoadGamepadSettings(const std::string& path)
{
    GamepadSettingsLoad load;
    const std::optional<QByteArray> text = ReadSettingsText(path);
    if (!text)
        return load;
    QSettings::SettingsMap map;
    ParseIni(*text, map);

    if (const std::optional<double> deadZone =
            Fraction(map, "DeadZone", kMinDeadZone, false, kMaxDeadZone,
                     FormatFixed(kMinDeadZone, 2) + " to " + FormatFixed(kMaxDeadZone, 2), load.problems))
        load.settings.deadZone = *deadZone;
    // FastAbove is weighed against the dead zone in force: at or below it,
    // every slew would start fast.
    const double low = load.settings.deadZone;
    if (const std::optional<double> fastAbove = Fraction(
            map, "FastAbove", low, true, 1.0, "above DeadZone=" + FormatFixed(low, 2) + ", up to 1", load.problems))
        load.settings.fastAbove = *fastAbove;
    // A dead zone taken above the default FastAbove leaves no slow range:
    // the stick then chooses fast only at full travel.
    if (load.settings.fastAbove <= load.settings.deadZone)
        load.settings.fastAbove = 1.0;
    return load;
}

}  // namespace tavro
