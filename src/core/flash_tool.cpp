// The flash tool's command lines, its burn out of reach of signals, and the search of a failed burn's output.
#include "core/flash_tool.h"

#include <unistd.h>

#include "core/console.h"
#include "core/package_files.h"
#include "platform/fd_write.h"
#include "platform/paths.h"
#include "platform/tools.h"

namespace {
std::string tool_path(const run_context &ctx)
{
    return ctx.boot.installed_tool ? system_path(k_installed_tool) : std::string(k_package_tool);
}
} // namespace

flash_tool_command flash_query_arguments(const run_context &ctx, const std::string &address)
{
    const std::string path = tool_path(ctx);
    return {path, {path, "-d", address, "q"}};
}

flash_tool_command flash_burn_arguments(const run_context &ctx, const std::string &address,
                                        const std::string &image_path)
{
    flash_tool_command cmd {tool_path(ctx), {ctx.boot.installed_tool ? "flint" : "mstflint"}};
    if (ctx.opts.silent_tool())
        cmd.argv.push_back("-s");
    for (const std::string &arg : {std::string("-y"), std::string("-d"), address, std::string("-i"), image_path,
                                   std::string("b")})
        cmd.argv.push_back(arg);
    return cmd;
}

process_request installed_tool_probe()
{
    process_request request;
    request.path = system_path(k_installed_tool);
    request.argv = {request.path, "--help"};
    request.out.to = output_sink::kind::discard;
    return request;
}

burn_outcome run_flash_burn(run_context &ctx, const flash_tool_command &cmd, int capture_fd)
{
    // A burn cut short can leave the adapter without firmware: no Ctrl-C, hang-up or signal to our
    // process group may reach the tool.
    process_request request;
    request.path = cmd.path;
    request.argv = cmd.argv;
    request.empty_stdin = true;
    request.grouping = process_request::group::own_session;
    request.ignores_signals = true;
    // Shown as it comes, on the context's console, and captured.
    request.out = {output_sink::kind::capture, STDOUT_FILENO, {}};
    request.err = {output_sink::kind::capture, STDERR_FILENO, {}};
    request.echo = [&ctx](int fd, std::string_view piece) { return console_write(ctx, fd, piece); };
    if (capture_fd >= 0)
        request.take = [capture_fd](std::string_view piece) { write_all(capture_fd, piece.data(), piece.size()); };
    burn_outcome outcome = ctx.tools.run(request);
    if (outcome.exec_error != 0)
        outcome.exit_code = 1;
    return outcome;
}

process_request psid_mismatch_search(const std::string &output_file)
{
    process_request request;
    request.path = "grep";
    request.argv = {"grep", "-i", "PSID Mismatch", output_file};
    request.out.to = output_sink::kind::discard;
    return request;
}
