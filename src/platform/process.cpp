// Running an outside program: a child that shares our memory until it execs, everything made beforehand;
// its pipes, its end, the time limit, the held signals and the stop descriptor waited for as events.
#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fd_write.h"
#include "platform/paths.h"
#include "platform/signals.h"

namespace {

class owned_fd {
public:
    owned_fd() = default;
    ~owned_fd() { reset(); }
    owned_fd(const owned_fd &) = delete;
    owned_fd &operator=(const owned_fd &) = delete;
    explicit owned_fd(int fd) : fd_(fd) {}
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// With standard output or error closed at start, a new descriptor may have taken their number; the
// child's dup2 onto them must never meet one of its own sources.
int above_stdio(int fd)
{
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    return moved;
}

// Close-on-exec, so that a program started meanwhile by another thread does not hold our ends.
bool make_pipe(owned_fd &read_end, owned_fd &write_end)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    read_end.reset(above_stdio(fds[0]));
    write_end.reset(above_stdio(fds[1]));
    return read_end.get() >= 0 && write_end.get() >= 0;
}

// The files an exec of path tries in turn, as execvp does.
std::vector<std::string> exec_candidates(const std::string &path)
{
    if (path.find('/') != std::string::npos)
        return {path};
    const char *env = std::getenv("PATH");
    const std::string search = env ? env : default_search_path();
    std::vector<std::string> files;
    for (size_t start = 0;;) {
        const size_t end = search.find(':', start);
        const std::string dir = search.substr(start, end == std::string::npos ? end : end - start);
        files.push_back((dir.empty() ? "." : dir) + "/" + path);
        if (end == std::string::npos)
            return files;
        start = end + 1;
    }
}

// What the child does before exec, all made beforehand: it runs on a small stack of its own in our
// memory, while the thread that started it waits, so it only makes system calls and writes error.
struct child_plan {
    // Plain pointers: even an out-of-line vector accessor of an unoptimised build is more than it needs.
    char *const *argv = nullptr;
    const char *const *files = nullptr;
    size_t file_count = 0;
    int in = -1;            // becomes standard input; -1: ours
    bool close_in = false;  // no empty pipe could be made: standard input closed rather than ours
    int out = -1, err = -1; // become standard output and error; -1: ours
    bool err_to_out = false;
    process_request::group grouping = process_request::group::ours;
    bool ignores_signals = false;
    int error = 0; // the exec's errno when no file could be run
};

// Not instrumented: stack redzones would be left poisoned in memory that is ours again once it execs.
__attribute__((no_sanitize("address"))) int exec_child(void *arg) noexcept
{
    child_plan &plan = *static_cast<child_plan *>(arg);
    // Handlers do not outlast exec, ignored dispositions do: each set as the program is to start with.
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = plan.ignores_signals ? SIG_IGN : SIG_DFL;
    for (int sig : k_held_signals)
        sigaction(sig, &sa, nullptr);
    sa.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &sa, nullptr);
    if (plan.grouping == process_request::group::own_session)
        setsid();
    else if (plan.grouping == process_request::group::own)
        setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    if (plan.close_in)
        close(STDIN_FILENO);
    else if (plan.in >= 0)
        dup2(plan.in, STDIN_FILENO);
    if (plan.out >= 0)
        dup2(plan.out, STDOUT_FILENO);
    if (plan.err_to_out)
        dup2(STDOUT_FILENO, STDERR_FILENO);
    else if (plan.err >= 0)
        dup2(plan.err, STDERR_FILENO);

    int error = ENOENT;
    bool denied = false;
    for (size_t i = 0; i < plan.file_count; ++i) {
        execv(plan.files[i], plan.argv);
        error = errno;
        if (error == EACCES)
            denied = true;
        else if (error != ENOENT && error != ENOTDIR && error != ESTALE && error != ENODEV && error != ETIMEDOUT)
            break;
    }
    if (denied && (error == ENOENT || error == ENOTDIR))
        error = EACCES;
    plan.error = error;
    _exit(127);
}

// Starts the child as posix_spawn does: sharing our memory and holding this thread until it has exec'd or
// ended, so that no page of ours is copied, however many there are. -1 when it could not be made.
pid_t start_child(child_plan &plan)
{
    constexpr size_t k_stack = 64 * 1024;
    void *stack = mmap(nullptr, k_stack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED)
        return -1;
    // No handler of ours may run in the child before it has set its own dispositions.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    const pid_t pid = clone(exec_child, static_cast<char *>(stack) + k_stack, CLONE_VM | CLONE_VFORK | SIGCHLD, &plan);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    munmap(stack, k_stack);
    return pid;
}

int open_pidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// One captured stream of the running program.
struct stream {
    int fd = -1; // read end, non-blocking; -1 once ended
    const output_sink *sink = nullptr;
    bool echo = false; // still copied to sink->fd; stops once that stops taking output
};

// Reads what one stream holds now, once; false when nothing more is there for now.
bool read_once(stream &s, std::vector<char> &buf, const process_request &request, process_result &result)
{
    if (s.fd < 0)
        return false;
    const ssize_t n = read(s.fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR)
        return true;
    if (n < 0 && errno == EAGAIN)
        return false;
    if (n <= 0) {
        close(s.fd);
        s.fd = -1;
        return false;
    }
    const std::string_view piece(buf.data(), static_cast<size_t>(n));
    if (s.echo && !(request.echo ? request.echo(s.sink->fd, piece) : write_all(s.sink->fd, piece.data(), piece.size())))
        s.echo = false;
    take_output(request, piece, result);
    return true;
}

using steady = std::chrono::steady_clock;

// Waits as run_process says, reading the streams meanwhile; the process is left unreaped, so that its
// group's ID stays its own while the wait may still end that group.
void wait_for(const process_request &request, pid_t pid, stream (&streams)[2], process_result &result)
{
    std::vector<char> buf(65536);
    const owned_fd exit_fd(open_pidfd(pid));
    int signal_fd = request.ends_on_signal ? held_signal_fd() : -1;
    const bool limited = request.time_limit_s > 0;
    const steady::time_point deadline = steady::now() + std::chrono::seconds(request.time_limit_s);
    bool exited = false, ended = false;
    const auto end_group = [&](bool &why) {
        kill(request.grouping == process_request::group::ours ? pid : -pid, SIGKILL);
        why = ended = true;
    };

    for (;;) {
        const bool output_open = streams[0].fd >= 0 || streams[1].fd >= 0;
        if (exited && (!output_open || ended || !limited))
            break;
        pollfd fds[] = {{streams[0].fd, POLLIN, 0}, {streams[1].fd, POLLIN, 0},
                        {exited ? -1 : exit_fd.get(), POLLIN, 0}, {ended ? -1 : signal_fd, POLLIN, 0},
                        {ended ? -1 : request.stop_fd, POLLIN, 0}};
        int timeout = -1;
        if (limited && !ended) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
        }
        // Without a process descriptor (a kernel before 5.3) the end is looked for now and then.
        if (exit_fd.get() < 0 && !exited)
            timeout = timeout < 0 ? 10 : std::min(timeout, 10);
        if (poll(fds, std::size(fds), timeout) < 0 && errno != EINTR)
            break;
        for (size_t i = 0; i < 2; ++i)
            if (fds[i].revents != 0)
                read_once(streams[i], buf, request, result);
        if (!exited) {
            siginfo_t info {};
            exited = exit_fd.get() >= 0
                         ? fds[2].revents != 0
                         : waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                               info.si_pid == pid;
        }
        if (ended)
            continue;
        if (fds[3].revents != 0) {
            if (held_signal() != 0)
                end_group(result.interrupted);
            else
                signal_fd = -1; // the holds ended meanwhile
        } else if (fds[4].revents != 0) {
            end_group(result.interrupted);
        } else if (limited && steady::now() >= deadline) {
            end_group(result.timed_out);
        }
    }
    // What the program wrote before it ended is in the pipes still; a process it left behind may go on
    // writing, so take a bounded amount.
    for (stream &s : streams)
        for (int i = 0; i < 16 && read_once(s, buf, request, result); ++i) {
        }
}

} // namespace

process_result run_process(const process_request &request)
{
    process_result result;
    if (request.ends_on_signal && held_signal() != 0) {
        result.interrupted = true;
        return result;
    }

    const std::vector<std::string> files = exec_candidates(request.path);
    std::vector<char *> argv;
    for (const std::string &arg : request.argv)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<const char *> file_names;
    for (const std::string &file : files)
        file_names.push_back(file.c_str());
    child_plan plan;
    plan.argv = argv.data();
    plan.files = file_names.data();
    plan.file_count = file_names.size();
    plan.grouping = request.grouping;
    plan.ignores_signals = request.ignores_signals;

    owned_fd in_read, in_write, null_fd, out_file, err_file, out_read, out_write, err_read, err_write;
    if (request.empty_stdin) {
        if (make_pipe(in_read, in_write))
            plan.in = in_read.get();
        else
            plan.close_in = true;
    }
    bool made = true;
    const auto child_end = [&](const output_sink &sink, owned_fd &file, owned_fd &read_end, owned_fd &write_end) {
        switch (sink.to) {
        case output_sink::kind::inherit: return -1;
        case output_sink::kind::file:
            // A copy of our own, never standard output or error themselves.
            file.reset(fcntl(sink.fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
            made = made && file.get() >= 0;
            return file.get();
        case output_sink::kind::discard:
            if (null_fd.get() < 0)
                null_fd.reset(above_stdio(open(null_device(), O_WRONLY | O_CLOEXEC)));
            made = made && null_fd.get() >= 0;
            return null_fd.get();
        case output_sink::kind::capture: made = made && make_pipe(read_end, write_end); return write_end.get();
        }
        return -1;
    };
    plan.out = child_end(request.out, out_file, out_read, out_write);
    plan.err_to_out = request.err_to_out;
    if (!request.err_to_out)
        plan.err = child_end(request.err, err_file, err_read, err_write);
    if (!made)
        return result;

    // Our own buffered output comes before the program's.
    std::fflush(nullptr);
    const pid_t pid = start_child(plan);
    if (pid < 0)
        return result;
    result.started = true;
    result.exec_error = plan.error;

    // Only the program holds its ends now: the end of the output is the end of its writes, and its
    // standard input is empty.
    for (owned_fd *fd : {&in_read, &in_write, &null_fd, &out_file, &err_file, &out_write, &err_write})
        fd->reset();

    stream streams[2];
    owned_fd *const read_ends[] = {&out_read, &err_read};
    const output_sink *const sinks[] = {&request.out, &request.err};
    for (size_t i = 0; i < 2; ++i) {
        const int fd = read_ends[i]->get();
        if (fd < 0)
            continue;
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        streams[i] = {read_ends[i]->release(), sinks[i], sinks[i]->fd >= 0};
    }
    wait_for(request, pid, streams, result);
    for (const stream &s : streams)
        if (s.fd >= 0)
            close(s.fd);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.term_signal = WTERMSIG(status);
    }
    return result;
}

void take_output(const process_request &request, std::string_view piece, process_result &result)
{
    if (request.take)
        request.take(piece);
    else
        result.output.append(piece);
}

std::string command_text(const process_request &request)
{
    std::string text;
    for (const std::string &word : request.argv) {
        if (!text.empty())
            text += ' ';
        text += word.find(' ') == std::string::npos ? word : "\"" + word + "\"";
    }
    if (request.out.to == output_sink::kind::discard)
        text += std::string(" > ") + null_device();
    else if (request.out.to == output_sink::kind::file)
        text += " > " + request.out.name;
    return text;
}
