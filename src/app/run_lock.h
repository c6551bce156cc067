// The run lock: one run at a time, from before the mode starts to the end of the process.
#pragma once

#include <optional>
#include <string>

// In /run, which only root can write: no other user can plant the file or open it to hold it.
inline constexpr const char *k_run_lock = "/run/rovan.lock";

// The exit status of a run that did not get the lock.
inline constexpr int k_status_locked = 4;

// An exclusive flock on a file that is never deleted. The lock belongs to the open file, so it
// ends with the process, however the process ends.
class run_lock {
public:
    run_lock() = default;
    ~run_lock();
    run_lock(const run_lock &) = delete;
    run_lock &operator=(const run_lock &) = delete;

    // Takes the lock on path (created mode 0600) and writes this process's PID into the file. When
    // another run holds it, or the path is not this user's own regular file of one link, or it
    // cannot be locked, answers why.
    std::optional<std::string> take(const std::string &path);

private:
    int fd_ = -1;
};
