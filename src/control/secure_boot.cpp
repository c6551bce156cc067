#include "control/secure_boot.h"

#include <cstdio>

#include "globals.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {
int refuse(int result)
{
    boot_value = result;
    return result;
}
} // namespace

int get_boot_mode()
{
    const std::string query = system_path("/usr/bin/mokutil") + " --sb-state";
    std::optional<std::vector<std::string>> lines = read_command_lines(query);
    if (!lines) {
        std::printf("\nERROR: In popen for mokutil, call failed \n\n");
        return refuse(3);
    }
    if (lines->empty())
        return 0;
    std::string first = lines->front();
    if (first.size() > 499)
        first.resize(499);
    if (!contains_nocase(first, "enabled"))
        return 0;

    const std::string mst = system_path("/usr/bin/mst");
    const std::string status_cmd = mst + " status";
    int rc = shell_exit_status(status_cmd);
    if (rc == -1) {
        std::printf("\nERROR: Failed to execute \"%s\"\n", status_cmd.c_str());
        return refuse(3);
    }
    if (rc == 127) {
        std::printf("\nERROR: \"%s\" command not found.\n", status_cmd.c_str());
        return refuse(2);
    }

    rc = shell_exit_status(mst + " start");
    if (rc == -1 || rc == 127) {
        std::printf("\nERROR: Unable to start mst service\n");
        return refuse(3);
    }

    rc = shell_exit_status(system_path("/usr/bin/flint") + " --help > /dev/null");
    if (rc == -1 || rc == 127)
        return refuse(2);

    boot_value = 1;
    return 1;
}
