#pragma once
// The settings file's text format: an INI file read and written as plain
// text. Values stay the exact text of their line; nothing in the file is
// ever turned into typed data (QSettings' own INI reader would deserialise
// "@Variant(...)" values, which a damaged or hostile file can use to exhaust
// the stack), so a file of any content is read in one linear pass.
//
// Map keys are "Group/key"; keys of the [General] group and keys before the
// first group header have no group part, as QSettings has them.

#include <QByteArray>
#include <QSettings>
#include <QString>

#include <optional>
#include <string>

namespace tavro {

// Reads the lines of an INI file into `map`: "[Group]" headers, "key=value"
// lines, comments (';' or '#'), blank lines. Key, group and value are
// trimmed; the value is kept as the raw text of the line. Lines that are
// none of these, keys with nothing before "=", and the keys under a broken
// header ("[Group" without "]") are skipped, and so are the few keys that
// WriteIni could not write back as the same key (a group that starts or ends
// with a blank before a "/", for one). A key given twice keeps its
// last value. Text is taken byte for byte (each byte one character), so
// whatever is kept is written back unchanged.
void ParseIni(const QByteArray& text, QSettings::SettingsMap& map);

// Writes `map` as INI text: keys without a group under [General] first,
// then each group in name order; in [Options] the stored values come first
// in their fixed order. Every value is written as its raw text.
QByteArray WriteIni(const QSettings::SettingsMap& map);

// The QSettings format that reads and writes files with the two functions
// above (registered once, on first use).
QSettings::Format IniTextFormat();

// The text a raw value stands for, with the INI quoting of QSettings undone
// (double quotes, backslash escapes, "@@" for a leading "@", an unquoted
// ";" starting a comment), as UTF-8
// bytes. Empty when the value is not one text: a list (an unquoted comma),
// a typed "@..." value, or an escape giving NUL or no valid character.
std::optional<std::string> UnescapeIniValue(const QString& raw);

}  // namespace tavro
