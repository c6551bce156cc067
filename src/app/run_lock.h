// The run lock: one run at a time, from before the mode starts to the end of the process.
#pragma once

#include <string>

inline constexpr const char *k_run_lock = "/run/lock/rovan.lock";

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

    // Takes the lock on path and writes this process's PID into the file. When another run holds
    // it, or the file cannot be locked, says so on standard error and answers false.
    bool take(const std::string &path);

private:
    int fd_ = -1;
};
