// Saves that must not be made and saves that cannot be made: a link or
// another non-file at the settings path or its lock path is never followed
// nor replaced, and a save that fails says why, naming the file, and leaves
// the file and its folder as they were.

#include <QDir>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings_test_util.h"

namespace tavro::test {
namespace {

const std::string kOtherText = "root:x:0:0:root:/root:/bin/bash\n";

class SettingsSave : public SettingsDir {
protected:
    void SetUp() override
    {
        SettingsDir::SetUp();
        ASSERT_TRUE(m_elsewhere.isValid());
    }

    // The names in the settings folder, one string.
    std::string Entries() const
    {
        return QDir(m_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).join(' ').toStdString();
    }

    // A file of another folder, as a link at the settings path would name it.
    std::string Elsewhere(const char* name) const
    {
        return m_elsewhere.filePath(QString::fromLatin1(name)).toStdString();
    }

    QTemporaryDir m_elsewhere;
};

struct FileState {
    std::string text;
    mode_t mode = 0;
    bool exists = false;

    bool operator==(const FileState&) const = default;
};

FileState StateOf(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    return {ReadFile(path), static_cast<mode_t>(st.st_mode & 07777), true};
}

std::string LinkTarget(const std::string& path)
{
    char target[4096];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    return n < 0 ? std::string() : std::string(target, static_cast<size_t>(n));
}

TEST_F(SettingsSave, ALinkAtTheSettingsOrLockPathIsNeitherFollowedNorReplaced)
{
    const struct {
        const char* name;
        const char* linkAt;  // "" for the settings path, ".lock" for its lock path
        bool targetExists;
        const char* reason;
    } cases[] = {
        {"link to a file", "", true, "it is a symbolic link"},
        {"link to no file", "", false, "it is a symbolic link"},
        {"lock link to a file", ".lock", true, "its lock file {lock} is a symbolic link"},
        {"lock link to no file", ".lock", false, "its lock file {lock} is a symbolic link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = Elsewhere("passwd");
        ::unlink(target.c_str());
        if (c.targetExists) {
            WriteFile(target, kOtherText);
            ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
        }
        for (const std::string& name : {Path(), Path("options.ini.lock")}) ::unlink(name.c_str());
        const std::string link = Path() + c.linkAt;
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        const FileState before = StateOf(target);
        const std::string entries = Entries();

        const std::optional<SaveFailure> failure = TrySave(Path(), Loaded{});

        ASSERT_TRUE(failure);
        std::string reason = c.reason;
        if (const size_t at = reason.find("{lock}"); at != std::string::npos) reason.replace(at, 6, link);
        EXPECT_EQ(failure->Text(), Path() + ": " + reason);
        EXPECT_EQ(StateOf(target), before);
        EXPECT_EQ(LinkTarget(link), target);
        EXPECT_EQ(Entries(), entries);
    }
}

// Each case makes the save fail for root and for any other user alike; a
// case that needs permissions to bind runs as another user.
TEST_F(SettingsSave, AFailedSaveSaysWhyAndLeavesTheFileAndFolderAsTheyWere)
{
    // Over 8 KiB, so that a file size limit of 4 KiB stops the new file's
    // text and never the lock file's few lines.
    std::string oldText = "[Options]\nConnection=9\n[Ports]\nCOM3=/dev/ttyUSB0\n[Zeta]\n";
    while (oldText.size() < 8192) oldText += "key" + std::to_string(oldText.size()) + "=" + std::string(64, 'v') + "\n";
    const std::string folder = m_dir.path().toStdString();
    const struct {
        const char* name;
        std::string path;     // where the save goes
        std::string oldFile;  // the file that must stay as it is
        mode_t folderMode;
        mode_t fileMode;
        bool asAnotherUser;
        rlim_t sizeLimit;  // RLIMIT_FSIZE of the saving process, or 0
        const char* reason;
    } cases[] = {
        {"folder is a file", Path("plain") + "/options.ini", Path("plain"), 0700, 0644, false, 0,
         "Not a directory"},
        {"folder missing", Path("missing") + "/options.ini", Path(), 0700, 0644, false, 0,
         "no new file can be made in its folder: No such file or directory"},
        {"read-only folder", Path(), Path(), 0555, 0644, true, 0,
         "no new file can be made in its folder: Permission denied"},
        {"unreadable file", Path(), Path(), 0777, 0, true, 0, "it could not be read: Permission denied"},
        {"file size limit", Path(), Path(), 0700, 0644, false, 4096,
         "the new file could not be written: File too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* name : {"options.ini", "plain"}) ::unlink(Path(name).c_str());
        WriteFile(c.oldFile, oldText);
        ASSERT_EQ(::chmod(c.oldFile.c_str(), c.fileMode), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);

        const std::string text = InChild(c.asAnotherUser, [&] {
            if (c.sizeLimit != 0) {
                const rlimit limit{c.sizeLimit, c.sizeLimit};
                ::signal(SIGXFSZ, SIG_IGN);
                if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("<no size limit>");
            }
            const std::optional<SaveFailure> failure = TrySave(c.path, Loaded{});
            return failure ? failure->Text() : std::string("saved");
        });

        ::chmod(folder.c_str(), 0700);
        ::chmod(c.oldFile.c_str(), 0600);
        EXPECT_EQ(text, c.path + ": " + c.reason);
        EXPECT_EQ(ReadFile(c.oldFile), oldText);
        EXPECT_EQ(Entries(), c.oldFile.substr(c.oldFile.rfind('/') + 1));
    }
}

// A save killed between making its new file and renaming it leaves that file
// behind; the next save removes those of its own naming that are over a
// minute old, and nothing else.
TEST_F(SettingsSave, LeftoverNewFilesOverAMinuteOldAreRemovedAndNothingElse)
{
    WriteFile(Elsewhere("target"), kOtherText);
    const struct {
        const char* name;
        int ageSeconds;
        char kind;  // 'f' file, 'l' link to a file elsewhere, 'd' folder
        bool removed;
    } entries[] = {
        {"options.ini.new-Ab12Cd", 61, 'f', true},
        {"options.ini.new-zzzzzz", 3600 * 24 * 30, 'f', true},
        {"options.ini.new-Xy34Zw", 50, 'f', false},    // a save still running
        {"options.ini.new-Ab12C", 600, 'f', false},    // not six characters
        {"options.ini.new-Ab12Cde", 600, 'f', false},
        {"options.ini.new-Ab_2Cd", 600, 'f', false},   // not of the generator's alphabet
        {"other.ini.new-Ab12Cd", 600, 'f', false},     // another file's
        {"options.ini.old-Ab12Cd", 600, 'f', false},
        {"notes.txt", 600, 'f', false},
        {"options.ini.new-Lk12Lk", 600, 'l', false},   // never followed nor removed
        {"options.ini.new-Dr12Dr", 600, 'd', false},
    };
    for (const auto& e : entries) {
        const std::string path = Path(e.name);
        if (e.kind == 'f') WriteFile(path, kOtherText);
        if (e.kind == 'l') {
            ASSERT_EQ(::symlink(Elsewhere("target").c_str(), path.c_str()), 0);
        }
        if (e.kind == 'd') {
            ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
        }
        timespec times[2] = {};
        ASSERT_EQ(::clock_gettime(CLOCK_REALTIME, &times[0]), 0);
        times[0].tv_sec -= e.ageSeconds;
        times[1] = times[0];
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << e.name;
    }

    SaveValues(Path(), Loaded{});

    for (const auto& e : entries) {
        SCOPED_TRACE(e.name);
        struct stat st {};
        EXPECT_EQ(::lstat(Path(e.name).c_str(), &st) != 0, e.removed);
    }
    EXPECT_EQ(ReadFile(Elsewhere("target")), kOtherText);
    EXPECT_EQ(LinkTarget(Path("options.ini.new-Lk12Lk")), Elsewhere("target"));
    EXPECT_EQ(LoadFresh(Path()), Loaded{});
}

}  // namespace
}  // namespace tavro::test
