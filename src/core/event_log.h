// The event log mstflint.log: time-stamped, tagged entries appended by every run.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Event-log tags, 11 characters each.
extern const char *const LOG_INFO;
extern const char *const LOG_WARNING;
extern const char *const LOG_ERROR;

class event_log {
public:
    // Opens mstflint.log in the working directory for appending. When it cannot,
    // says so on standard error and answers false: the mode then ends with status 1.
    bool open();
    // Appends one entry and flushes it; nothing before open(). An entry that
    // cannot be written goes to standard error instead.
    void write(const char *tag, const std::string &text);
    // Appends the entry now when the log is open, else as soon as open() succeeds: for what main
    // learns before the mode opens the log.
    void write_when_open(const char *tag, const std::string &text);

private:
    struct closer {
        void operator()(FILE *f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, closer> file_;
    bool write_failure_noticed_ = false;
    std::vector<std::pair<const char *, std::string>> pending_;
};

// Appends one time-stamped entry to the log.
void log_mellanox_event(event_log &log, const char *pevent_tag, const std::string &pextra_text);

// A value from a report, the flash tool or sysfs as a log text carries it:
// control characters written as \n, \t or \xHH, so that the value cannot
// start a line, or forge an entry, of its own.
std::string log_value(const std::string &value);
