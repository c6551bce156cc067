// Reading the burn history's ends: each address's latest and the newest successful one.
#include "core/burn_history.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace {

// A record is a few hundred bytes; a longer line is no record and is not kept whole.
constexpr size_t k_longest_record = 64 * 1024;

// "2026-12-07T21:59:53Z" as seconds since the epoch; nothing for any other text.
std::optional<std::time_t> utc_seconds(const std::string &text)
{
    std::tm utc {};
    int used = 0;
    if (text.size() != 20 || std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &utc.tm_year, &utc.tm_mon,
                                         &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &used) != 6 ||
        used != 20)
        return std::nullopt;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    return timegm(&utc);
}

void take_line(const std::string &line, burn_ends_seen &seen)
{
    const nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (!record.is_object() || record.value("event", nlohmann::json()) != "burn-end")
        return;
    for (const char *key : {"time", "address", "outcome"})
        if (!record.contains(key) || !record[key].is_string())
            return;
    const std::string outcome = record["outcome"];
    const std::optional<std::time_t> time = utc_seconds(record["time"]);
    if (!time || (outcome != "success" && outcome != "failed" && outcome != "not-verified" && outcome != "interrupted"))
        return;
    auto &last = seen.last_by_address[record["address"].get<std::string>()];
    if (*time >= last.time)
        last = {*time, outcome};
    if (outcome == "success")
        seen.newest_success = std::max(seen.newest_success.value_or(*time), *time);
}

} // namespace

burn_ends_seen burn_history::ends() const
{
    burn_ends_seen seen;
    if (path_.empty())
        return seen;
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        seen.read = errno == ENOENT; // no history yet: no burns
        return seen;
    }
    std::string line;
    bool too_long = false;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            seen.read = n == 0;
            break;
        }
        for (const char *p = buf, *end = buf + n; p < end;) {
            const char *const newline = std::find(p, end, '\n');
            if (!too_long)
                line.append(p, newline);
            too_long = too_long || line.size() > k_longest_record;
            if (too_long)
                line.clear();
            if (newline == end)
                break;
            if (!too_long)
                take_line(line, seen);
            line.clear();
            too_long = false;
            p = newline + 1;
        }
    }
    close(fd);
    if (seen.read && !too_long && !line.empty())
        take_line(line, seen); // a last record without its line end
    return seen;
}
