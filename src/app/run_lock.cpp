// Taking the run lock and naming its holder.
#include "app/run_lock.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string cannot_lock(const std::string &path, const std::string &reason)
{
    return "cannot lock " + path + ": " + reason;
}

// rovan runs as root; rovan-sim, in tests, may not.
std::string user_name(uid_t uid)
{
    return uid == 0 ? "root" : "uid " + std::to_string(uid);
}

// The PID the holder wrote. A holder that has just taken the lock may not have written it yet:
// look again for a moment before giving up.
std::string holder_pid(int fd)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        char text[32] = {};
        const ssize_t n = pread(fd, text, sizeof text - 1, 0);
        std::string pid;
        for (ssize_t i = 0; i < n && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
            pid += text[i];
        if (!pid.empty())
            return pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "unknown";
}

} // namespace

run_lock::~run_lock()
{
    if (fd_ >= 0)
        close(fd_);
}

std::optional<std::string> run_lock::take(const std::string &path)
{
    // Never through a link, never a file another user made or can open: such a file could be
    // held, or swapped for a fresh one mid-run, by its owner. Close-on-exec, so that no tool
    // started later holds the lock past this process.
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return cannot_lock(path, errno == ELOOP ? "a symbolic link" : std::strerror(errno));
    struct stat st {};
    if (fstat(fd_, &st) != 0)
        return cannot_lock(path, std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return cannot_lock(path, "not a regular file");
    if (st.st_uid != geteuid())
        return cannot_lock(path, "owned by uid " + std::to_string(st.st_uid) + ", not by " + user_name(geteuid()));
    if (st.st_nlink != 1)
        return cannot_lock(path, "has " + std::to_string(st.st_nlink) + " links");
    // Whatever the umask, and for a file an earlier run left readable.
    if ((st.st_mode & 07777) != 0600 && fchmod(fd_, 0600) != 0)
        return cannot_lock(path, std::strerror(errno));
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            return cannot_lock(path, std::strerror(errno));
        return "another run (pid " + holder_pid(fd_) + ") holds " + path + "; nothing was done";
    }
    // The PID only names the holder to a refused run ("unknown" when missing); the lock holds
    // whether or not it could be written.
    const std::string pid = std::to_string(getpid()) + "\n";
    [[maybe_unused]] const bool named =
        ftruncate(fd_, 0) == 0 && pwrite(fd_, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    return std::nullopt;
}
