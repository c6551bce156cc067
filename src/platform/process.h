// Running outside programs: shell commands, their output, and the flash tool's burn; holding signals back.
#pragma once

#include <csignal>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Runs a command through the shell. Returns its exit status (0-255; 127 when
// the shell found no such command; 128 + the signal that ended the shell) or -1
// when the shell could not be run. Unlike system(), this process keeps its own
// handling of interrupt and quit meanwhile, so that a signal_hold sees them.
int shell_exit_status(const std::string &command);

// Runs a command through the shell and returns its standard output split
// into lines (line ends kept), or nothing when the pipe could not be opened.
std::optional<std::vector<std::string>> read_command_lines(const std::string &command);

// How a burn by the flash tool ended.
struct burn_outcome {
    bool started = false;        // fork succeeded
    bool exited = false;         // the tool ended by itself (exec failures exit 1)
    int exit_code = 0;           // valid when exited
    int term_signal = 0;         // the signal that ended the tool, when not exited
};

// Where a burn's output is shown: each piece as it comes, with the descriptor it is meant for
// (standard output or error). False once that stopped taking output: the stream is shown no more.
using burn_echo = std::function<bool(int fd, std::string_view piece)>;

// Runs the tool (no shell) with argv[0] first, handing its standard output
// and error to echo (without one: to ours), each as it comes, and both into capture_fd. No signal meant
// for this process reaches the tool: it runs in a session of its own, with
// interrupt, quit, hang-up and terminate ignored and standard input an empty
// pipe, never a terminal. Run it under a signal_hold, so that this process too
// waits for the burn. Safe to call from several threads at once.
burn_outcome run_flash_tool(const std::string &path, const std::vector<std::string> &argv, int capture_fd,
                            const burn_echo &echo = {});

// While one lives, in any thread, interrupt, quit, hang-up and terminate sent to this process
// are held back instead of ending it. Holds nest and overlap across threads: the handling in force
// before the first is restored when the last ends, and until then every hold reports the same signal.
class signal_hold {
public:
    signal_hold();
    ~signal_hold();
    signal_hold(const signal_hold &) = delete;
    signal_hold &operator=(const signal_hold &) = delete;
    // The last signal held back since the first of the living holds began; 0 when none came.
    int held() const;
};

// What signal_hold::held() says, for code that holds none itself; 0 while no hold lives.
int held_signal();

// Ends the process by a signal held back during a burn, as that signal would have.
[[noreturn]] void act_on_deferred_signal(int sig);
