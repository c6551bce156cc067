#pragma once

#include <cstdio>
#include <string>

// Event-log tags, 11 characters each.
extern const char *const LOG_INFO;
extern const char *const LOG_WARNING;
extern const char *const LOG_ERROR;

// Console message, unless the run is silent or reads or writes a report.
void print_message(const std::string &msg);

// Appends one time-stamped entry and flushes it.
void log_mellanox_event(FILE *pevent_file, const char *pevent_tag, const std::string &pextra_text);

// Asks a y/n/q question: 0 yes, 1 no, 2 quit, 3 continue without further questions.
int nfwu_yesno(const std::string &prompt, int sil_ans, int frc_ans, int def_ans, const std::string &yorn);

// Echoes a shell command, runs it and returns its exit status.
int do_command(const std::string &command);

// Opens mstflint.log for appending into pmstflint_fout; ends the process with
// status 1 when it cannot. Every mode entry calls this first.
void open_event_log();
