// Asking the Secure Boot query tool, then starting the adapter service and checking the installed flash tool.
#include "app/secure_boot.h"

#include <cstdio>

#include "core/console.h"
#include "core/flash_tool.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {
// A program whose output goes where ours does.
process_request command(const std::string &path, const std::string &arg)
{
    process_request request;
    request.path = path;
    request.argv = {path, arg};
    return request;
}
} // namespace

boot_mode get_boot_mode(tool_runner &tools)
{
    process_request query = command(system_path("/usr/bin/mokutil"), "--sb-state");
    query.out.to = output_sink::kind::capture;
    const process_result answer = run_command(tools, query);
    if (!answer.started) {
        std::printf("\nERROR: In popen for mokutil, call failed \n\n");
        return boot_mode::check_failed;
    }
    std::string first = answer.output.substr(0, answer.output.find('\n'));
    if (first.size() > 499)
        first.resize(499);
    if (!contains_nocase(first, "enabled"))
        return boot_mode::disabled;

    const std::string mst = system_path("/usr/bin/mst");
    const process_request status = command(mst, "status");
    int rc = shell_status(run_command(tools, status));
    if (rc == -1) {
        std::printf("\nERROR: Failed to execute \"%s\"\n", command_text(status).c_str());
        return boot_mode::check_failed;
    }
    if (rc == 127) {
        std::printf("\nERROR: \"%s\" command not found.\n", command_text(status).c_str());
        return boot_mode::enabled_without_tools;
    }

    rc = shell_status(run_command(tools, command(mst, "start")));
    if (rc == -1 || rc == 127) {
        std::printf("\nERROR: Unable to start mst service\n");
        return boot_mode::check_failed;
    }

    rc = shell_status(run_command(tools, installed_tool_probe()));
    if (rc == -1 || rc == 127)
        return boot_mode::enabled_without_tools;

    return boot_mode::enabled;
}
