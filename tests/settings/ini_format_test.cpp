// The settings file's text format: values read the way QSettings' own INI
// reader reads them, and what is written reads back as the same map.

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

#include "settings/ini_format.h"
#include "settings_test_util.h"

namespace tavro::test {
namespace {

TEST(IniFormat, ValueTextsMatchQSettingsOwnReading)
{
    const char* raws[] = {
        "plain",        "  padded  ",     "\"quoted\"",      "\" kept \"",    "a\"b\"c",
        "tab\\tend",    "\\x41\\x42",     "\\101\\102",      "\\e",           "x\\",
        "@@at",         "trail\\t  ",     "\"a\" \"b\"",     "\\\"q\\\"",     "back\\\\slash",
        "\\x263A",      "caf\xc3\xa9",    "EQ4",             "1.50",          "\"\"",
        "a;b",          "\"a,b\"",        "\\?\\'\\a\\b",    "  \\x20",       "\\x20  ",      "a ;b",           "a;b",             "\"a;b\"",      "x\\;y",
    };
    QTemporaryDir dir;
    int n = 0;
    for (const char* raw : raws) {
        // A file of its own for each: QSettings caches files by name, size
        // and time.
        const QString path = dir.filePath(QString("qt%1.ini").arg(n++));
        WriteFile(path.toStdString(), std::string("[G]\nk=") + raw + "\n");
        QSettings qt(path, QSettings::IniFormat);
        const QVariant value = qt.value("G/k");
        ASSERT_EQ(value.typeId(), QMetaType::QString) << raw;
        const std::optional<std::string> ours = UnescapeIniValue(QString::fromLatin1(raw));
        ASSERT_TRUE(ours.has_value()) << raw;
        EXPECT_EQ(QString::fromStdString(*ours), value.toString()) << raw;
    }
}

TEST(IniFormat, ListsTypedValuesAndNulAreNotTexts)
{
    for (const char* raw : {"a,b", "a, b", ",", "@Variant(\\0)", "@ByteArray(x)", "@Invalid()",
                            "@", "x\\0y", "\\x0", "\\x110000", "\\xD800"}) {
        EXPECT_FALSE(UnescapeIniValue(QString::fromLatin1(raw)).has_value()) << raw;
    }
}

QSettings::SettingsMap Parse(const QByteArray& text)
{
    QSettings::SettingsMap map;
    ParseIni(text, map);
    return map;
}

TEST(IniFormat, ParsesGroupsKeysAndRawValues)
{
    const QSettings::SettingsMap map = Parse(
        "root=1\n; comment\n# comment\n[General]\ng = 2 \n[ A b ]\n k = v = w \n"
        "=novalue\nnoequals\n[Broken\nlost=1\n[C]\ndup=1\ndup=2\n");
    QSettings::SettingsMap expected;
    expected.insert("root", "1");
    expected.insert("g", "2");
    expected.insert("A b/k", "v = w");
    expected.insert("C/dup", "2");
    EXPECT_EQ(map, expected);
}

// Whatever a file held, writing what was read and reading it again gives the
// same map, byte for byte in every key and value.
TEST(IniFormat, WritingWhatWasReadIsStable)
{
    std::mt19937 random(7);
    const char* tokens[] = {"[", "]", "=", ";", "#", "/", " ", "\t", "\r", "\n", "\"", "\\", ",",
                            "@", "a", "b", "General", "Options", "\x01", "\x7f", "\xff", "\n["};
    for (int round = 0; round < 1000; ++round) {
        QByteArray text;
        const int size = static_cast<int>(random() % 200);
        for (int i = 0; i < size; ++i) text += tokens[random() % std::size(tokens)];
        const QSettings::SettingsMap first = Parse(text);
        const QByteArray written = WriteIni(first);
        EXPECT_EQ(Parse(written), first) << text.toStdString();
        EXPECT_EQ(WriteIni(Parse(written)), written);
    }
}

}  // namespace
}  // namespace tavro::test
