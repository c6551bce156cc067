// Asking the Secure Boot query tool, then starting the adapter service and checking the installed flash tool.
#include "app/secure_boot.h"

#include <cstdio>

#include "platform/paths.h"
#include "platform/text.h"

boot_mode get_boot_mode(tool_runner &tools)
{
    const std::string query = system_path("/usr/bin/mokutil") + " --sb-state";
    std::optional<std::vector<std::string>> lines = tools.read_lines(query);
    if (!lines) {
        std::printf("\nERROR: In popen for mokutil, call failed \n\n");
        return boot_mode::check_failed;
    }
    if (lines->empty())
        return boot_mode::disabled;
    std::string first = lines->front();
    if (first.size() > 499)
        first.resize(499);
    if (!contains_nocase(first, "enabled"))
        return boot_mode::disabled;

    const std::string mst = system_path("/usr/bin/mst");
    const std::string status_cmd = mst + " status";
    int rc = tools.shell(status_cmd);
    if (rc == -1) {
        std::printf("\nERROR: Failed to execute \"%s\"\n", status_cmd.c_str());
        return boot_mode::check_failed;
    }
    if (rc == 127) {
        std::printf("\nERROR: \"%s\" command not found.\n", status_cmd.c_str());
        return boot_mode::enabled_without_tools;
    }

    rc = tools.shell(mst + " start");
    if (rc == -1 || rc == 127) {
        std::printf("\nERROR: Unable to start mst service\n");
        return boot_mode::check_failed;
    }

    rc = tools.shell(system_path("/usr/bin/flint") + " --help > /dev/null");
    if (rc == -1 || rc == 127)
        return boot_mode::enabled_without_tools;

    return boot_mode::enabled;
}
