#pragma once
// Helpers of the settings store tests: a scratch folder, whole-file reads and
// writes, and a snapshot of everything a load can change.

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>

#include "mount/mount_controller.h"
#include "settings/settings_store.h"

namespace tavro::test {

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Everything LoadSettings may change.
struct Loaded {
    int comPort = 1;
    bool connectOnStart = false;
    int clock = 3;
    double raGap = 0.0;
    double decGap = 0.0;
    int speed = 76;
    int steps = 2;
    int k3ccd = 0;
    int eq5 = 1;
    PortMap ports;

    bool operator==(const Loaded&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Loaded& v)
{
    out << "{port " << v.comPort << ", connect " << v.connectOnStart << ", clock " << v.clock
        << ", gaps " << v.raGap << "/" << v.decGap << ", speed " << v.speed << ", steps "
        << v.steps << ", k3ccd " << v.k3ccd << ", eq5 " << v.eq5 << ", ports";
    for (const auto& [n, p] : v.ports) out << " " << n << "=" << p;
    return out << "}";
}

inline Loaded Snapshot(int comPort, bool connectOnStart, const CMountController& c)
{
    return Loaded{comPort, connectOnStart, c.Settings().clockCorrection, c.Settings().raGapMinutes, c.Settings().decGapArcmin,
                  c.Settings().maxGotoSpeed, c.Settings().autoguideSteps, c.Settings().k3ccdOption, c.Settings().Eq5() ? 1 : 0,
                  c.Ports()};
}

// Loads `path` the way the window does at start: port 1, flag off, a new
// controller.
inline Loaded LoadFresh(const std::string& path)
{
    int port = 1;
    bool connect = false;
    CMountController controller;
    LoadSettings(path, port, connect, controller);
    return Snapshot(port, connect, controller);
}

// Saves `v` (its port map aside) to `path`; why not, when the save fails.
inline std::optional<SaveFailure> TrySave(const std::string& path, const Loaded& v)
{
    MountSettings settings;
    settings.clockCorrection = v.clock;
    settings.raGapMinutes = v.raGap;
    settings.decGapArcmin = v.decGap;
    settings.maxGotoSpeed = v.speed;
    settings.autoguideSteps = v.steps;
    settings.k3ccdOption = v.k3ccd;
    settings.model = v.eq5 != 0 ? MountModel::EQ5 : MountModel::EQ4;
    return SaveSettings(path, v.comPort, v.connectOnStart, settings);
}

// Saves `v` to `path`, which must succeed.
inline void SaveValues(const std::string& path, const Loaded& v)
{
    const std::optional<SaveFailure> failure = TrySave(path, v);
    EXPECT_FALSE(failure) << failure->Text();
}

// Runs `run` in a child process and returns the text it returned there.
// With `asAnotherUser`, when the tests run as root, the child runs as nobody,
// a user that does not own the test's files and whom permissions bind.
inline std::string InChild(bool asAnotherUser, const std::function<std::string()>& run)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return "<no pipe>";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const bool ready = !asAnotherUser || ::geteuid() != 0 ||
                           (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0);
        const std::string text = ready ? run() : "<could not become nobody>";
        const bool written = ::write(pipeFds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "<child failed>";
}

// Runs `check` as another user (see InChild) and returns whether it passed.
inline bool AsAnotherUser(const std::function<bool()>& check)
{
    return InChild(true, [&] { return std::string(check() ? "passed" : "failed"); }) == "passed";
}

class SettingsDir : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    std::string Path(const char* name = "options.ini") const
    {
        return m_dir.filePath(QString::fromLatin1(name)).toStdString();
    }
    QTemporaryDir m_dir;
};

}  // namespace tavro::test
