// The flash tool's burn command line.
#pragma once

#include <string>
#include <vector>

#include "core/run_state.h"

// The burn: program path and argument list (program name first), by the
// Secure Boot outcome and whether the run is silent.
struct flash_burn_command {
    std::string path;
    std::vector<std::string> argv;
};
flash_burn_command flash_burn_arguments(const run_context &ctx, const std::string &address,
                                        const std::string &image_path);
