#include "settings/ini_format.h"

#include <QIODevice>

#include <algorithm>
#include <map>
#include <vector>

#include "settings/settings_store.h"

namespace tavro {
namespace {

const QString kGeneral = QStringLiteral("General");

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\0'; }

// [begin, end) of `text` without blanks at either end.
void Trim(const QByteArray& text, qsizetype& begin, qsizetype& end)
{
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
}

bool IsBlank(QChar c) { return c.unicode() < 0x100 && IsBlank(static_cast<char>(c.unicode())); }

// True when WriteIni, which puts a map key's text up to its first '/' in the
// group header and the rest before "=", writes `key` back as a line that
// reads as the same key. Keys that would come back changed are not kept.
bool Writable(const QString& key)
{
    const qsizetype slash = key.indexOf(u'/');
    if (slash < 0) return true;  // no group: written as read
    const QString group = key.left(slash);
    const QString rest = key.mid(slash + 1);
    if (group.isEmpty() || group == kGeneral || group.contains(u']') || IsBlank(group.front()) ||
        IsBlank(group.back())) {
        return false;
    }
    return !rest.isEmpty() && !rest.contains(u'=') && !IsBlank(rest.front()) && !IsBlank(rest.back()) &&
           rest.front() != u'[' && rest.front() != u';' && rest.front() != u'#';
}

QString Latin1(const QByteArray& text, qsizetype begin, qsizetype end)
{
    return QString::fromLatin1(text.constData() + begin, end - begin);
}

bool ReadIniDevice(QIODevice& device, QSettings::SettingsMap& map)
{
    ParseIni(device.readAll(), map);
    // Never report a format error: QSettings would then drop every key it
    // read, and the next save would lose the file's other groups.
    return true;
}

bool WriteIniDevice(QIODevice& device, const QSettings::SettingsMap& map)
{
    const QByteArray text = WriteIni(map);
    return device.write(text) == text.size();
}

void AppendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

int HexDigit(char16_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void ParseIni(const QByteArray& text, QSettings::SettingsMap& map)
{
    QString group;       // "" for [General] and before the first header
    bool skipping = false;  // under a broken header
    const qsizetype size = text.size();
    qsizetype lineStart = 0;
    while (lineStart < size) {
        qsizetype lineEnd = text.indexOf('\n', lineStart);
        if (lineEnd < 0) lineEnd = size;
        qsizetype begin = lineStart, end = lineEnd;
        lineStart = lineEnd + 1;
        Trim(text, begin, end);
        if (begin == end || text[begin] == ';' || text[begin] == '#') continue;

        if (text[begin] == '[') {
            const qsizetype close = text.indexOf(']', begin);
            if (close < 0 || close >= end) {
                skipping = true;
                continue;
            }
            qsizetype nameBegin = begin + 1, nameEnd = close;
            Trim(text, nameBegin, nameEnd);
            group = Latin1(text, nameBegin, nameEnd);
            if (group == kGeneral) group.clear();
            skipping = false;
            continue;
        }
        if (skipping) continue;

        const qsizetype equals = text.indexOf('=', begin);
        if (equals < 0 || equals >= end) continue;
        qsizetype keyEnd = equals;
        qsizetype valueBegin = equals + 1, valueEnd = end;
        Trim(text, begin, keyEnd);
        Trim(text, valueBegin, valueEnd);
        if (begin == keyEnd) continue;
        const QString name = Latin1(text, begin, keyEnd);
        const QString key = group.isEmpty() ? name : group + u'/' + name;
        if (Writable(key)) map.insert(key, Latin1(text, valueBegin, valueEnd));
    }
}

QByteArray WriteIni(const QSettings::SettingsMap& map)
{
    // Group name -> (key, value) in the map's order.
    std::map<QString, std::vector<std::pair<QString, QString>>> groups;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        const qsizetype slash = it.key().indexOf(u'/');
        QString group = slash < 0 ? QString() : it.key().left(slash);
        QString key = slash < 0 ? it.key() : it.key().mid(slash + 1);
        groups[group].emplace_back(std::move(key), it.value().toString());
    }

    QByteArray out;
    auto writeGroup = [&out](const QString& name, std::vector<std::pair<QString, QString>> keys) {
        if (!out.isEmpty()) out += '\n';
        out += '[' + (name.isEmpty() ? kGeneral : name).toLatin1() + "]\n";
        if (name == QLatin1String(kOptionsGroup)) {
            const auto known = std::stable_partition(keys.begin(), keys.end(), [](const auto& entry) {
                return StoredValueIndex(entry.first) >= 0;
            });
            std::sort(keys.begin(), known, [](const auto& a, const auto& b) {
                return StoredValueIndex(a.first) < StoredValueIndex(b.first);
            });
        }
        for (const auto& [key, value] : keys) {
            out += key.toLatin1() + '=' + value.toLatin1() + '\n';
        }
    };
    if (auto general = groups.find(QString()); general != groups.end()) {
        writeGroup(general->first, std::move(general->second));
        groups.erase(general);
    }
    for (auto& [name, keys] : groups) writeGroup(name, std::move(keys));
    return out;
}

QSettings::Format IniTextFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), ReadIniDevice, WriteIniDevice);
    return format;
}

std::optional<std::string> UnescapeIniValue(const QString& raw)
{
    static const char kEscapes[][2] = {
        {'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'},
        {'v', '\v'}, {'"', '"'}, {'?', '?'}, {'\'', '\''}, {'\\', '\\'}};

    std::string out;
    size_t chopLimit = 0;  // trailing blanks before this index came from escapes
    bool quoted = false;
    bool inQuotes = false;
    qsizetype i = 0;
    const qsizetype n = raw.size();
    auto skipBlanks = [&] {
        while (i < n && (raw[i] == u' ' || raw[i] == u'\t')) ++i;
    };
    auto addCode = [&](char32_t code) {
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        AppendUtf8(out, code);
        chopLimit = out.size();
        return true;
    };

    skipBlanks();
    while (i < n) {
        const char16_t c = raw[i].unicode();
        if (c == u'\\') {
            ++i;
            if (i >= n) break;
            const char16_t e = raw[i++].unicode();
            bool simple = false;
            for (const auto& escape : kEscapes) {
                if (e == static_cast<unsigned char>(escape[0])) {
                    out += escape[1];
                    chopLimit = out.size();
                    simple = true;
                    break;
                }
            }
            if (simple) continue;
            if (e == u'x') {
                if (i >= n || HexDigit(raw[i].unicode()) < 0) continue;
                char32_t code = 0;
                while (i < n && HexDigit(raw[i].unicode()) >= 0) {
                    code = code * 16 + HexDigit(raw[i++].unicode());
                    if (code > 0x10FFFF) return std::nullopt;
                }
                if (!addCode(code)) return std::nullopt;
            } else if (e >= u'0' && e <= u'7') {
                char32_t code = e - u'0';
                while (i < n && raw[i] >= u'0' && raw[i] <= u'7') {
                    code = code * 8 + (raw[i++].unicode() - u'0');
                    if (code > 0x10FFFF) return std::nullopt;
                }
                if (!addCode(code)) return std::nullopt;
            }
            // Any other escaped character is dropped, as QSettings does.
            chopLimit = out.size();
        } else if (c == u'"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) skipBlanks();
        } else if (c == u',' && !inQuotes) {
            return std::nullopt;  // a list, not one text
        } else if (c == u';' && !inQuotes) {
            break;  // the rest of the line is a comment
        } else if (c == 0) {
            return std::nullopt;  // no text holds a NUL
        } else {
            // Bytes of the line as they are: the file is UTF-8 text.
            if (c < 0x100) {
                out += static_cast<char>(c);
            } else {
                AppendUtf8(out, c);
            }
            ++i;
        }
    }
    if (!quoted) {
        while (out.size() > chopLimit && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
    }
    if (!out.empty() && out[0] == '@') {
        if (out.size() < 2 || out[1] != '@') return std::nullopt;  // a typed value
        out.erase(0, 1);
    }
    return out;
}

}  // namespace tavro
