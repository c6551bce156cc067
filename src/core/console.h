// Console messages, the operator's prompt and echoed shell commands.
#pragma once

#include <string>

#include "core/run_state.h"

// Console message, unless the run is silent or reads or writes a report.
void print_message(const options &opts, const std::string &msg);
void print_message(const run_context &ctx, const std::string &msg);

// Answers of the y/n/q prompt.
enum class answer { yes, no, quit, continue_all };

// Asks a y/n/q question (silent and -y runs answer yes unasked) and logs the exchange.
answer nfwu_yesno(run_context &ctx, const std::string &prompt, answer def_ans, const std::string &yorn);

// Echoes a shell command, runs it and returns its exit status.
int do_command(tool_runner &tools, const std::string &command);
