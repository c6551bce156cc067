// Running outside programs: through the shell, and the flash tool's burn with its signal holding.
#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fd_write.h"

int shell_exit_status(const std::string &command)
{
    std::fflush(nullptr);
    int status = std::system(command.c_str());
    if (status == -1)
        return -1;
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

volatile sig_atomic_t g_pending_signal = 0;

void hold_signal(int sig)
{
    g_pending_signal = sig;
}

const int k_held_signals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

// Installs the holding handler for the length of one burn.
class held_signals {
public:
    held_signals()
    {
        g_pending_signal = 0;
        struct sigaction sa {};
        sa.sa_handler = hold_signal;
        sigemptyset(&sa.sa_mask);
        for (size_t i = 0; i < std::size(k_held_signals); ++i)
            sigaction(k_held_signals[i], &sa, &saved_[i]);
        // A console reader that goes away must not end us in mid-burn.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &saved_pipe_);
    }
    ~held_signals()
    {
        for (size_t i = 0; i < std::size(k_held_signals); ++i)
            sigaction(k_held_signals[i], &saved_[i], nullptr);
        sigaction(SIGPIPE, &saved_pipe_, nullptr);
    }
    held_signals(const held_signals &) = delete;
    held_signals &operator=(const held_signals &) = delete;

private:
    struct sigaction saved_[std::size(k_held_signals)] {};
    struct sigaction saved_pipe_ {};
};

[[noreturn]] void exec_tool(const std::string &path, const std::vector<std::string> &argv, int out_fd, int capture_fd)
{
    for (int sig : k_held_signals)
        std::signal(sig, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
    if (capture_fd > STDERR_FILENO)
        close(capture_fd);
    // With standard output or error closed at start, the pipe may have taken
    // their numbers; move it clear before making it both.
    int fd = out_fd > STDERR_FILENO ? out_fd : fcntl(out_fd, F_DUPFD, STDERR_FILENO + 1);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    if (fd > STDERR_FILENO)
        close(fd);
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(path.c_str(), args.data());
    _exit(1);
}

} // namespace

burn_outcome run_flash_tool(const std::string &path, const std::vector<std::string> &argv, int capture_fd)
{
    burn_outcome outcome;
    std::fflush(nullptr);
    int fds[2];
    if (pipe(fds) != 0)
        return outcome;

    held_signals guard;
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        outcome.deferred_signal = g_pending_signal;
        return outcome;
    }
    if (pid == 0) {
        close(fds[0]);
        exec_tool(path, argv, fds[1], capture_fd);
    }
    outcome.started = true;
    close(fds[1]);

    // Copy the output while waiting for the tool itself, so that a process
    // it left behind holding the pipe open cannot keep us waiting.
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    bool console_open = true;
    bool pipe_open = true;
    auto copy_available = [&]() {
        char buf[4096];
        for (;;) {
            ssize_t n = read(fds[0], buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0)
                pipe_open = false;
            if (n <= 0)
                return;
            if (console_open)
                console_open = write_all(STDOUT_FILENO, buf, static_cast<size_t>(n));
            if (capture_fd >= 0)
                write_all(capture_fd, buf, static_cast<size_t>(n));
        }
    };

    int status = 0;
    for (;;) {
        if (pipe_open) {
            pollfd pfd {fds[0], POLLIN, 0};
            if (poll(&pfd, 1, 100) > 0)
                copy_available();
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
    if (pipe_open)
        copy_available();
    close(fds[0]);
    outcome.deferred_signal = g_pending_signal;
    return outcome;
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
