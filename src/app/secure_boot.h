// The Secure Boot check and the readiness of the installed flash tool.
#pragma once

#include "platform/tools.h"

enum class boot_mode {
    disabled,              // the package's flash tool is used
    enabled,               // the installed flash tool is ready and replaces it
    enabled_without_tools, // Secure Boot is on but the installed tools are missing: the run is refused
    check_failed,          // the state could not be learned: the run is refused
};

// Asks whether UEFI Secure Boot is on and, if so, readies the installed flash tool.
boot_mode get_boot_mode(tool_runner &tools);
