// Running a program over the simulated server, as an operator would from
// the package directory, with its output captured.

#include "sim_server.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "sim_files.h"

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

std::vector<std::string> environment(const std::map<std::string, std::string> &overrides)
{
    std::map<std::string, std::string> vars;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        size_t eq = entry.find('=');
        if (eq != std::string::npos)
            vars.emplace(entry.substr(0, eq), entry.substr(eq + 1));
    }
    for (const auto &[key, value] : overrides)
        vars[key] = value;
    std::vector<std::string> list;
    for (const auto &[key, value] : vars)
        list.push_back(key + "=" + value);
    return list;
}

// The whole input goes into the pipe before the program starts, so that
// neither side ever waits for the other; the write end is then closed.
int input_pipe(const std::string &input)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("simulated server: pipe: ") + std::strerror(errno));
    if (input.size() > 65536 && fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(input.size())) < 0) {
        close(fds[0]);
        close(fds[1]);
        throw std::runtime_error("simulated server: input of " + std::to_string(input.size()) +
                                 " bytes does not fit a pipe");
    }
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    ssize_t written = input.empty() ? 0 : write(fds[1], input.data(), input.size());
    close(fds[1]);
    if (written != static_cast<ssize_t>(input.size())) {
        close(fds[0]);
        throw std::runtime_error("simulated server: could not feed the input");
    }
    return fds[0];
}

int open_capture(const std::string &path)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("simulated server: cannot open " + path);
    return fd;
}

[[noreturn]] void exec_child(const std::string &dir, int in, int out, int err, char *const argv[],
                             char *const envp[])
{
    setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP)
            signal(sig, SIG_DFL);
    if (chdir(dir.c_str()) == 0 && dup2(in, 0) == 0 && dup2(out, 1) == 1 && dup2(err, 2) == 2)
        execve(argv[0], argv, envp);
    static const char msg[] = "simulated server: cannot run the program\n";
    ssize_t ignored = write(2, msg, sizeof msg - 1);
    (void)ignored;
    _exit(127);
}

void kill_run(pid_t pid)
{
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
}

std::string describe(const std::vector<std::string> &args, const std::string &binary)
{
    std::string text = binary.empty() ? "rovan-sim" : binary;
    for (const std::string &a : args)
        text += " " + a;
    return text;
}

} // namespace

SimServer::Capture SimServer::new_capture() const
{
    Capture capture;
    for (std::string *path : {&capture.out_file, &capture.err_file}) {
        std::string pattern = root_ + "/sim-runs/run-XXXXXX";
        int fd = mkstemp(pattern.data());
        if (fd < 0)
            throw std::runtime_error("simulated server: cannot create a capture file in " + root_ + "/sim-runs");
        close(fd);
        *path = pattern;
    }
    return capture;
}

pid_t SimServer::spawn(const std::vector<std::string> &args, const std::string &input,
                       const std::map<std::string, std::string> &env, const std::string &binary,
                       const Capture &capture) const
{
    std::vector<std::string> words {binary.empty() ? std::string(ROVAN_SIM_BINARY) : binary};
    words.insert(words.end(), args.begin(), args.end());
    std::map<std::string, std::string> overrides {{"ROVAN_SYSROOT", root_}, {"ROVAN_SIM_STATE", state_dir()}};
    for (const auto &[key, value] : env)
        overrides[key] = value;
    std::vector<std::string> vars = environment(overrides);
    std::vector<char *> argv = pointers(words);
    std::vector<char *> envp = pointers(vars);
    const std::string dir = package_dir();

    int in = input_pipe(input);
    int out = open_capture(capture.out_file);
    int err = open_capture(capture.err_file);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        exec_child(dir, in, out, err, argv.data(), envp.data());
    close(in);
    close(out);
    close(err);
    if (pid < 0)
        throw std::runtime_error(std::string("simulated server: fork: ") + std::strerror(errno));
    setpgid(pid, pid);
    return pid;
}

Result SimServer::collect(pid_t pid, const Capture &capture) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds_);
    int status = 0;
    bool timed_out = false;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0 && errno != EINTR)
            throw std::runtime_error(std::string("simulated server: waitpid: ") + std::strerror(errno));
        if (!timed_out && std::chrono::steady_clock::now() > deadline) {
            timed_out = true;
            kill_run(pid);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    Result result;
    result.out = files::read_file(capture.out_file);
    result.err = files::read_file(capture.err_file);
    std::remove(capture.out_file.c_str());
    std::remove(capture.err_file.c_str());
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
    Capture capture = new_capture();
    capture.description = describe(args, binary);
    try {
        return collect(spawn(args, input, env, binary, capture), capture);
    } catch (...) {
        std::remove(capture.out_file.c_str());
        std::remove(capture.err_file.c_str());
        throw;
    }
}

pid_t SimServer::start(const std::vector<std::string> &args, const std::string &input,
                       const std::map<std::string, std::string> &env, const std::string &binary)
{
    Capture capture = new_capture();
    capture.description = describe(args, binary);
    pid_t pid = spawn(args, input, env, binary, capture);
    started_[pid] = capture;
    return pid;
}

Result SimServer::finish(pid_t pid)
{
    auto it = started_.find(pid);
    if (it == started_.end())
        throw std::invalid_argument("simulated server: no run " + std::to_string(pid) + " was started");
    Capture capture = it->second;
    started_.erase(it);
    return collect(pid, capture);
}

void SimServer::set_run_timeout(int seconds)
{
    timeout_seconds_ = seconds;
}

} // namespace sim
