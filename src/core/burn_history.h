// The burn history: one JSON record a line for each burn's start and end, synced as written.
#pragma once

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class event_log;

inline constexpr const char *k_burn_history = "/var/lib/rovan/history.jsonl";

// The keys a burn's start and end records share.
struct burn_record {
    std::string time; // as read back; a record written gets the time of its writing
    long long pid = 0;
    std::string address, psid, mac, image, from, to;
};

// How a burn ended.
struct burn_end {
    std::string outcome;            // "success", "failed", "not-verified" or "interrupted"
    std::optional<int> tool_status; // the tool's exit code; none when a signal ended it or it never started
    std::optional<double> seconds;  // the burn's wall time; none when unknown
};

// The ends the history holds, as the metrics file shows them.
struct burn_ends_seen {
    struct last_end {
        std::time_t time = 0;
        std::string outcome; // "success", "failed", "not-verified" or "interrupted"
    };
    std::map<std::string, last_end> last_by_address; // the latest burn-end of each address
    std::optional<std::time_t> newest_success;       // the latest burn-end whose outcome is "success"
    bool read = true; // false when the history exists but could not be read: nothing above is known
};

class burn_history {
public:
    // A history that keeps nothing: what a run context starts with until main names the file.
    burn_history() = default;
    explicit burn_history(std::string path) : path_(std::move(path)) {}

    void append_start(const burn_record &burn);
    // False when the record could not be written.
    bool append_end(const burn_record &burn, const burn_end &end);
    // The burn-starts that no later burn-end of the same pid and address closes, in file order,
    // looked for only after the last run-start record; nothing when the history cannot be read.
    // Lines that are not such records are passed over.
    std::optional<std::vector<burn_record>> unfinished();
    // Every burn that unfinished() found now has its end: this run's first burn-start is preceded
    // by a run-start record, and the next run reads no further back than that.
    void note_all_finished() { all_finished_ = true; }
    // Every address's latest burn-end and the newest successful one, read line by line in bounded memory
    // (burn_history_ends.cpp). Lines that are no burn-end with a time, an address and an outcome are passed over.
    burn_ends_seen ends() const;

private:
    bool append(std::string line);
    void note_failure(const std::string &reason);

    std::string path_;
    bool failure_noticed_ = false;
    bool all_finished_ = false;
    bool run_start_written_ = false;
};

// Warns of every unfinished burn on standard error at once and in the log once the mode opens it,
// and closes each with an "interrupted" end, so that it is reported once.
void report_unfinished_burns(burn_history &history, event_log &log);

// The current time in UTC, ISO 8601: "2026-12-07T21:59:53Z".
std::string utc_time_text();
