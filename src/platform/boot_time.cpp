// Reading the boot time from /proc/stat.
#include "platform/boot_time.h"

#include <fstream>
#include <string>

#include "platform/paths.h"

std::optional<std::time_t> boot_time()
{
    std::ifstream stat(system_path("/proc/stat"));
    for (std::string line; std::getline(stat, line);) {
        if (!line.starts_with("btime "))
            continue;
        try {
            size_t used = 0;
            const long long seconds = std::stoll(line.substr(6), &used);
            if (seconds > 0 && 6 + used == line.size())
                return static_cast<std::time_t>(seconds);
        } catch (const std::exception &) {
        }
        return std::nullopt;
    }
    return std::nullopt;
}
