// The event log mstflint.log: time-stamped, tagged entries appended by every run.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Event-log tags, 11 characters each.
extern const char *const LOG_INFO;
extern const char *const LOG_WARNING;
extern const char *const LOG_ERROR;

class event_log {
public:
    // Opens mstflint.log in the working directory for appending. When it cannot, says so on
    // standard error and answers why: the run then ends with status 1.
    std::optional<std::string> open();
    // Appends the entry now when the log is open, else as soon as open() succeeds: for what main
    // learns before the mode opens the log. The text is finished, its outside values escaped.
    void write_when_open(const char *tag, const std::string &text);

private:
    template <typename... Pieces>
    friend void log_mellanox_event(event_log &log, const char *pevent_tag, const Pieces &...pieces);
    // Appends one entry and flushes it; nothing before open(). An entry that
    // cannot be written goes to standard error instead.
    void write(const char *tag, const std::string &text);

    struct closer {
        void operator()(FILE *f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, closer> file_;
    bool write_failure_noticed_ = false;
    std::vector<std::pair<const char *, std::string>> pending_;
};

// A value from the catalog, a report, the flash tool or sysfs as a log text carries it:
// control characters written as \n, \t or \xHH, so that the value cannot
// start a line, or forge an entry, of its own.
std::string log_value(const std::string &value);

// One piece of a log entry. The program's own words (a const char *: literals and constants) stand
// as they are; any std::string is taken for an outside value and escaped by log_value, so that no
// entry depends on its caller remembering to.
class log_piece {
public:
    log_piece(const char *words) : text_(words) {}
    log_piece(const std::string &value) : text_(log_value(value)) {}
    // Text the program composed itself, line ends included, written as it stands.
    static log_piece verbatim(std::string text)
    {
        log_piece piece("");
        piece.text_ = std::move(text);
        return piece;
    }
    const std::string &text() const { return text_; }

private:
    std::string text_;
};

// Appends one time-stamped entry to the log: the pieces one after another.
template <typename... Pieces>
void log_mellanox_event(event_log &log, const char *pevent_tag, const Pieces &...pieces)
{
    std::string text;
    ((text += log_piece(pieces).text()), ...);
    log.write(pevent_tag, text);
}
