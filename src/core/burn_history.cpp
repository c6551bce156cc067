// Appending burn records to the history and finding the burns that never finished.
#include "core/burn_history.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string_view>

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

// The history is read in pieces of this size, never whole: it only grows.
constexpr size_t k_chunk = 65536;
// Far more than any record; a longer line is no record and is passed over without being kept.
constexpr size_t k_line_max = size_t {1} << 20;
// How each run-start record begins as this program writes it; another spelling is only read past.
const std::string k_run_start_head = R"({"event":"run-start")";
const char *const k_not_regular = "Not a regular file";

std::string reason_for(const std::string &path, int err)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return k_not_regular;
    return std::strerror(err);
}

// The history opened without following a link or blocking, and only when it is a regular file: a
// link to a device, a FIFO or a device would be followed, wait for a writer or never end.
// -1 otherwise, with the reason (errno is kept from a failed open, 0 for a file of another kind).
int open_regular(const std::string &path, int flags, std::string &reason)
{
    const int fd = open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int err = errno;
        reason = reason_for(path, err);
        errno = err;
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : k_not_regular;
        close(fd);
        errno = 0;
        return -1;
    }
    return fd;
}

// Up to size bytes at offset at, fewer only at the end of the file; -1 on a read error.
ssize_t read_at(int fd, char *buf, size_t size, off_t at)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, buf + done, size - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Whether the line at offset at is a run-start record.
bool is_run_start_at(int fd, off_t at)
{
    std::string line(4096, '\0');
    const ssize_t n = read_at(fd, line.data(), line.size(), at);
    if (n <= 0)
        return false;
    line.resize(static_cast<size_t>(n));
    line.resize(std::min(line.size(), line.find('\n')));
    const json record = json::parse(line, nullptr, false);
    return record.is_object() && record.contains("event") && record["event"] == "run-start";
}

// Where the last run-start record begins, read backwards from the end; 0 when there is none.
std::optional<off_t> last_run_start(int fd, off_t size)
{
    const std::string needle = "\n" + k_run_start_head;
    std::string buf(k_chunk + needle.size(), '\0');
    for (off_t end = size; end > 0;) {
        const off_t begin = std::max<off_t>(0, end - static_cast<off_t>(k_chunk));
        // Read past end by a needle less one, so that a line start in [begin, end) is seen whole.
        const ssize_t n = read_at(fd, buf.data(), static_cast<size_t>(end - begin) + needle.size() - 1, begin);
        if (n < 0)
            return std::nullopt;
        const std::string_view view(buf.data(), static_cast<size_t>(n));
        for (size_t at = static_cast<size_t>(end - begin - 1);; --at) {
            at = view.rfind(needle, at);
            if (at == std::string_view::npos)
                break;
            if (is_run_start_at(fd, begin + static_cast<off_t>(at) + 1))
                return begin + static_cast<off_t>(at) + 1;
            if (at == 0)
                break;
        }
        if (begin == 0 && view.starts_with(k_run_start_head) && is_run_start_at(fd, 0))
            return 0;
        end = begin;
    }
    return 0;
}

// Hands each line from offset at to the end of the file to on_line, without its line end.
bool for_each_line(int fd, off_t at, const std::function<void(const std::string &)> &on_line)
{
    std::string buf(k_chunk, '\0');
    std::string line;
    bool too_long = false;
    for (;;) {
        const ssize_t n = read_at(fd, buf.data(), buf.size(), at);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        at += n;
        const std::string_view got(buf.data(), static_cast<size_t>(n));
        for (size_t pos = 0; pos < got.size();) {
            const size_t piece = std::min(got.find('\n', pos), got.size()) - pos;
            too_long = too_long || line.size() + piece > k_line_max;
            if (too_long)
                line.clear();
            else
                line.append(buf, pos, piece);
            pos += piece;
            if (pos < got.size()) {
                if (!too_long)
                    on_line(line);
                line.clear();
                too_long = false;
                ++pos;
            }
        }
    }
    if (!too_long && !line.empty())
        on_line(line);
    return true;
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

void burn_history::note_failure(const std::string &reason)
{
    if (!failure_noticed_)
        std::fprintf(stderr, "rovan: the burn history cannot be written: %s\n", reason.c_str());
    failure_noticed_ = true;
}

// One write and an fsync per record, so that a record is whole and on disk before the burn goes on.
bool burn_history::append(std::string line)
{
    if (path_.empty())
        return true;
    const std::string dir = std::filesystem::path(path_).parent_path().string();
    if (mkdir(dir.c_str(), 0755) == 0)
        chmod(dir.c_str(), 0755); // whatever the umask
    else if (errno != EEXIST)
        return note_failure(std::strerror(errno)), false;

    std::string reason;
    bool created = true;
    int fd = open_regular(path_, O_RDWR | O_APPEND | O_CREAT | O_EXCL, reason);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = open_regular(path_, O_RDWR | O_APPEND, reason);
    }
    if (fd < 0)
        return note_failure(reason), false;
    if (created) {
        fchmod(fd, 0644);
        sync_directory(dir);
    }
    const off_t before = lseek(fd, 0, SEEK_END);
    // A record cut short by a power loss ends without its line end: this one must not be glued to it.
    char last = '\n';
    if (before > 0 && pread(fd, &last, 1, before - 1) == 1 && last != '\n')
        line.insert(0, 1, '\n');
    const ssize_t written = write(fd, line.data(), line.size());
    int err = written < 0 ? errno : ENOSPC;
    if (written == static_cast<ssize_t>(line.size())) {
        if (fsync(fd) == 0) {
            close(fd);
            return true;
        }
        err = errno;
    } else if (written > 0 && before >= 0) {
        // Half a record would spoil the next one written after it.
        [[maybe_unused]] const int cut = ftruncate(fd, before);
    }
    close(fd);
    note_failure(std::strerror(err));
    return false;
}

void burn_history::append_start(const burn_record &burn)
{
    if (all_finished_ && !run_start_written_) {
        run_start_written_ = true;
        append(line_of(json {{"event", "run-start"}, {"time", utc_time_text()}, {"pid", burn.pid}}));
    }
    append(line_of(record_json("burn-start", burn)));
}

bool burn_history::append_end(const burn_record &burn, const burn_end &end)
{
    json record = record_json("burn-end", burn);
    record["outcome"] = end.outcome;
    record["tool_status"] = end.tool_status ? json(*end.tool_status) : json(nullptr);
    record["seconds"] = end.seconds ? json(*end.seconds) : json(nullptr);
    return append(line_of(record));
}

std::optional<std::vector<burn_record>> burn_history::unfinished()
{
    if (path_.empty())
        return std::vector<burn_record> {};
    std::string reason;
    const int fd = open_regular(path_, O_RDONLY, reason);
    if (fd < 0) {
        // No history yet is no failure.
        if (errno == ENOENT)
            return std::vector<burn_record> {};
        note_failure(reason);
        return std::nullopt;
    }
    struct stat st {};
    fstat(fd, &st);
    // Each run that reads the history closes what it finds before its first burn-start, and marks
    // that with a run-start record: no burn before the last one can be open.
    const std::optional<off_t> from = last_run_start(fd, st.st_size);
    std::vector<burn_record> open_burns;
    const bool read = from && for_each_line(fd, *from, [&](const std::string &line) {
        const auto parsed = parse_line(line);
        if (!parsed)
            return;
        const std::string &event = parsed->first;
        const burn_record &burn = parsed->second;
        if (event == "burn-start")
            open_burns.push_back(burn);
        else if (event == "burn-end")
            std::erase_if(open_burns,
                          [&](const burn_record &b) { return b.pid == burn.pid && b.address == burn.address; });
    });
    const int err = errno;
    close(fd);
    if (!read) {
        note_failure(std::strerror(err));
        return std::nullopt;
    }
    return open_burns;
}

void report_unfinished_burns(burn_history &history, event_log &log)
{
    const std::optional<std::vector<burn_record>> burns = history.unfinished();
    if (!burns)
        return;
    bool all_ended = true;
    for (const burn_record &burn : *burns) {
        const std::string text = "rovan: WARNING: the burn of " + log_value(burn.image) + " into " +
                                 log_value(burn.address) + " started " + log_value(burn.time) + " by pid " +
                                 std::to_string(burn.pid) +
                                 " did not finish; check the adapter with 'rovan -c' before rebooting\n";
        std::fputs(text.c_str(), stderr);
        log.write_when_open(LOG_WARNING, text);
        all_ended = history.append_end(burn, {"interrupted", std::nullopt, std::nullopt}) && all_ended;
    }
    if (all_ended)
        history.note_all_finished();
}
