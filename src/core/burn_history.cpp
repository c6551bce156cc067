// Appending burn records to the history and finding the burns that never finished.
#include "core/burn_history.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "core/event_log.h"

namespace {

using json = nlohmann::ordered_json;

const char *const k_text_keys[] = {"time", "address", "psid", "mac", "image", "from", "to"};

json record_json(const char *event, const burn_record &burn)
{
    return json {{"event", event},         {"time", utc_time_text()}, {"pid", burn.pid},
                 {"address", burn.address}, {"psid", burn.psid},      {"mac", burn.mac},
                 {"image", burn.image},     {"from", burn.from},      {"to", burn.to}};
}

// A text the tool or a report gave is not always UTF-8; the record must be written all the same.
std::string line_of(const json &record)
{
    return record.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

// The record of a line with its event, or nothing when the line is no such record.
std::optional<std::pair<std::string, burn_record>> parse_line(const std::string &line)
{
    const json record = json::parse(line, nullptr, false);
    if (!record.is_object() || !record.contains("event") || !record["event"].is_string() ||
        !record.contains("pid") || !record["pid"].is_number_integer())
        return std::nullopt;
    for (const char *key : k_text_keys)
        if (!record.contains(key) || !record[key].is_string())
            return std::nullopt;
    burn_record burn;
    burn.pid = record["pid"].get<long long>();
    std::string *const texts[] = {&burn.time, &burn.address, &burn.psid, &burn.mac, &burn.image, &burn.from, &burn.to};
    for (size_t i = 0; i < std::size(k_text_keys); ++i)
        *texts[i] = record[k_text_keys[i]].get<std::string>();
    return std::pair {record["event"].get<std::string>(), burn};
}

// The whole file; nothing, with errno set, when it cannot be read.
std::optional<std::string> read_file(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            close(fd);
            errno = err;
            return std::nullopt;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

void sync_directory(const std::string &dir)
{
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

} // namespace

std::string utc_time_text()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc {};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

void burn_history::note_failure(int err)
{
    if (!failure_noticed_)
        std::fprintf(stderr, "rovan: the burn history cannot be written: %s\n", std::strerror(err));
    failure_noticed_ = true;
}

// One write and an fsync per record, so that a record is whole and on disk before the burn goes on.
void burn_history::append(const std::string &line)
{
    if (path_.empty())
        return;
    const std::string dir = std::filesystem::path(path_).parent_path().string();
    if (mkdir(dir.c_str(), 0755) == 0)
        chmod(dir.c_str(), 0755); // whatever the umask
    else if (errno != EEXIST)
        return note_failure(errno);

    bool created = true;
    int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0)
        return note_failure(errno);
    if (created) {
        fchmod(fd, 0644);
        sync_directory(dir);
    }
    const off_t before = lseek(fd, 0, SEEK_END);
    const ssize_t written = write(fd, line.data(), line.size());
    int err = written < 0 ? errno : ENOSPC;
    if (written == static_cast<ssize_t>(line.size())) {
        if (fsync(fd) == 0) {
            close(fd);
            return;
        }
        err = errno;
    } else if (written > 0 && before >= 0) {
        // Half a record would spoil the next one written after it.
        [[maybe_unused]] const int cut = ftruncate(fd, before);
    }
    close(fd);
    note_failure(err);
}

void burn_history::append_start(const burn_record &burn)
{
    append(line_of(record_json("burn-start", burn)));
}

void burn_history::append_end(const burn_record &burn, const burn_end &end)
{
    json record = record_json("burn-end", burn);
    record["outcome"] = end.outcome;
    record["tool_status"] = end.tool_status ? json(*end.tool_status) : json(nullptr);
    record["seconds"] = end.seconds ? json(*end.seconds) : json(nullptr);
    append(line_of(record));
}

std::vector<burn_record> burn_history::unfinished()
{
    if (path_.empty())
        return {};
    const std::optional<std::string> text = read_file(path_);
    if (!text) {
        // No history yet is no failure.
        if (errno != ENOENT)
            note_failure(errno);
        return {};
    }
    std::vector<burn_record> open_burns;
    size_t start = 0;
    while (start < text->size()) {
        size_t end = text->find('\n', start);
        if (end == std::string::npos)
            end = text->size();
        const auto parsed = parse_line(text->substr(start, end - start));
        start = end + 1;
        if (!parsed)
            continue;
        const std::string &event = parsed->first;
        const burn_record &burn = parsed->second;
        if (event == "burn-start")
            open_burns.push_back(burn);
        else if (event == "burn-end")
            std::erase_if(open_burns,
                          [&](const burn_record &b) { return b.pid == burn.pid && b.address == burn.address; });
    }
    return open_burns;
}

void report_unfinished_burns(burn_history &history, event_log &log)
{
    for (const burn_record &burn : history.unfinished()) {
        const std::string text = "rovan: WARNING: the burn of " + log_value(burn.image) + " into " +
                                 log_value(burn.address) + " started " + log_value(burn.time) + " by pid " +
                                 std::to_string(burn.pid) +
                                 " did not finish; check the adapter with 'rovan -c' before rebooting\n";
        std::fputs(text.c_str(), stderr);
        log.write_when_open(LOG_WARNING, text);
        history.append_end(burn, {"interrupted", std::nullopt, std::nullopt});
    }
}
