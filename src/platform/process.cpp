// Running outside programs: through the shell, and the flash tool's burn out of reach of signals; holding signals back.
#include "platform/process.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fd_write.h"
#include "platform/paths.h"

extern char **environ;

namespace {

// The signals that end a run from outside: held back during a burn, ignored by the flash tool.
const int k_held_signals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

} // namespace

int shell_exit_status(const std::string &command)
{
    std::fflush(nullptr);
    const std::string shell = shell_program();
    std::vector<char *> argv = {const_cast<char *>("sh"), const_cast<char *>("-c"),
                                const_cast<char *>(command.c_str()), nullptr};
    // The command starts with default handling of these signals and of SIGPIPE (which main ignores), none blocked.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int sig : k_held_signals)
        sigaddset(&defaults, sig);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, shell.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    // A shell ended by a signal did not complete the command.
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::optional<std::vector<std::string>> read_command_lines(const std::string &command)
{
    std::fflush(nullptr);
    struct pipe_closer {
        void operator()(FILE *f) const { pclose(f); }
    };
    std::unique_ptr<FILE, pipe_closer> pipe(popen(command.c_str(), "r"));
    if (!pipe)
        return std::nullopt;
    std::vector<std::string> lines;
    std::string line;
    int c;
    while ((c = std::fgetc(pipe.get())) != EOF) {
        line.push_back(static_cast<char>(c));
        if (c == '\n') {
            lines.push_back(std::move(line));
            line.clear();
        }
    }
    if (!line.empty())
        lines.push_back(std::move(line));
    return lines;
}

namespace {

std::atomic<int> g_held_signal {0};
static_assert(std::atomic<int>::is_always_lock_free, "set by a signal handler");
std::mutex g_hold_mutex; // guards the depth and the saved handling
int g_hold_depth = 0;
struct sigaction g_saved[std::size(k_held_signals)] {};

void hold_signal(int sig)
{
    g_held_signal.store(sig);
}

// The pipe ends are close-on-exec: the tool keeps only the copies made here.
// The argument list is made before the fork: another thread may hold the allocator's lock meanwhile.
[[noreturn]] void exec_tool(const std::string &path, const std::vector<char *> &args, int out_fd, int err_fd,
                            int capture_fd)
{
    // A burn cut short can leave the adapter without firmware: no Ctrl-C, hang-up or signal to our process
    // group may reach the tool. Ignored dispositions outlast exec; a session of its own has no terminal.
    for (int sig : k_held_signals)
        std::signal(sig, SIG_IGN);
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    setsid();
    if (capture_fd > STDERR_FILENO)
        close(capture_fd);
    // With standard output or error closed at start, a pipe may have taken
    // their numbers; move both clear before putting them in place.
    const int out = fcntl(out_fd, F_DUPFD, STDERR_FILENO + 1);
    const int err = fcntl(err_fd, F_DUPFD, STDERR_FILENO + 1);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    close(out);
    close(err);
    // Standard input is an empty pipe (closed, if none can be made): never the operator's terminal.
    int in[2];
    if (pipe(in) != 0) {
        close(STDIN_FILENO);
    } else {
        close(in[1]);
        if (in[0] != STDIN_FILENO) {
            dup2(in[0], STDIN_FILENO);
            close(in[0]);
        }
    }
    execv(path.c_str(), args.data());
    _exit(1);
}

} // namespace

burn_outcome run_flash_tool(const std::string &path, const std::vector<std::string> &argv, int capture_fd,
                            const burn_echo &echo)
{
    burn_outcome outcome;
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    // The tool's standard output and error, each copied to ours.
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return outcome;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return outcome;
    }

    pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {out[0], out[1], err[0], err[1]})
            close(fd);
        return outcome;
    }
    if (pid == 0)
        exec_tool(path, args, out[1], err[1], capture_fd);
    outcome.started = true;
    close(out[1]);
    close(err[1]);

    // Copy the output while waiting for the tool itself, so that a process
    // it left behind holding a pipe open cannot keep us waiting. Both streams
    // go into the capture as they arrive.
    struct stream {
        int pipe;    // read end; -1 once the tool's side is closed
        int console; // where it is shown; -1 once that stopped taking output
    } streams[] = {{out[0], STDOUT_FILENO}, {err[0], STDERR_FILENO}};
    for (const stream &s : streams)
        fcntl(s.pipe, F_SETFL, fcntl(s.pipe, F_GETFL) | O_NONBLOCK);
    auto copy_available = [&](stream &s) {
        char buf[4096];
        while (s.pipe >= 0) {
            ssize_t n = read(s.pipe, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0) {
                close(s.pipe);
                s.pipe = -1;
            }
            if (n <= 0)
                return;
            const std::string_view piece(buf, static_cast<size_t>(n));
            if (s.console >= 0 && !(echo ? echo(s.console, piece) : write_all(s.console, buf, piece.size())))
                s.console = -1;
            if (capture_fd >= 0)
                write_all(capture_fd, buf, static_cast<size_t>(n));
        }
    };

    int status = 0;
    for (;;) {
        const bool pipe_open = streams[0].pipe >= 0 || streams[1].pipe >= 0;
        if (pipe_open) {
            // poll passes over the -1 of a closed stream.
            pollfd pfds[] = {{streams[0].pipe, POLLIN, 0}, {streams[1].pipe, POLLIN, 0}};
            if (poll(pfds, 2, 100) > 0)
                for (stream &s : streams)
                    copy_available(s);
        }
        pid_t r = waitpid(pid, &status, (pipe_open ? WNOHANG : 0) | WUNTRACED | WCONTINUED);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            break;
        if (r == 0)
            continue;
        if (WIFEXITED(status)) {
            outcome.exited = true;
            outcome.exit_code = WEXITSTATUS(status);
            break;
        }
        if (WIFSIGNALED(status)) {
            outcome.term_signal = WTERMSIG(status);
            break;
        }
        // Stopped or continued: the tool has not ended yet.
    }
    for (stream &s : streams) {
        copy_available(s);
        if (s.pipe >= 0)
            close(s.pipe);
    }
    return outcome;
}

signal_hold::signal_hold()
{
    const std::lock_guard<std::mutex> lock(g_hold_mutex);
    if (g_hold_depth++ > 0)
        return;
    g_held_signal.store(0);
    struct sigaction sa {};
    sa.sa_handler = hold_signal;
    sigemptyset(&sa.sa_mask);
    for (size_t i = 0; i < std::size(k_held_signals); ++i)
        sigaction(k_held_signals[i], &sa, &g_saved[i]);
}

signal_hold::~signal_hold()
{
    const std::lock_guard<std::mutex> lock(g_hold_mutex);
    if (--g_hold_depth > 0)
        return;
    for (size_t i = 0; i < std::size(k_held_signals); ++i)
        sigaction(k_held_signals[i], &g_saved[i], nullptr);
}

int signal_hold::held() const
{
    return g_held_signal.load();
}

int held_signal()
{
    const std::lock_guard<std::mutex> lock(g_hold_mutex);
    return g_hold_depth > 0 ? g_held_signal.load() : 0;
}

void act_on_deferred_signal(int sig)
{
    std::fflush(nullptr);
    std::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}
