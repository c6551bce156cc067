// Query tools run in their own process groups, their output picked line by line, ended at a time limit or a signal.
#include "platform/query_tool.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/text.h"

extern char **environ;

namespace {

// The part of a line kept for its labels; values are far shorter.
constexpr size_t k_line_keep = 4096;

// Keeps, for each label, the first line that carries it, without ever holding more of a line
// than k_line_keep bytes: past that, the line is only searched, through a window that a label
// cannot straddle unseen.
class line_picker {
public:
    explicit line_picker(const std::vector<std::string> &labels)
        : labels_(labels), picked_(labels.size()), found_in_rest_(labels.size(), false)
    {
        for (const std::string &label : labels) {
            window_ = std::max(window_, label.size());
            lower_labels_.push_back(lower(label));
        }
    }

    void feed(const char *data, size_t size)
    {
        while (size > 0 && !all_picked()) {
            const char *end = static_cast<const char *>(std::memchr(data, '\n', size));
            const size_t piece = end ? static_cast<size_t>(end - data) : size;
            add(data, piece);
            if (end) {
                end_line(true);
                ++end;
            }
            size -= end ? piece + 1 : piece;
            data = end ? end : data + piece;
        }
    }

    // The output has ended: a last line without its line end counts too.
    std::vector<std::optional<std::string>> finish()
    {
        if (!kept_.empty() || in_rest_)
            end_line(false);
        return std::move(picked_);
    }

    bool all_picked() const
    {
        return std::all_of(picked_.begin(), picked_.end(), [](const auto &line) { return line.has_value(); });
    }

private:
    void add(const char *data, size_t size)
    {
        const size_t room = k_line_keep - std::min(k_line_keep, kept_.size());
        kept_.append(data, std::min(room, size));
        if (size <= room)
            return;
        if (!in_rest_) {
            in_rest_ = true;
            tail_ = kept_.substr(kept_.size() - std::min(kept_.size(), window_ - 1));
        }
        // Folded once, then searched with find: a flood of output must not cost a comparison per letter and label.
        searched_ = tail_;
        searched_.append(data + room, size - room);
        for (char &c : searched_)
            c = fold_[static_cast<unsigned char>(c)];
        for (size_t i = 0; i < labels_.size(); ++i)
            found_in_rest_[i] = found_in_rest_[i] || searched_.find(lower_labels_[i]) != std::string::npos;
        tail_.assign(searched_, searched_.size() - std::min(searched_.size(), window_ - 1));
    }

    std::string lower(std::string text) const
    {
        for (char &c : text)
            c = fold_[static_cast<unsigned char>(c)];
        return text;
    }

    // Each byte's lower-case letter, as contains_nocase compares them.
    static std::array<char, 256> make_fold()
    {
        std::array<char, 256> fold {};
        for (size_t c = 0; c < fold.size(); ++c)
            fold[c] = static_cast<char>(std::tolower(static_cast<int>(c)));
        return fold;
    }
    const std::array<char, 256> fold_ = make_fold();

    void end_line(bool line_end)
    {
        for (size_t i = 0; i < labels_.size(); ++i) {
            if (!picked_[i] && (found_in_rest_[i] || contains_nocase(kept_, labels_[i])))
                picked_[i] = kept_ + (line_end ? "\n" : "");
        }
        kept_.clear();
        tail_.clear();
        in_rest_ = false;
        std::fill(found_in_rest_.begin(), found_in_rest_.end(), false);
    }

    const std::vector<std::string> &labels_;
    std::vector<std::string> lower_labels_;
    std::string searched_;
    std::vector<std::optional<std::string>> picked_;
    std::vector<bool> found_in_rest_;
    size_t window_ = 1;
    std::string kept_;
    std::string tail_;
    bool in_rest_ = false;
};

// The process groups of the query tools running now, for the signal handler: a slot holds a
// group's ID from just after its start until the tool has ended (before it is reaped, so that
// the ID cannot have been given to another process).
std::array<std::atomic<pid_t>, 64> g_query_groups {};
std::atomic<int> g_query_signal {0};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "used by a signal handler");

void end_groups() noexcept
{
    for (std::atomic<pid_t> &slot : g_query_groups) {
        const pid_t group = slot.load();
        if (group > 0)
            kill(-group, SIGKILL);
    }
}

void note_signal(int sig)
{
    g_query_signal.store(sig);
    end_groups();
}

// A slot for one tool's group; with all slots taken the tool still runs, only unseen by signals.
class registered_group {
public:
    explicit registered_group(pid_t group)
    {
        for (std::atomic<pid_t> &slot : g_query_groups) {
            pid_t free_slot = 0;
            if (slot.compare_exchange_strong(free_slot, group)) {
                slot_ = &slot;
                break;
            }
        }
    }
    ~registered_group() { release(); }
    registered_group(const registered_group &) = delete;
    registered_group &operator=(const registered_group &) = delete;
    void release()
    {
        if (slot_)
            slot_->store(0);
        slot_ = nullptr;
    }

private:
    std::atomic<pid_t> *slot_ = nullptr;
};

const int k_guarded_signals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};
static_assert(std::size(k_guarded_signals) == 4, "query_signal_guard keeps four saved actions");

class fd_closer {
public:
    explicit fd_closer(int fd) : fd_(fd) {}
    ~fd_closer() { reset(); }
    fd_closer(const fd_closer &) = delete;
    fd_closer &operator=(const fd_closer &) = delete;
    int get() const { return fd_; }
    void reset()
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Starts the tool writing both its outputs into out_fd, in its own process group, with the
// default handling of the signals that this process may have changed. -1 when no process could
// be made; a program that cannot be run ends at once, as the shell's "not found" did.
pid_t spawn_tool(const std::string &path, const std::vector<std::string> &argv, int out_fd, query_lines &result)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_fd, STDERR_FILENO);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int sig : k_guarded_signals)
        sigaddset(&defaults, sig);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    result.started = rc == 0 || (rc != EAGAIN && rc != ENOMEM);
    result.not_run = rc != 0 && result.started;
    return rc == 0 ? pid : -1;
}

using query_clock = std::chrono::steady_clock;

int millis_until(query_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - query_clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1000));
}

// Reads the output to its end, the deadline or a signal; false when the tool must be ended.
bool read_output(int fd, line_picker &picker, query_clock::time_point deadline, query_lines &result)
{
    std::vector<char> buf(16384);
    for (;;) {
        if (g_query_signal.load() != 0) {
            result.interrupted = true;
            return false;
        }
        if (query_clock::now() >= deadline) {
            result.timed_out = true;
            return false;
        }
        pollfd pfd {fd, POLLIN, 0};
        if (poll(&pfd, 1, millis_until(deadline)) <= 0)
            continue;
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return true;
        // Once every label has its line, the rest is only drained.
        if (!picker.all_picked())
            picker.feed(buf.data(), static_cast<size_t>(n));
    }
}

// Waits until the tool has ended, ending its group at the deadline or on a signal, then reaps it.
void wait_for_tool(pid_t pid, registered_group &group, query_clock::time_point deadline, bool end_now,
                   query_lines &result)
{
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        if (end_now)
            kill(-pid, SIGKILL);
        siginfo_t info {};
        const int r = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT | (end_now ? 0 : WNOHANG));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || info.si_pid == pid)
            break;
        if (g_query_signal.load() != 0) {
            result.interrupted = end_now = true;
        } else if (query_clock::now() >= deadline) {
            result.timed_out = end_now = true;
        } else {
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, decltype(pause)(std::chrono::milliseconds(20)));
        }
    }
    group.release();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_failed = !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

query_lines run_query_tool(const std::string &path, const std::vector<std::string> &argv,
                           const std::vector<std::string> &labels, int time_limit_s)
{
    query_lines result;
    result.lines.resize(labels.size());
    result.exit_failed = true; // until the tool has exited with 0
    const auto deadline = query_clock::now() + std::chrono::seconds(time_limit_s);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return result;
    fd_closer read_end(fds[0]);
    // With standard output or error closed at start the pipe may have taken their numbers.
    fd_closer write_end(fds[1] > STDERR_FILENO ? fds[1] : fcntl(fds[1], F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
    if (fds[1] <= STDERR_FILENO)
        close(fds[1]);
    if (write_end.get() < 0)
        return result;

    const pid_t pid = spawn_tool(path, argv, write_end.get(), result);
    if (pid < 0)
        return result;
    registered_group group(pid);
    // A signal that came before the group was registered did not end it.
    if (g_query_signal.load() != 0)
        kill(-pid, SIGKILL);
    // Only the tool holds the writing end now, so that its end is the end of the output.
    write_end.reset();

    line_picker picker(labels);
    const bool ended_by_itself = read_output(read_end.get(), picker, deadline, result);
    wait_for_tool(pid, group, deadline, !ended_by_itself, result);
    if (!result.timed_out && !result.interrupted)
        result.lines = picker.finish();
    return result;
}

std::vector<std::optional<std::string>> pick_labelled_lines(const std::string &output,
                                                            const std::vector<std::string> &labels, size_t chunk)
{
    line_picker picker(labels);
    chunk = std::max<size_t>(chunk, 1);
    for (size_t at = 0; at < output.size() && !picker.all_picked(); at += chunk)
        picker.feed(output.data() + at, std::min(chunk, output.size() - at));
    return picker.finish();
}

void end_running_queries()
{
    end_groups();
}

query_signal_guard::query_signal_guard()
{
    g_query_signal.store(0);
    struct sigaction sa {};
    sa.sa_handler = note_signal;
    sigemptyset(&sa.sa_mask);
    for (size_t i = 0; i < std::size(k_guarded_signals); ++i)
        sigaction(k_guarded_signals[i], &sa, &saved_[i]);
}

query_signal_guard::~query_signal_guard()
{
    for (size_t i = 0; i < std::size(k_guarded_signals); ++i)
        sigaction(k_guarded_signals[i], &saved_[i], nullptr);
    g_query_signal.store(0);
}

int query_signal()
{
    return g_query_signal.load();
}
