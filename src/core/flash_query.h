// The flash tool's query of one device: its command line, one run, and the three labelled values in its output.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/records.h"
#include "core/run_result.h"
#include "core/run_state.h"

// The value that one line of the flash tool's query output gives for a
// label: nothing when the line does not carry the label (letters compared
// without regard to case, anywhere in the line). The value starts past the
// label's length plus its one separator character, counted from the start of
// the line, after any blanks, and ends at the next blank or the line end.
// *had_text tells whether the line held anything but spaces past that position
// (its line end counts).
std::optional<std::string> cut_labelled_value(const std::string &line, const std::string &label, bool *had_text);

// The query: program path and argument list (the path first), by the Secure Boot outcome.
struct flash_query_command {
    std::string path;
    std::vector<std::string> argv;
};
flash_query_command flash_query_arguments(const run_context &ctx, const std::string &address);

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

// Runs the flash tool's query of a device once, within ctx.query_time_limit_s, and cuts the three
// values from its output, each from the first line carrying its label. Callable from several
// threads at once: it only reads ctx.
query_answer query_flash_device(run_context &ctx, const std::string &address);

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

// The query time limit in seconds from the text of ROVAN_QUERY_TIMEOUT: a whole number of at least
// 1; the default when the text is absent or anything else.
int query_time_limit(const char *text);
