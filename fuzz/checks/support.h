// What the checks share: the scratch directory and the printing of inputs in failure messages.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// A directory of this process's own, made on first use and removed at exit: the package directory
// of the report check's update (nic_fw/NICFWData.xml, mstflint.log going to /dev/null, getmlnxinfo's
// answer), and the system root of rovan's fixed paths, so that no check reads the host's /sys.
const std::filesystem::path &scratch_dir();

// A byte string for a failure message, quoted, unprintable bytes escaped.
std::string printable(std::string_view text);
