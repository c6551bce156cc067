// Holding back the signals that end a run from outside: noted by a handler that writes a self-pipe, so that
// a wait sees a signal as an event on a descriptor.
#pragma once

#include <csignal>

// Interrupt, quit, hang-up and terminate: what ends a run from outside (^C, a dropped session, `timeout`).
inline constexpr int k_held_signals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

// While one lives, in any thread, the held signals sent to this process are noted instead of ending it.
// Holds nest and overlap across threads: the handling in force before the first is restored when the last
// ends, and until then every hold reports the same noted signal.
class signal_hold {
public:
    signal_hold();
    ~signal_hold();
    signal_hold(const signal_hold &) = delete;
    signal_hold &operator=(const signal_hold &) = delete;
    // The last signal noted since the first of the living holds began; 0 when none came.
    int held() const;
};

// What signal_hold::held() says, for code that holds none itself; 0 while no hold lives.
int held_signal();

// Readable from the first signal noted until the last hold ends (-1 before any hold): poll it beside a
// program's pipes to learn of a signal at once. Never read from it.
int held_signal_fd();

// Ends the process by a signal held back meanwhile, as that signal would have.
[[noreturn]] void act_on_deferred_signal(int sig);
