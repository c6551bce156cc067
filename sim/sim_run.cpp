// Running a program over the simulated server, as an operator would from the
// package directory, with its input read from a file and its output captured.

#include "sim_server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "sim_state.h"

extern char **environ;

namespace sim {

namespace {

std::vector<char *> pointers(std::vector<std::string> &words)
{
    std::vector<char *> list;
    for (std::string &w : words)
        list.push_back(w.data());
    list.push_back(nullptr);
    return list;
}

// The test's environment, with the overrides in place of the variables of the same names.
std::vector<std::string> environment(const std::map<std::string, std::string> &overrides)
{
    std::vector<std::string> vars;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!overrides.contains(entry.substr(0, entry.find('='))))
            vars.push_back(entry);
    }
    for (const auto &[key, value] : overrides)
        vars.push_back(key + "=" + value);
    return vars;
}

int open_file(const std::string &path, int flags)
{
    const int fd = open(path.c_str(), flags | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("simulated server: cannot open " + path + ": " + std::strerror(errno));
    return fd;
}

// A fresh process group (at a terminal: a session whose controlling terminal it is) with default
// signal handling, whatever the test runner set.
[[noreturn]] void exec_child(const std::string &dir, const int fds[3], bool at_terminal, char *const argv[],
                             char *const envp[])
{
    if (at_terminal)
        setsid();
    else
        setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP)
            signal(sig, SIG_DFL);
    if (chdir(dir.c_str()) == 0 && dup2(fds[0], 0) == 0 && dup2(fds[1], 1) == 1 && dup2(fds[2], 2) == 2 &&
        (!at_terminal || ioctl(0, TIOCSCTTY, 0) == 0))
        execve(argv[0], argv, envp);
    static const char msg[] = "simulated server: cannot run the program\n";
    const ssize_t ignored = write(2, msg, sizeof msg - 1);
    (void)ignored;
    _exit(127);
}

} // namespace

pid_t SimServer::spawn(const std::vector<std::string> &args, const std::string &input,
                       const std::map<std::string, std::string> &env, const std::string &binary,
                       Capture &capture) const
{
    std::vector<std::string> words {binary.empty() ? std::string(ROVAN_SIM_BINARY) : binary};
    words.insert(words.end(), args.begin(), args.end());
    capture.description = binary.empty() ? "rovan-sim" : binary;
    for (const std::string &a : args)
        capture.description += " " + a;
    std::string dir = root_ + "/sim-runs/run-XXXXXX";
    if (!mkdtemp(dir.data()))
        throw std::runtime_error("simulated server: cannot create a directory in " + root_ + "/sim-runs");
    capture.dir = dir;
    if (!state::write_text(dir + "/in", input))
        throw std::runtime_error("simulated server: cannot write " + dir + "/in");

    std::map<std::string, std::string> overrides {{"ROVAN_SYSROOT", root_}, {"ROVAN_SIM_STATE", state_dir()}};
    for (const auto &[key, value] : env)
        overrides[key] = value;
    std::vector<std::string> vars = environment(overrides);
    std::vector<char *> argv = pointers(words);
    std::vector<char *> envp = pointers(vars);
    const std::string cwd = package_dir();
    int fds[3];
    if (capture.terminal >= 0) {
        const int side = open_file(ptsname(capture.terminal), O_RDWR | O_NOCTTY);
        std::fill(fds, fds + 3, side);
    } else {
        fds[0] = open_file(dir + "/in", O_RDONLY);
        fds[1] = open_file(dir + "/out", O_WRONLY | O_CREAT);
        fds[2] = open_file(dir + "/err", O_WRONLY | O_CREAT);
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0)
        exec_child(cwd, fds, capture.terminal >= 0, argv.data(), envp.data());
    close(fds[0]);
    if (capture.terminal < 0) {
        close(fds[1]);
        close(fds[2]);
    }
    if (pid < 0)
        throw std::runtime_error(std::string("simulated server: fork: ") + std::strerror(errno));
    // A session leader cannot be moved to another group; at a terminal the child makes its own.
    if (capture.terminal < 0)
        setpgid(pid, pid);
    return pid;
}

Result SimServer::collect(pid_t pid, const Capture &capture) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds_);
    int status = 0;
    bool timed_out = false;
    // What the run shows at its terminal is read as it comes, so that it never waits for room.
    std::string shown;
    const auto read_terminal = [&] {
        char buf[4096];
        for (ssize_t n; capture.terminal >= 0 && (n = read(capture.terminal, buf, sizeof buf)) > 0;)
            shown.append(buf, static_cast<size_t>(n));
    };
    for (pid_t r; (r = waitpid(pid, &status, WNOHANG)) != pid;) {
        read_terminal();
        if (r < 0 && errno != EINTR)
            throw std::runtime_error(std::string("simulated server: waitpid: ") + std::strerror(errno));
        if (!timed_out && std::chrono::steady_clock::now() > deadline) {
            timed_out = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    read_terminal();
    if (capture.terminal >= 0)
        close(capture.terminal);
    Result result;
    result.out = shown + state::read_text(capture.dir + "/out").value_or("");
    result.err = state::read_text(capture.dir + "/err").value_or("");
    std::filesystem::remove_all(capture.dir);
    if (timed_out)
        throw std::runtime_error("simulated server: " + capture.description + " still ran after " +
                                 std::to_string(timeout_seconds_) + " s and was killed\n--- stdout:\n" +
                                 result.out + "\n--- stderr:\n" + result.err);
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.term_signal = WTERMSIG(status);
        result.status = 128 + result.term_signal;
    }
    return result;
}

Result SimServer::run(const std::vector<std::string> &args, const std::string &input,
                      const std::map<std::string, std::string> &env, const std::string &binary) const
{
    // A run that fails to start leaves its directory to the destructor.
    Capture capture;
    return collect(spawn(args, input, env, binary, capture), capture);
}

pid_t SimServer::start(const std::vector<std::string> &args, const std::string &input,
                       const std::map<std::string, std::string> &env, const std::string &binary)
{
    Capture capture;
    const pid_t pid = spawn(args, input, env, binary, capture);
    started_[pid] = capture;
    return pid;
}

Result SimServer::finish(pid_t pid)
{
    auto it = started_.find(pid);
    if (it == started_.end())
        throw std::invalid_argument("simulated server: no run " + std::to_string(pid) + " was started");
    const Capture capture = it->second;
    started_.erase(it);
    return collect(pid, capture);
}

pid_t SimServer::start_at_terminal(const std::vector<std::string> &args)
{
    Capture capture;
    capture.terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (capture.terminal < 0 || grantpt(capture.terminal) != 0 || unlockpt(capture.terminal) != 0)
        throw std::runtime_error(std::string("simulated server: no pseudo-terminal: ") + std::strerror(errno));
    fcntl(capture.terminal, F_SETFL, fcntl(capture.terminal, F_GETFL) | O_NONBLOCK);
    const pid_t pid = spawn(args, "", {}, "", capture);
    started_[pid] = capture;
    return pid;
}

void SimServer::type_at_terminal(pid_t pid, const std::string &keys)
{
    const auto it = started_.find(pid);
    if (it == started_.end() || it->second.terminal < 0 ||
        write(it->second.terminal, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
        throw std::runtime_error("simulated server: cannot type at the terminal of run " + std::to_string(pid));
}

void SimServer::set_run_timeout(int seconds)
{
    timeout_seconds_ = seconds;
}

} // namespace sim
