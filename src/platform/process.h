// Running an outside program: the one way this program starts any, with an argument vector and no shell.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Where one of a program's output streams goes.
struct output_sink {
    enum class kind {
        inherit, // ours
        discard, // the null device
        file,    // fd, an open file of ours
        capture, // a pipe, read as it comes (see process_request::take); also copied to fd unless it is -1
    };
    kind to = kind::inherit;
    int fd = -1;
    std::string name {}; // file: its name, as a command line shows it
};

// How to run one program.
struct process_request {
    std::string path {};              // searched in PATH when it holds no '/', as a shell does
    std::vector<std::string> argv {}; // argv[0] first, exactly as the program receives it
    bool empty_stdin = false;         // an empty pipe instead of ours: never the operator's terminal
    output_sink out {}, err {};
    bool err_to_out = false;          // standard error goes where standard output goes, one stream (2>&1)
    // Each captured piece as it comes, from any stream; without it the pieces are kept in the result.
    std::function<void(std::string_view)> take {};
    // Where a captured stream's copy goes instead of its sink's fd (that fd named): false once it takes no more.
    std::function<bool(int fd, std::string_view piece)> echo {};
    enum class group {
        ours,        // signals to our process group (^C) reach it too
        own,         // a process group of its own, which the ends below end as a whole
        own_session, // a session of its own: no terminal, nothing sent to our group reaches it
    };
    group grouping = group::ours;
    bool ignores_signals = false; // the held signals start ignored, a disposition that outlasts exec
    int time_limit_s = 0;         // 0: none; at the limit it is ended with its group
    bool ends_on_signal = false;  // a signal noted by a signal_hold ends it with its group (or keeps it from starting)
    int stop_fd = -1;             // once this descriptor is readable, it is ended with its group
};

// How a run ended.
struct process_result {
    bool started = false;     // a process was made
    int exec_error = 0;       // the errno of a program that could not be run (its process exits 127 at once)
    bool exited = false;      // it ended by itself: exit_code holds its status
    int exit_code = 0;
    int term_signal = 0;      // the signal that ended it otherwise
    bool timed_out = false;   // ended with its group at the time limit
    bool interrupted = false; // ended with its group (or never started) by a held signal or the stop descriptor
    std::string output {};    // the captured pieces in the order they came, when no take was given
};

// Runs the program and waits for it: until it has ended and, under a time limit, its captured output has
// ended too (a process it left holding the output is waited for only up to the limit). The wait is woken
// by the program's output, its end, the time limit, a held signal and the stop descriptor; it never looks
// again now and then (except on a kernel without pidfds). Safe to call from several threads at once.
process_result run_process(const process_request &request);

// Hands one captured piece on as run_process does: to request.take, or into the result.
void take_output(const process_request &request, std::string_view piece, process_result &result);

// The command line as a shell would take it, for the console and the log: the words (one holding a blank
// inside double quotes) and where standard output goes (" > FILE").
std::string command_text(const process_request &request);
