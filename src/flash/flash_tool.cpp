// Building the flash tool's burn command line.
#include "flash/flash_tool.h"

#include "core/package_files.h"
#include "platform/paths.h"

flash_burn_command flash_burn_arguments(const run_context &ctx, const std::string &address,
                                        const std::string &image_path)
{
    flash_burn_command cmd;
    if (ctx.boot.installed_tool) {
        cmd.path = system_path(k_installed_tool);
        cmd.argv.push_back("flint");
    } else {
        cmd.path = k_package_tool;
        cmd.argv.push_back("mstflint");
    }
    if (ctx.opts.silent_tool())
        cmd.argv.push_back("-s");
    for (const char *arg : {"-y", "-d"})
        cmd.argv.push_back(arg);
    cmd.argv.push_back(address);
    cmd.argv.push_back("-i");
    cmd.argv.push_back(image_path);
    cmd.argv.push_back("b");
    return cmd;
}
