// When the system booted.
#pragma once

#include <ctime>
#include <optional>

// The boot time the kernel gives in /proc/stat ("btime"); nothing when it cannot be read.
std::optional<std::time_t> boot_time();
