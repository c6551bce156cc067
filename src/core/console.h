// Console messages, the operator's prompt, the commands run where a shell ran them, and where an adapter's
// console text goes.
#pragma once

#include <string>
#include <string_view>

#include "core/run_state.h"
#include "platform/process.h"

// The console text of one adapter while adapters are handled side by side (ordered_console): kept
// in the adapter's block, written in the adapters' order.
class console_block {
public:
    // Text meant for a descriptor (standard output or error), as it would have been written there.
    virtual void write(int fd, std::string_view text) = 0;
    // A progress line of the run's own, no part of the block: written at once, when the console shows them.
    virtual void progress(const std::string &line) = 0;

protected:
    ~console_block() = default;
};

// Writes console text for a descriptor: into the context's block when it has one, else at once.
// False once the console stopped taking output.
bool console_write(const run_context &ctx, int fd, std::string_view text);

// A progress line for the operator ("rovan: burning ..."), shown while burns run side by side.
void console_progress(const run_context &ctx, const std::string &line);

// Console message, unless the run is silent or reads or writes a report.
void print_message(const options &opts, const std::string &msg);
void print_message(const run_context &ctx, const std::string &msg);

// Answers of the y/n/q prompt.
enum class answer { yes, no, quit, continue_all };

// Asks a y/n/q question (silent and -y runs answer yes unasked) and logs the exchange.
answer nfwu_yesno(run_context &ctx, const std::string &prompt, answer def_ans, const std::string &yorn);

// Runs a program that a shell command line once ran; one that cannot be run is named on standard error,
// as the shell named it.
process_result run_command(tool_runner &tools, const process_request &request);

// The exit status a shell would have given: the program's own; 127 when it was not found, 126 when it
// could not be run; 128 + the signal that ended it; -1 when no process could be made.
int shell_status(const process_result &result);

// Echoes the command line (command_text, then " \n"), runs it and returns its shell_status; the echo and
// the naming of a program that cannot be run go to the context's console.
int do_command(const run_context &ctx, const process_request &request);
