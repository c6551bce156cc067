// Console messages, the operator's prompt, and the commands run where a shell ran them.
#pragma once

#include <string>

#include "core/run_state.h"
#include "platform/process.h"

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

// Echoes the command line (command_text, then " \n"), runs it and returns its shell_status.
int do_command(tool_runner &tools, const process_request &request);
