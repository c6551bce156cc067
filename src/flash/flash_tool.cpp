#include "flash/flash_tool.h"

#include "globals.h"
#include "platform/paths.h"

namespace {
const char *const k_package_tool = "./nic_fw/mstflint";
const char *const k_installed_tool = "/usr/bin/flint";
} // namespace

std::string flash_query_command(const std::string &address)
{
    const std::string tool = boot_value == 0 ? std::string(k_package_tool) : system_path(k_installed_tool);
    return tool + " -d " + address + " q 2>&1";
}

flash_burn_command flash_burn_arguments(const std::string &address, const std::string &image_path)
{
    flash_burn_command cmd;
    if (boot_mode_value == 1) {
        cmd.path = system_path(k_installed_tool);
        cmd.argv.push_back("flint");
    } else {
        cmd.path = k_package_tool;
        cmd.argv.push_back("mstflint");
    }
    if (silent == 2)
        cmd.argv.push_back("-s");
    for (const char *arg : {"-y", "-d"})
        cmd.argv.push_back(arg);
    cmd.argv.push_back(address);
    cmd.argv.push_back("-i");
    cmd.argv.push_back(image_path);
    cmd.argv.push_back("b");
    return cmd;
}
