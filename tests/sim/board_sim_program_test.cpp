// The tavro-board-sim program: its options, its trace and its clean exit.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A running copy of the program with its standard output and error on pipes.
class Program {
public:
    explicit Program(const std::vector<std::string>& arguments) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all = {TAVRO_BOARD_SIM_PROGRAM};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }

    ~Program() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Wait();
        }
        if (m_out >= 0) ::close(m_out);
        if (m_err >= 0) ::close(m_err);
    }

    bool Started() const { return m_pid > 0; }

    // Reads standard output until a line containing `text` has arrived.
    bool WaitForOutput(const std::string& text, int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_output.find(text) == std::string::npos) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
            char buffer[512];
            const ssize_t n = ::read(m_out, buffer, sizeof buffer);
            if (n <= 0) return false;
            m_output.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }

    // Waits for the exit and collects the rest of both outputs; the exit
    // code, or -1 when the program did not exit normally.
    int Wait() {
        int status = 0;
        if (m_pid <= 0 || ::waitpid(m_pid, &status, 0) != m_pid) return -1;
        m_pid = -1;
        Drain(m_out, m_output);
        Drain(m_err, m_errors);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Signal(int number) { ::kill(m_pid, number); }
    const std::string& Output() const { return m_output; }
    const std::string& Errors() const { return m_errors; }

private:
    static void Drain(int fd, std::string& into) {
        char buffer[512];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) into.append(buffer, static_cast<size_t>(n));
    }

    pid_t m_pid = -1;
    int m_out = -1, m_err = -1;
    std::string m_output, m_errors;
};

struct OptionErrorCase {
    std::vector<std::string> arguments;
    std::string message;
};

TEST(BoardSimProgram, RefusesBadOptionsWithExitCodeTwo) {
    const std::vector<OptionErrorCase> cases = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"extra"}, "unknown option 'extra'"},
        {{"--model", "eq6"}, "--model must be eq5 or eq4, not 'eq6'"},
        {{"--model"}, "option --model needs a value"},
        {{"--link"}, "option --link needs a value"},
        {{"--link="}, "--link needs a path"},
        {{"--time-scale", "-1"}, "--time-scale must be a number from 0 to 1000, not '-1'"},
        {{"--time-scale", "fast"}, "--time-scale must be a number from 0 to 1000, not 'fast'"},
        {{"--time-scale", "nan"}, "--time-scale must be a number from 0 to 1000, not 'nan'"},
        {{"--answer-delay", "1.5"}, "--answer-delay must be whole milliseconds"},
        {{"--noise", "-3"}, "--noise must be a count from 0 to 1000, not '-3'"},
        {{"--hang-up-after", "x"}, "--hang-up-after must be a frame count"},
        {{"--never-answer=yes"}, "option --never-answer takes no value"},
        {{"--cone", "8'"}, "--cone must be minutes of arc from -600 to 600, not '8''"},
        {{"--non-perp", "601"}, "--non-perp must be minutes of arc from -600 to 600, not '601'"},
        {{"--flexure", "-1"}, "--flexure must be minutes of arc from 0 to 600, not '-1'"},
        {{"--flexure"}, "option --flexure needs a value"},
        {{"--polar-error", "40"}, "--polar-error must be AZ,ALT in minutes of arc, each from -600 to 600, not '40'"},
        {{"--polar-error", "40,inf"}, "--polar-error must be AZ,ALT"},
        {{"--polar-error", "40,25,3"}, "--polar-error must be AZ,ALT"},
        {{"--site", "48"}, "--site must be LAT,LON in degrees, latitude from -90 to 90 and longitude from "
                           "-180 to 180 (east positive), not '48'"},
        {{"--site", "48,181"}, "--site must be LAT,LON in degrees"},
        {{"--site", "-90.5,11"}, "--site must be LAT,LON in degrees"},
        {{"--start", "24,0"}, "--start must be RA,DEC: RA in hours from 0 to below 24, Dec in degrees from -90 "
                              "to 90, not '24,0'"},
        {{"--start", "1,-91"}, "--start must be RA,DEC"},
        {{"--start", ",5"}, "--start must be RA,DEC"},
    };
    for (const OptionErrorCase& c : cases) {
        Program program(c.arguments);
        ASSERT_TRUE(program.Started());
        EXPECT_EQ(program.Wait(), 2) << c.arguments[0];
        EXPECT_NE(program.Errors().find("tavro-board-sim: " + c.message), std::string::npos)
            << program.Errors();
        EXPECT_NE(program.Errors().find("--help"), std::string::npos) << program.Errors();
        EXPECT_EQ(program.Output(), "");
    }
}

TEST(BoardSimProgram, HelpListsEveryOption) {
    Program program({"--help"});
    ASSERT_TRUE(program.Started());
    EXPECT_EQ(program.Wait(), 0);
    for (const char* option : {"--link PATH", "--model eq5|eq4", "--time-scale X", "--answer-delay MS",
                               "--never-answer", "--noise N", "--hang-up-after N", "--help", "--start RA,DEC",
                               "--polar-error AZ,ALT", "--cone ARCMIN", "--non-perp ARCMIN", "--flexure ARCMIN",
                               "--site LAT,LON"}) {
        EXPECT_NE(program.Output().find(option), std::string::npos) << option;
    }
}

TEST(BoardSimProgram, TracesCommandsAndAnswersAndRemovesItsLinkOnTerm) {
    char pattern[] = "/tmp/tavro-sim-prog-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string link = std::string(pattern) + "/board";
    Program program({"--link=" + link, "--model", "eq4", "--time-scale", "0", "--noise", "2"});
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.WaitForOutput("\n", 10000)) << program.Output();
    EXPECT_EQ(program.Output().rfind("tavro-board-sim: EQ-4 board on " + link + " -> /dev/pts/", 0), 0u)
        << program.Output();

    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    const uint8_t bytes[] = {'q', 'z', 0x60, 0x02, 0x00, 0x01, 'c', 0x68, 0x00, 0x42, 0xED, 0xEC};
    ASSERT_EQ(::write(fd, bytes, sizeof bytes), static_cast<ssize_t>(sizeof bytes));
    ASSERT_TRUE(program.WaitForOutput("answer '-' after 2 noise bytes\n", 10000)) << program.Output();
    ::close(fd);

    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    const std::string& out = program.Output();
    for (const char* text : {" leave-mode\n", " config speed=96 clock=2 guide-steps=1 k3ccd=1\n",
                             " goto\n", " step count=17133 RA+ Dec+ (EC)\n"}) {
        const size_t at = out.find(text);
        ASSERT_NE(at, std::string::npos) << text << "\n" << out;
        // Each trace line starts with "+S.mmm".
        const size_t lineStart = out.rfind('\n', at) + 1;
        const std::string stamp = out.substr(lineStart, at - lineStart);
        ASSERT_GE(stamp.size(), 6u) << stamp;
        EXPECT_EQ(stamp[0], '+') << stamp;
        EXPECT_EQ(stamp[stamp.size() - 4], '.') << stamp;
    }
    EXPECT_NE(out.find("stopped"), std::string::npos) << out;
    struct stat st{};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
    ::rmdir(pattern);
}

TEST(BoardSimProgram, TracesWhereTheTubePointsAfterEachFrame) {
    char pattern[] = "/tmp/tavro-sim-prog-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string link = std::string(pattern) + "/board";
    Program program({"--link=" + link, "--time-scale", "0", "--start", "5.5,20"});
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.WaitForOutput("site 48,11\n", 10000)) << program.Output();
    EXPECT_NE(program.Output().find("tavro-board-sim: mount at ra=05:30:00.0 dec=+20:00:00, polar error 0' east "
                                    "0' up, cone 0', non-perp 0', flexure 0', site 48,11\n"),
              std::string::npos)
        << program.Output();

    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    // Dec - 10 degrees on an EQ-5: 5812 steps.
    const uint8_t bytes[] = {'c', 'h', 0x00, 0x16, 0xB4, 0xFF};
    ASSERT_EQ(::write(fd, bytes, sizeof bytes), static_cast<ssize_t>(sizeof bytes));
    ASSERT_TRUE(program.WaitForOutput("dec=+10:00:00\n", 10000)) << program.Output();
    ::close(fd);
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    const std::string& out = program.Output();
    const size_t answer = out.find(" answer '-'\n");
    const size_t pointing = out.find(" pointing ra=05:30:00.0 dec=+10:00:00\n");
    ASSERT_NE(answer, std::string::npos) << out;
    ASSERT_NE(pointing, std::string::npos) << out;
    EXPECT_LT(answer, pointing);
    EXPECT_EQ(out[out.rfind('\n', pointing) + 1], '+') << out;
    ::rmdir(pattern);
}

}  // namespace
