// Running a query tool in its own process group: its output read line by line under a time limit.
#pragma once

#include <csignal>
#include <optional>
#include <string>
#include <vector>

// What one run of a query tool gave.
struct query_lines {
    bool started = false;     // the pipe and the process could be made (a program that cannot be run still counts)
    bool timed_out = false;   // ended with its process group at the time limit: no answer
    bool interrupted = false; // ended because a signal came during the queries: no answer
    bool exit_failed = false; // did not exit with status 0 (a non-zero status, a signal, or it could not be run)
    bool not_run = false;     // the program could not be run: no such file, or not executable
    std::optional<int> exit_status {}; // its exit status, 128 + N when signal N ended it; none when it never ran
    // For each label asked for, the first output line carrying it (letters compared without regard to
    // case), its line end kept. Only the first 4 KiB of a line are kept; the rest is read and dropped.
    std::vector<std::optional<std::string>> lines;
};

// Runs the program (no shell) with argv[0] first and its standard error merged into its output, in
// a process group of its own, and reads the output to its end. A run still going after time_limit_s
// seconds is ended with its process group. Safe to call from several threads at once.
query_lines run_query_tool(const std::string &path, const std::vector<std::string> &argv,
                           const std::vector<std::string> &labels, int time_limit_s);

// For each label, the first line of output carrying it, as run_query_tool picks it from a pipe
// that hands the output over in pieces of at most chunk bytes (at least 1).
std::vector<std::optional<std::string>> pick_labelled_lines(const std::string &output,
                                                            const std::vector<std::string> &labels, size_t chunk);

// Ends the process groups of the query tools running now.
void end_running_queries();

// While one lives, SIGINT, SIGQUIT, SIGHUP and SIGTERM end the running query tools' process groups
// and are noted instead of ending the process; the caller ends the run by the noted signal once its
// queries have stopped. One at a time.
class query_signal_guard {
public:
    query_signal_guard();
    ~query_signal_guard();
    query_signal_guard(const query_signal_guard &) = delete;
    query_signal_guard &operator=(const query_signal_guard &) = delete;

private:
    struct sigaction saved_[4] {};
};

// The signal noted while a query_signal_guard lives, 0 when none came.
int query_signal();
