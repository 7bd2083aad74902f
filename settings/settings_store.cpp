#include "settings/settings_store.h"

#include <QFile>
#include <QSettings>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "mount/mount_controller.h"
#include "settings/ini_format.h"
#include "settings/value_text.h"

namespace tavro {

int StoredValueIndex(const QString& name)
{
    for (size_t i = 0; i < std::size(kStoredValueNames); ++i) {
        if (name == QLatin1String(kStoredValueNames[i])) return static_cast<int>(i);
    }
    return -1;
}

namespace {

constexpr std::chrono::seconds kAbandonedLockAge{1};

// A settings file larger than this is not a settings file; it is not read.
constexpr off_t kMaxFileSize = 64 * 1024 * 1024;

// The whole file at `path`, or nothing when it is not a readable regular
// file. Opening does not block (a FIFO put there would otherwise hang the
// start-up); only read access is asked for, so a file that this user may
// read but not write still loads.
std::optional<QByteArray> ReadSettingsFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<QByteArray> result;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileSize) {
        QByteArray text;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, n);
                if (text.size() > kMaxFileSize) break;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) result = std::move(text);
            break;
        }
    }
    ::close(fd);
    return result;
}

class StoredValues {
public:
    explicit StoredValues(const QSettings::SettingsMap& map) : m_map(map) {}

    // The text of a string value; empty when missing, not one text, or longer
    // than a stored string may be.
    std::optional<std::string> Text(const char* name) const
    {
        std::optional<std::string> text = Raw(name);
        if (text && text->size() > kMaxStoredText) return std::nullopt;
        return text;
    }

    // A number value within [low, high], compared unsigned.
    std::optional<uint32_t> Number(const char* name, uint32_t low, uint32_t high) const
    {
        const std::optional<std::string> text = Raw(name);
        if (!text) return std::nullopt;
        const std::optional<uint32_t> value = ParsePlainNumber(*text);
        if (!value || *value < low || *value > high) return std::nullopt;
        return value;
    }

    // A gap: the leading number of a string value, from 0 to `high`.
    std::optional<double> Gap(const char* name, double high) const
    {
        const std::optional<std::string> text = Text(name);
        if (!text) return std::nullopt;
        const std::optional<double> value = ParseLeadingNumber(*text);
        // Written so that a NaN fails both comparisons.
        if (!value || !(*value >= 0.0 && *value <= high)) return std::nullopt;
        return value;
    }

private:
    std::optional<std::string> Raw(const char* name) const
    {
        const auto it = m_map.constFind(QLatin1String(kOptionsGroup) + u'/' + QLatin1String(name));
        if (it == m_map.constEnd()) return std::nullopt;
        return UnescapeIniValue(it.value().toString());
    }

    const QSettings::SettingsMap& m_map;
};

// The port number of a [Ports] key "COMn" (any letter case, n from 1 to 255
// without leading zeros), or 0.
int PortKeyNumber(const QString& key)
{
    if (key.size() < 4 || key.size() > 6 || key.left(3).compare(u"COM", Qt::CaseInsensitive) != 0) {
        return 0;
    }
    if (key[3] == u'0') return 0;
    const std::string digits = key.mid(3).toStdString();
    const std::optional<uint32_t> number = ParsePlainNumber(digits);
    if (!number || *number < kFirstPort || *number > kLastPort) return 0;
    return static_cast<int>(*number);
}

// The [Ports] entries with a valid key and a non-empty path. When a number
// appears under several spellings, the first in key order is kept.
PortMap ReadPortMap(const QSettings::SettingsMap& map)
{
    PortMap ports;
    const QString prefix = QLatin1String(kPortsGroup) + u'/';
    for (auto it = map.lowerBound(prefix); it != map.constEnd() && it.key().startsWith(prefix); ++it) {
        const int number = PortKeyNumber(it.key().mid(prefix.size()));
        if (number == 0) continue;
        const std::optional<std::string> path = UnescapeIniValue(it.value().toString());
        if (!path || path->empty()) continue;
        ports.emplace(number, *path);
    }
    return ports;
}

// QSettings serialises saves with a lock file next to the settings file. A
// save killed between creating that file and writing its owner into it
// leaves it empty, and QSettings would wait 30 s before it takes such a file
// for stale. An empty lock file a second old belongs to no one (its owner
// writes it at once): remove it, waiting for it to reach that age if need be.
void ClearAbandonedLock(const std::string& settingsPath)
{
    using namespace std::chrono;
    const std::string lockPath = settingsPath + ".lock";
    for (;;) {
        struct stat st {};
        if (::stat(lockPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0) return;
        const auto modified = system_clock::time_point(seconds(st.st_mtim.tv_sec) +
                                                       nanoseconds(st.st_mtim.tv_nsec));
        const auto age = system_clock::now() - modified;
        if (age >= kAbandonedLockAge || age < -kAbandonedLockAge) {
            ::unlink(lockPath.c_str());
            return;
        }
        std::this_thread::sleep_for(std::min<system_clock::duration>(kAbandonedLockAge - age, milliseconds(100)));
    }
}

}  // namespace
}  // namespace tavro

void LoadSettings(const std::string& path, int& comPort, bool& connectOnStart,
                  CMountController& controller)
{
    using namespace tavro;
    const std::optional<QByteArray> file = ReadSettingsFile(path);
    if (!file) return;
    QSettings::SettingsMap map;
    ParseIni(*file, map);
    const StoredValues values(map);

    if (const auto port = values.Number("Connection", 1, 255)) comPort = static_cast<int>(*port);
    if (const auto text = values.Text("ConnectOnStart")) connectOnStart = *text != "0";
    if (const auto index = values.Number("ClockSpeedCorrection", 1, 5)) {
        controller.SetClockCorrection(static_cast<int>(*index));
    }
    const double raGap = values.Gap("RaGap", 60.0).value_or(controller.m_dRaGap);
    const double decGap = values.Gap("DecGap", 10.0).value_or(controller.m_dDecGap);
    controller.SetGaps(raGap, decGap);
    if (const auto speed = values.Number("MaxGotoSpeed", 48, 255)) {
        controller.SetMaxGotoSpeed(static_cast<int>(*speed));
    }
    if (const auto steps = values.Number("AutoguideSteps", 1, 4)) {
        controller.SetAutoguideSteps(static_cast<int>(*steps));
    }
    if (const auto option = values.Number("K3CCDOption", 0, 2)) {
        controller.SetK3CCDOption(static_cast<int>(*option));
    }
    if (const auto text = values.Text("DriverMode")) controller.SetMountModel(IsEq4Text(*text) ? 0 : 1);

    controller.m_portMap = ReadPortMap(map);
}

void SaveSettings(const std::string& path, int comPort, bool connectOnStart,
                  const CMountController& controller)
{
    using namespace tavro;
    // Something other than a file where the file should be (a folder, a
    // FIFO) is left alone.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return;

    // Numbers are written as the unsigned 32-bit value of their bits, so a
    // negative one reads back as a large number and is refused.
    auto number = [](int value) { return QString::number(static_cast<uint32_t>(value)); };
    ClearAbandonedLock(path);
    {
        QSettings settings(QFile::decodeName(QByteArray::fromStdString(path)), IniTextFormat());
        settings.beginGroup(QLatin1String(kOptionsGroup));
        settings.setValue(QStringLiteral("Connection"), number(comPort));
        settings.setValue(QStringLiteral("ConnectOnStart"), connectOnStart ? QStringLiteral("1") : QStringLiteral("0"));
        settings.setValue(QStringLiteral("ClockSpeedCorrection"), number(controller.m_nClockCorrection));
        settings.setValue(QStringLiteral("RaGap"), QString::fromStdString(FormatFixed(controller.m_dRaGap, 2)));
        settings.setValue(QStringLiteral("DecGap"), QString::fromStdString(FormatFixed(controller.m_dDecGap, 1)));
        settings.setValue(QStringLiteral("MaxGotoSpeed"), number(controller.m_nMaxGotoSpeed));
        settings.setValue(QStringLiteral("AutoguideSteps"), number(controller.m_nAutoguideSteps));
        settings.setValue(QStringLiteral("K3CCDOption"), number(controller.m_nK3CCDOption));
        settings.setValue(QStringLiteral("DriverMode"),
                          controller.m_bEQ5 != 0 ? QStringLiteral("EQ5") : QStringLiteral("EQ4"));
        settings.endGroup();
        settings.sync();
        if (settings.status() != QSettings::NoError) return;
    }
    // The file is shared by every user of the serial-port group: keep it
    // readable by all and writable by the group (its folder passes the group
    // on). A save replaces the file, so the saver owns it and may do this.
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0664) != 0664) {
        ::chmod(path.c_str(), (st.st_mode & 07777) | 0664);
    }
}
