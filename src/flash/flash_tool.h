#pragma once

#include <string>
#include <vector>

// The query command for one device, by the Secure Boot outcome (boot_value).
std::string flash_query_command(const std::string &address);

// The burn: program path and argument list (program name first), by
// boot_mode_value and silent.
struct flash_burn_command {
    std::string path;
    std::vector<std::string> argv;
};
flash_burn_command flash_burn_arguments(const std::string &address, const std::string &image_path);
