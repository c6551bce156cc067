#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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
    }
    ~held_signals()
    {
        for (size_t i = 0; i < std::size(k_held_signals); ++i)
            sigaction(k_held_signals[i], &saved_[i], nullptr);
    }
    held_signals(const held_signals &) = delete;
    held_signals &operator=(const held_signals &) = delete;

private:
    struct sigaction saved_[std::size(k_held_signals)] {};
};

void write_all(int fd, const char *data, size_t len)
{
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
}

[[noreturn]] void exec_tool(const std::string &path, const std::vector<std::string> &argv, int out_fd)
{
    for (int sig : k_held_signals)
        std::signal(sig, SIG_DFL);
    dup2(out_fd, STDOUT_FILENO);
    dup2(out_fd, STDERR_FILENO);
    close(out_fd);
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
        exec_tool(path, argv, fds[1]);
    }
    outcome.started = true;
    close(fds[1]);

    char buf[4096];
    for (;;) {
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        write_all(STDOUT_FILENO, buf, static_cast<size_t>(n));
        if (capture_fd >= 0)
            write_all(capture_fd, buf, static_cast<size_t>(n));
    }
    close(fds[0]);

    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WUNTRACED | WCONTINUED);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            break;
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
