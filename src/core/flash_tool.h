// The flash tool: which one runs, its command lines, its query and burn, and the reading of its output.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/records.h"
#include "core/run_result.h"
#include "core/run_state.h"
#include "platform/process.h"

// A command line of the flash tool: program path and argument list (argv[0] first). The installed tool
// (/usr/bin/flint) replaces the package's copy when the Secure Boot check said so.
struct flash_tool_command {
    std::string path;
    std::vector<std::string> argv;
};

// The query: argv[0] as a shell would have passed it, the path as written.
flash_tool_command flash_query_arguments(const run_context &ctx, const std::string &address);

// The burn: argv[0] the program's name ("mstflint", "flint"); "-s" in silent and report-driven runs.
flash_tool_command flash_burn_arguments(const run_context &ctx, const std::string &address,
                                        const std::string &image_path);

// The Secure Boot check's probe of the installed tool, its output discarded.
process_request installed_tool_probe();

// The value that one line of the flash tool's query output gives for a
// label: nothing when the line does not carry the label (letters compared
// without regard to case, anywhere in the line). The value starts past the
// label's length plus its one separator character, counted from the start of
// the line, after any blanks, and ends at the next blank or the line end.
// *had_text tells whether the line held anything but spaces past that position
// (its line end counts).
std::optional<std::string> cut_labelled_value(const std::string &line, const std::string &label, bool *had_text);

// For each label, the first line of output carrying it (letters compared without regard to case), its
// line end kept, as the query picks it from output handed over in pieces of at most chunk bytes (at least
// 1). Only the first 4 KiB of a line are kept; a label further on still counts.
std::vector<std::optional<std::string>> pick_labelled_lines(const std::string &output,
                                                            const std::vector<std::string> &labels, size_t chunk);

// One labelled value of a query answer.
struct query_field {
    opt_text value; // cut from the first line carrying the label; absent when no line did
    int rc = 1;     // 0 when that line held text past the label, else 1 (the old per-label query's result)
};

// What one query of a device gave.
struct query_answer {
    bool started = false;     // the tool could be started (pipe and process made)
    bool timed_out = false;   // still running at the time limit: ended, no answer
    bool interrupted = false; // ended by a signal during the queries, no answer
    bool exit_failed = false; // the tool did not exit with status 0, or could not be run
    bool not_run = false;     // the tool could not be run (no such program, or not executable)
    std::optional<int> exit_status {}; // its exit status (128 + N when signal N ended it); none when it never ran
    query_field fw_version;   // "FW Version"
    query_field psid;         // "PSID"
    query_field base_mac;     // "Base MAC"
};

// What ends a query before its time limit: a signal noted by a signal_hold (none during a burn, whose
// verifying query ends only by its limit), and a descriptor that becomes readable.
struct query_ending {
    bool by_signal = false;
    int stop_fd = -1;
};

// Runs the flash tool's query of a device once, in a process group of its own with its standard error
// merged into its output, within ctx.query_time_limit_s, and cuts the three values from its output, each
// from the first line carrying its label. Callable from several threads at once: it only reads ctx.
query_answer query_flash_device(run_context &ctx, const std::string &address, query_ending ending = {});

// Why a query gave no version or PSID: the time limit, a tool that could not be started (or that
// the shell would not have found: status 127), its exit status, or an answer without them.
result_unqueried unqueried_of(const std::string &address, const query_answer &answer);

// A query outside the inventory, next to a burn, and the signal that ended it.
struct near_burn_answer {
    query_answer answer;
    int signal = 0; // interrupt, quit, hang-up or terminate, which ended the query: the run ends by it
};
// Interrupt, quit, hang-up and terminate end the query instead of the process.
near_burn_answer query_device_near_burn(run_context &ctx, const std::string &address);

// How a burn ended; a tool that could not be run counts as one that exited with status 1.
using burn_outcome = process_result;

// Runs the burn. Its standard output and error are shown as they come, on the context's console, and each
// piece is also written to capture_fd (-1: nowhere). No signal meant for this process reaches the tool: it runs in a session of its
// own, with interrupt, quit, hang-up and terminate ignored and standard input an empty pipe, never a
// terminal. Run it under a signal_hold, so that this process too waits for the burn.
burn_outcome run_flash_burn(run_context &ctx, const flash_tool_command &cmd, int capture_fd);

// The search of a failed burn's output file for the tool's "PSID Mismatch", its output discarded.
process_request psid_mismatch_search(const std::string &output_file);

// The query time limit in seconds from the text of ROVAN_QUERY_TIMEOUT: a whole number of at least
// 1; the default when the text is absent or anything else.
int query_time_limit(const char *text);
