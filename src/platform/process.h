// Running outside programs: shell commands, their output, and the flash tool's burn.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Runs a command through the shell. Returns its exit status (0-255; 127 when
// the shell found no such command) or -1 when the shell could not be run.
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
    int deferred_signal = 0;     // a signal sent to us during the burn, still to act on
};

// Runs the tool (no shell) with argv[0] first, copying its standard output
// and error to ours, each as it comes, and both into capture_fd. Interrupt, quit, hang-up
// and terminate signals sent to this process during the burn are held back
// until the tool has ended; the tool itself runs with default dispositions.
burn_outcome run_flash_tool(const std::string &path, const std::vector<std::string> &argv, int capture_fd);

// Ends the process by a signal held back during a burn, as that signal would have.
[[noreturn]] void act_on_deferred_signal(int sig);
