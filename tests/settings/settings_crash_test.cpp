// A save cut short at any moment (the saving process killed outright) leaves
// the file exactly as it was before that save or as that save wrote it.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "settings_test_util.h"

namespace tavro::test {
namespace {

using SettingsCrash = SettingsDir;

TEST_F(SettingsCrash, KilledSavesNeverLeaveATornFile)
{
    // Two sets of values whose files differ in length and content.
    const Loaded first{3, false, 1, 0.5, 1.0, 60, 1, 0, 1, {}};
    const Loaded second{250, true, 5, 59.75, 9.5, 250, 4, 2, 0, {}};
    SaveValues(Path(), second);
    const std::string secondText = ReadFile(Path());
    SaveValues(Path(), first);
    const std::string firstText = ReadFile(Path());
    ASSERT_NE(firstText.size(), secondText.size());

    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> delayUs(0, 30000);
    int sawFirst = 0, sawSecond = 0;
    for (int round = 0; round < 150; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                SaveValues(Path(), second);
                SaveValues(Path(), first);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);

        const std::string text = ReadFile(Path());
        ASSERT_TRUE(text == firstText || text == secondText) << "round " << round << ":\n" << text;
        const Loaded loaded = LoadFresh(Path());
        ASSERT_TRUE(loaded == first || loaded == second) << loaded;
        (text == firstText ? sawFirst : sawSecond)++;

        // A save right after the kill goes through at once, whatever state
        // the killed save left its lock in.
        const auto start = std::chrono::steady_clock::now();
        SaveValues(Path(), text == firstText ? first : second);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << "round " << round;
    }
    // The kills landed in both halves of the loop, not always before it.
    EXPECT_GT(sawFirst, 0);
    EXPECT_GT(sawSecond, 0);
}

}  // namespace
}  // namespace tavro::test
