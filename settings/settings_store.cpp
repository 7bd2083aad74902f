#include "settings/settings_store.h"

#include <QFile>
#include <QLockFile>
#include <QSettings>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "mount/mount_controller.h"
#include "settings/ini_format.h"
#include "settings/value_text.h"

namespace tavro {

int StoredValueIndex(const QString& name)
{
    // The port and the flag, then the tuning values in their rules' order,
    // then the mount model.
    if (name == QLatin1String("Connection")) return 0;
    if (name == QLatin1String("ConnectOnStart")) return 1;
    int index = 2;
    for (const SettingRule& rule : SettingRules()) {
        if (name == QLatin1String(rule.fileKey)) return index;
        ++index;
    }
    return name == QLatin1String(kModelKey) ? index : -1;
}

namespace {

constexpr std::chrono::seconds kAbandonedLockAge{1};

// A new settings file that was never put in place (its save was killed
// between making it and renaming it) is taken for abandoned at this age: a
// save takes well under a second, a slow disk or a lock held by another
// copy of the program a few seconds at most.
constexpr std::chrono::seconds kAbandonedNewFileAge{60};

// A settings file larger than this is not a settings file; it is not read.
constexpr off_t kMaxFileSize = 64 * 1024 * 1024;

enum class ReadResult { Read, NotRegular, TooLarge, Failed };

// Reads the file open on `fd` into `text` when it is a regular file of at
// most kMaxFileSize bytes; `st` gets its status. After Failed, errno tells
// why.
ReadResult ReadRegularFile(int fd, QByteArray& text, struct stat& st)
{
    if (::fstat(fd, &st) != 0) return ReadResult::Failed;
    if (!S_ISREG(st.st_mode)) return ReadResult::NotRegular;
    if (st.st_size > kMaxFileSize) return ReadResult::TooLarge;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, n);
            if (text.size() > kMaxFileSize) return ReadResult::TooLarge;
            continue;
        }
        if (n == 0) return ReadResult::Read;
        if (errno != EINTR) return ReadResult::Failed;
    }
}

// The whole file at `path`, or nothing when it is not a readable regular
// file. Opening does not block (a FIFO put there would otherwise hang the
// start-up); only read access is asked for, so a file that this user may
// read but not write still loads.
std::optional<QByteArray> ReadSettingsFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    QByteArray text;
    struct stat st {};
    const ReadResult result = ReadRegularFile(fd, text, st);
    ::close(fd);
    if (result != ReadResult::Read) return std::nullopt;
    return text;
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

    // A decimal value (a gap): the leading number of a string value, within
    // `limits`; a NaN lies in none.
    std::optional<double> Decimal(const char* name, const Limits& limits) const
    {
        const std::optional<std::string> text = Text(name);
        if (!text) return std::nullopt;
        const std::optional<double> value = ParseLeadingNumber(*text);
        if (!value || !limits.Contains(*value)) return std::nullopt;
        return value;
    }

    // A tuning value as its rule's load accepts it.
    std::optional<double> Tuning(const SettingRule& rule) const
    {
        if (rule.decimals > 0) return Decimal(rule.fileKey, rule.load);
        const auto value = Number(rule.fileKey, static_cast<uint32_t>(rule.load.low),
                                  static_cast<uint32_t>(rule.load.high));
        if (!value) return std::nullopt;
        return static_cast<double>(*value);
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

// Saves are serialised with the lock file that QSettings uses, "<path>.lock"
// taken through QLockFile, so that this save and one by another copy of the
// program (this one or an older one saving through QSettings) never overlap.
// A save killed between creating that file and writing its owner into it
// leaves it empty, and QLockFile would wait 30 s before it takes such a file
// for stale. An empty lock file a second old belongs to no one (its owner
// writes it at once): remove it, waiting for it to reach that age if need be.
// Only a regular file is taken for a lock file (lstat: a link there is never
// followed); unlink() removes the name itself.
void ClearAbandonedLock(const std::string& lockPath)
{
    using namespace std::chrono;
    for (;;) {
        struct stat st {};
        if (::lstat(lockPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0) return;
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

// How long a save waits for another program's save to end. QSettings would
// wait for ever; a lock that is held this long is reported instead.
constexpr std::chrono::seconds kLockWait{5};

// What a save refuses to replace: anything but a regular file. The words
// follow "it" or "its lock file <path>".
std::optional<std::string> Refusal(mode_t mode)
{
    if (S_ISLNK(mode)) return "is a symbolic link";
    if (!S_ISREG(mode)) return "is not a regular file";
    return std::nullopt;
}

std::string SystemReason(const std::string& step, int error)
{
    return step + ": " + std::strerror(error);
}

// The folder that holds `path`, for fsync().
std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Removes the new files that killed saves left next to the settings file at
// `path`: regular files named "<file name>.new-" and six characters of the
// name generator's alphabet (letters and digits), older than
// kAbandonedNewFileAge. Nothing else in the folder is touched: not another
// name, not a link or a folder of that name, not a fresh file (a save of
// another copy of the program that is still running). unlink() removes the
// name itself, never what a link would point to.
void ClearAbandonedNewFiles(const std::string& path)
{
    using namespace std::chrono;
    const size_t slash = path.rfind('/');
    const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".new-";
    DIR* dir = ::opendir(FolderOf(path).c_str());
    if (!dir) return;
    const std::string base = path.substr(0, slash == std::string::npos ? 0 : slash + 1);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
        const bool generated = std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                                           [](char ch) {
                                               return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                                                      (ch >= '0' && ch <= '9');
                                           });
        if (!generated) continue;
        const std::string full = base + name;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        const auto modified = system_clock::time_point(seconds(st.st_mtim.tv_sec) + nanoseconds(st.st_mtim.tv_nsec));
        if (system_clock::now() - modified >= kAbandonedNewFileAge) ::unlink(full.c_str());
    }
    ::closedir(dir);
}

// The new settings file while it is written: made next to the settings file
// under a name no one else has (O_CREAT | O_EXCL | O_NOFOLLOW, so nothing
// that was put at that name is opened), removed again unless it has been
// put in place.
class NewFile {
public:
    explicit NewFile(const std::string& path) : m_path(path + ".new-XXXXXX")
    {
        // mkostemp() opens with O_RDWR | O_CREAT | O_EXCL and the flags given,
        // mode 0600 until Write sets the file's own.
        m_fd = ::mkostemp(m_path.data(), O_CLOEXEC | O_NOFOLLOW);
        m_error = m_fd < 0 ? errno : 0;
        m_made = m_fd >= 0;
    }
    ~NewFile()
    {
        if (m_fd >= 0) ::close(m_fd);
        if (m_made) ::unlink(m_path.c_str());
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // 0 when the file was made, else the errno of making it.
    int Error() const { return m_error; }

    // Writes `text`, gives the file `mode`, makes it durable and closes it;
    // why not, when it fails.
    std::optional<std::string> Write(const QByteArray& text, mode_t mode)
    {
        const char* data = text.constData();
        qsizetype left = text.size();
        while (left > 0) {
            const ssize_t n = ::write(m_fd, data, static_cast<size_t>(left));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return SystemReason("the new file could not be written", n < 0 ? errno : EIO);
            data += n;
            left -= n;
        }
        // fchmod on the descriptor: only the file this save made changes
        // mode, whatever is at any path by now.
        if (::fchmod(m_fd, mode) != 0) return SystemReason("the new file's mode could not be set", errno);
        if (::fsync(m_fd) != 0) return SystemReason("the new file could not be written", errno);
        if (::close(std::exchange(m_fd, -1)) != 0) return SystemReason("the new file could not be written", errno);
        return std::nullopt;
    }

    // Puts the new file in place of `path`.
    std::optional<std::string> Replace(const std::string& path)
    {
        if (::rename(m_path.c_str(), path.c_str()) != 0) return SystemReason("it could not be replaced", errno);
        m_made = false;  // it is the settings file now
        return std::nullopt;
    }

private:
    std::string m_path;
    int m_fd = -1;
    int m_error = 0;
    bool m_made = false;  // made and not put in place: removed at the end
};

// What the save read at the settings path: the file's identity, or nothing
// when there was no file.
struct OldFile {
    bool existed = false;
    dev_t device = 0;
    ino_t inode = 0;
    mode_t mode = 0;
};

// Reads the settings file at `path` into `map` without following a link at
// the path; why not, when it cannot. A missing file reads as empty.
std::optional<std::string> ReadOldFile(const std::string& path, QSettings::SettingsMap& map, OldFile& read)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        if (errno == ELOOP) return "it is a symbolic link";
        return SystemReason("it could not be read", errno);
    }
    QByteArray text;
    struct stat st {};
    const ReadResult result = ReadRegularFile(fd, text, st);
    const int error = errno;
    ::close(fd);
    switch (result) {
    case ReadResult::Read:
        break;
    case ReadResult::NotRegular:
        return "it is not a regular file";
    case ReadResult::TooLarge:
        return "it is larger than a settings file may be (64 MiB)";
    case ReadResult::Failed:
        return SystemReason("it could not be read", error);
    }
    ParseIni(text, map);
    read = OldFile{true, st.st_dev, st.st_ino, st.st_mode};
    return std::nullopt;
}

// Whether the path still names what the save read; why not, when it does
// not.
std::optional<std::string> Changed(const std::string& path, const OldFile& read)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return SystemReason("it could not be checked", errno);
        if (!read.existed) return std::nullopt;
        return "it was removed by another program during the save";
    }
    if (auto refusal = Refusal(st.st_mode)) return "it " + *refusal;
    if (!read.existed || st.st_dev != read.device || st.st_ino != read.inode) {
        return "it was changed by another program during the save";
    }
    return std::nullopt;
}

void SyncFolder(const std::string& path)
{
    const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void PutMountValues(QSettings::SettingsMap& map, const MountSettings& settings);

// The nine values, as they are written. Numbers are written as the unsigned
// 32-bit value of their bits, so a negative one reads back as a large number
// and is refused.
void PutStoredValues(QSettings::SettingsMap& map, int comPort, bool connectOnStart,
                     const MountSettings& settings)
{
    auto number = [](int value) { return QString::number(static_cast<uint32_t>(value)); };
    auto put = [&map](const char* name, const QString& value) {
        map.insert(QLatin1String(kOptionsGroup) + u'/' + QLatin1String(name), value);
    };
    put("Connection", number(comPort));
    put("ConnectOnStart", connectOnStart ? QStringLiteral("1") : QStringLiteral("0"));
    PutMountValues(map, settings);
}

// The seven mount settings, as they are written: whole numbers as the
// unsigned 32-bit value of their bits, the others with their decimals.
void PutMountValues(QSettings::SettingsMap& map, const MountSettings& settings)
{
    auto put = [&map](const char* name, const QString& value) {
        map.insert(QLatin1String(kOptionsGroup) + u'/' + QLatin1String(name), value);
    };
    for (const SettingRule& rule : SettingRules()) {
        const double value = rule.get(settings);
        if (rule.decimals > 0)
            put(rule.fileKey, QString::fromStdString(FormatFixed(value, rule.decimals)));
        else
            put(rule.fileKey, QString::number(static_cast<uint32_t>(static_cast<int>(value))));
    }
    put(kModelKey, QLatin1String(ModelText(settings.model)));
}

}  // namespace

std::optional<QByteArray> ReadSettingsText(const std::string& path)
{
    return ReadSettingsFile(path);
}

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
    // Each value the load accepts replaces the one in memory; every other
    // stays as it is.
    MountSettings settings = controller.Settings();
    for (const SettingRule& rule : SettingRules()) {
        if (const auto value = values.Tuning(rule)) rule.put(settings, *value);
    }
    if (const auto text = values.Text(kModelKey)) settings.model = IsEq4Text(*text) ? MountModel::EQ4 : MountModel::EQ5;
    controller.SetSettings(settings);

    controller.SetPorts(ReadPortMap(map));
}

namespace tavro {

std::optional<SaveFailure> SaveSettingsChange(const std::string& path,
                                              const std::function<void(QSettings::SettingsMap&)>& change)
{
    auto fail = [&path](std::string reason) { return std::optional<SaveFailure>(SaveFailure{path, std::move(reason)}); };

    // Something other than a file where the file or its lock file should be
    // (a link, a folder, a FIFO) is left alone. lstat(): a link is seen as
    // what it is.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (auto refusal = Refusal(st.st_mode)) return fail("it " + *refusal);
    } else if (errno != ENOENT) {
        return fail(std::strerror(errno));
    }
    const std::string lockPath = path + ".lock";
    if (::lstat(lockPath.c_str(), &st) == 0) {
        if (auto refusal = Refusal(st.st_mode)) return fail("its lock file " + lockPath + " " + *refusal);
    }

    // The new file first: a folder that takes no new file (read-only, no
    // permission, missing) is then told in the system's words.
    NewFile file(path);
    if (file.Error() != 0) return fail(SystemReason("no new file can be made in its folder", file.Error()));

    // QLockFile creates the lock file with O_CREAT | O_EXCL, which fails on
    // a link of any kind instead of following it, and removes a stale one by
    // unlink(), which removes the name itself.
    ClearAbandonedLock(lockPath);
    QLockFile lock(QFile::decodeName(QByteArray::fromStdString(lockPath)));
    if (!lock.tryLock(kLockWait)) {
        if (lock.error() == QLockFile::LockFailedError) {
            return fail("its lock file " + lockPath + " is held by another program");
        }
        return fail("its lock file " + lockPath + " could not be made");
    }

    // Under the lock, so that no save still running has its new file taken.
    ClearAbandonedNewFiles(path);

    // Under the lock, so that no other save's groups or keys are lost.
    QSettings::SettingsMap map;
    OldFile read;
    if (auto why = ReadOldFile(path, map, read)) return fail(*why);
    change(map);

    // The file is shared by every user of the serial-port group: readable by
    // all and writable by the group (its folder passes the group on), with
    // whatever more the old file allowed.
    const mode_t mode = (read.existed ? read.mode & 0777 : 0) | 0664;
    if (auto why = file.Write(WriteIni(map), mode)) return fail(*why);

    // rename() replaces the name itself: were a link put at the path after
    // the check below, the link would be replaced, never a file it points
    // to, and a folder there makes rename() fail. So no swap can make this
    // save write or re-mode another file; the check is there so that a
    // non-file put at the path during the save is not replaced, and so that
    // a file another program put there meanwhile is not silently lost.
    if (auto why = Changed(path, read)) return fail(*why);
    if (auto why = file.Replace(path)) return fail(*why);
    SyncFolder(path);
    return std::nullopt;
}

std::optional<SaveFailure> SaveMountSettings(const std::string& path, const CMountController& controller)
{
    const MountSettings settings = controller.Settings();
    return SaveSettingsChange(path, [&](QSettings::SettingsMap& map) { PutMountValues(map, settings); });
}

std::optional<SaveFailure> SavePortChoice(const std::string& path, int number, const std::string& device,
                                          int* savedNumber)
{
    for (const char c : device) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F)
            return SaveFailure{path, "the device path " + device + " holds characters the file cannot keep"};
    }
    int chosen = number;
    auto result = SaveSettingsChange(path, [&](QSettings::SettingsMap& map) {
        if (!device.empty()) {
            const PortMap ports = ReadPortMap(map);
            chosen = 0;
            for (int n = kFirstPort; n <= kLastPort && chosen == 0; ++n) {
                if (PortDevicePath(n, ports) == device)
                    chosen = n;
            }
            // Above COM96 the fixed rule maps nothing: the first number
            // there without an entry of its own (under any spelling) takes
            // the path.
            for (int n = 97; n <= kLastPort && chosen == 0; ++n) {
                bool taken = ports.count(n) != 0;
                const QString prefix = QLatin1String(kPortsGroup) + u'/';
                for (auto it = map.lowerBound(prefix); !taken && it != map.constEnd() && it.key().startsWith(prefix); ++it)
                    taken = PortKeyNumber(it.key().mid(prefix.size())) == n;
                if (!taken) {
                    chosen = n;
                    // Quoted, so that ';', '#', ',' or '@' in a path are kept.
                    QString quoted = QString::fromStdString(device);
                    quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
                    map.insert(prefix + QStringLiteral("COM%1").arg(n), u'"' + quoted + u'"');
                }
            }
            if (chosen == 0)
                return;  // no number left: the file is written unchanged
        }
        map.insert(QLatin1String(kOptionsGroup) + QLatin1String("/Connection"),
                   QString::number(static_cast<uint32_t>(chosen)));
    });
    if (!result && chosen == 0)
        return SaveFailure{path, "no free port number is left for " + device};
    if (!result && savedNumber != nullptr)
        *savedNumber = chosen;
    return result;
}

std::optional<bool> LoadNightVision(const std::string& path)
{
    const std::optional<QByteArray> file = ReadSettingsFile(path);
    if (!file) return std::nullopt;
    QSettings::SettingsMap map;
    ParseIni(*file, map);
    const auto it = map.constFind(QLatin1String(kDisplayGroup) + QLatin1String("/NightVision"));
    if (it == map.constEnd()) return std::nullopt;
    const std::optional<std::string> text = UnescapeIniValue(it.value().toString());
    if (!text) return std::nullopt;
    return *text != "0";
}

std::optional<SaveFailure> SaveNightVision(const std::string& path, bool on)
{
    return SaveSettingsChange(path, [on](QSettings::SettingsMap& map) {
        map.insert(QLatin1String(kDisplayGroup) + QLatin1String("/NightVision"),
                   on ? QStringLiteral("1") : QStringLiteral("0"));
    });
}

}  // namespace tavro

std::optional<tavro::SaveFailure> SaveSettings(const std::string& path, int comPort, bool connectOnStart,
                                                const tavro::MountSettings& settings)
{
    return tavro::SaveSettingsChange(path, [&](QSettings::SettingsMap& map) {
        tavro::PutStoredValues(map, comPort, connectOnStart, settings);
    });
}

std::optional<tavro::SaveFailure> SaveSettings(const std::string& path, int comPort, bool connectOnStart,
                                                const CMountController& controller)
{
    return SaveSettings(path, comPort, connectOnStart, controller.Settings());
}
