#include "ui/app/quit_signals.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGHUP, SIGINT};

// The write end is read by the signal handler: set before the handlers are
// installed and cleared after they are taken down.
volatile sig_atomic_t g_signalPipeWrite = -1;
int g_signalPipe[2] = {-1, -1};

extern "C" void OnQuitSignal(int signo)
{
    const int saved = errno;
    const int fd = g_signalPipeWrite;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signo);
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

std::function<void()>& LastChanceStop()
{
    static std::function<void()> stop;
    return stop;
}

extern "C" void RunLastChanceStop()
{
    // A copy, so that the function may clear itself.
    const std::function<void()> stop = LastChanceStop();
    if (stop)
        stop();
}

}  // namespace

CQuitSignals::CQuitSignals(std::function<void(int)> quit, QObject* parent)
    : QObject(parent), m_quit(std::move(quit))
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_pNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CQuitSignals::ReadSignals);
    g_signalPipeWrite = g_signalPipe[1];

    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : kQuitSignals)
        ::sigaction(signo, &action, nullptr);
}

CQuitSignals::~CQuitSignals()
{
    for (int signo : kQuitSignals)
        ::signal(signo, SIG_DFL);
    g_signalPipeWrite = -1;
    delete m_pNotifier;
    for (int& fd : g_signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void CQuitSignals::ReadSignals()
{
    unsigned char byte = 0;
    while (::read(g_signalPipe[0], &byte, 1) == 1) {
        if (m_quit)
            m_quit(byte);
    }
}

void SetLastChanceStop(std::function<void()> stop)
{
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(RunLastChanceStop); });
    LastChanceStop() = std::move(stop);
}
