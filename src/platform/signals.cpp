// The held signals: one handler that notes the signal and writes a self-pipe, installed while any hold lives.
#include "platform/signals.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Made once, before the handler is first installed, and kept: both ends non-blocking, so that neither
// the handler nor a drain can stay stuck on it.
int g_pipe[2] = {-1, -1};
std::atomic<int> g_noted {0};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");

std::mutex g_mutex; // guards the depth and the saved actions
int g_depth = 0;
struct sigaction g_saved[std::size(k_held_signals)] {};

void note_signal(int sig)
{
    const int saved_errno = errno;
    g_noted.store(sig);
    const char byte = 1;
    // A full pipe is readable already.
    const ssize_t ignored = write(g_pipe[1], &byte, 1);
    (void)ignored;
    errno = saved_errno;
}

void drain()
{
    char buf[64];
    if (g_pipe[0] >= 0)
        while (read(g_pipe[0], buf, sizeof buf) > 0) {
        }
}

} // namespace

signal_hold::signal_hold()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (g_depth++ > 0)
        return;
    if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_pipe[0] = g_pipe[1] = -1; // signals are still held, only unseen by waits
    drain();
    g_noted.store(0);
    struct sigaction sa {};
    sa.sa_handler = note_signal;
    sigemptyset(&sa.sa_mask);
    for (size_t i = 0; i < std::size(k_held_signals); ++i)
        sigaction(k_held_signals[i], &sa, &g_saved[i]);
}

signal_hold::~signal_hold()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (--g_depth > 0)
        return;
    for (size_t i = 0; i < std::size(k_held_signals); ++i)
        sigaction(k_held_signals[i], &g_saved[i], nullptr);
    drain();
    g_noted.store(0);
}

int signal_hold::held() const
{
    return g_noted.load();
}

int held_signal()
{
    return g_noted.load();
}

int held_signal_fd()
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    return g_pipe[0];
}

void act_on_deferred_signal(int sig)
{
    std::fflush(nullptr);
    std::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}
