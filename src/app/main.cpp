// Entry: the command line, the banner, the run lock, the Secure Boot check and the dispatch to one mode.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command_line.h"
#include "app/discover_hw.h"
#include "app/report_update.h"
#include "app/run_lock.h"
#include "app/secure_boot.h"
#include "app/show_current.h"
#include "app/upgrade_run.h"
#include "core/burn_history.h"
#include "core/console.h"
#include "core/event_log.h"
#include "core/flash_tool.h"
#include "platform/paths.h"
#include "platform/signals.h"
#include "platform/tools.h"

namespace {

void print_banner()
{
    const std::string rule(98, '#');
    std::printf("\n%s\n", rule.c_str());
    std::printf("%s\n", "Valtrix Mellanox InfiniBand Online Firmware Upgrade Utility for Linux\n"
                        "Copyright (C) Valtrix. Burns firmware on adapters of PCI vendor 15B3; run as root.");
    std::printf("%s\n\n", rule.c_str());
    std::fflush(stdout);
}

// Runs the Secure Boot check and shows its outcome; false when it refuses the run.
bool check_secure_boot(const options &opts, tool_runner &tools, boot_state &boot)
{
    switch (get_boot_mode(tools)) {
    case boot_mode::disabled: print_message(opts, "SecureBoot is disabled.\n"); return true;
    case boot_mode::enabled:
        print_message(opts, "SecureBoot is enabled.\n");
        boot.installed_tool = true;
        return true;
    case boot_mode::enabled_without_tools:
        print_message(opts,
                      "SecureBoot is enabled. mst and flint tools are not available/installed for firmware flash.\n");
        return false;
    case boot_mode::check_failed: print_message(opts, "Unable to determine the boot mode\n"); return false;
    }
    return false;
}

int run_mode_of(run_mode mode, run_context &ctx)
{
    switch (mode) {
    case run_mode::show_current: return show_current(ctx);
    case run_mode::discover: return discover_HW(ctx);
    case run_mode::update: return read_discovery_report(ctx);
    case run_mode::upgrade: break;
    }
    return fwupg(ctx);
}

} // namespace

int main(int argc, char **argv)
{
    // A console reader that goes away (a closed "| less", a dropped session)
    // costs only the console: the burns, their log entries and the removal
    // of their capture files go on.
    std::signal(SIGPIPE, SIG_IGN);

    options opts;
    long_options_taken taken = take_long_options(argc, argv, opts);
    // Asked for help or the version, a run does nothing else: no banner, no lock, no log.
    switch (taken.request) {
    case long_request::help: usage(options {}); return 0;
    case long_request::version: std::fputs(version_text().c_str(), stdout); return 0;
    case long_request::none: break;
    }
    if (taken.error) {
        std::fprintf(stderr, "rovan: %s; rovan --help shows the usage\n", taken.error->c_str());
        usage(opts);
        return 1;
    }
    // The words the long options left, for the rules that knew none.
    const int words = static_cast<int>(taken.words.size()) - 1;
    switch (verify_cmd_line_options(words, taken.words.data(), opts)) {
    case cmdline_check::proceed: break;
    case cmdline_check::ignored: return 0;
    case cmdline_check::malformed: usage(opts); return 1;
    }
    if (const std::optional<int> status = parse_options(words, taken.words.data(), opts))
        return *status;

    print_banner();

    // The mode is known before anything runs, so that a run another run holds off runs no tool at all.
    const std::optional<run_mode> mode = choose_mode(opts);
    system_tools tools;
    boot_state boot;
    if (!mode) {
        // Refused as ever: after the Secure Boot check, which may refuse first; no lock is taken.
        if (check_secure_boot(opts, tools, boot))
            usage(opts);
        return 1;
    }

    // Held to the end of the process: two runs must never burn side by side.
    run_lock lock;
    if (!lock.take(system_path(k_run_lock)))
        return k_status_locked;
    if (!check_secure_boot(opts, tools, boot))
        return 1;

    event_log log;
    run_context ctx {opts, boot, log, tools};
    ctx.query_time_limit_s = query_time_limit(std::getenv("ROVAN_QUERY_TIMEOUT"));
    ctx.history = burn_history(system_path(k_burn_history));
    // Under the lock no other run is burning: a burn without an end never finished.
    report_unfinished_burns(ctx.history, log);
    const int status = run_mode_of(*mode, ctx);
    // A signal held back during a burn or the queries ends the process as that signal would have.
    if (ctx.outcome.deferred_signal != 0)
        act_on_deferred_signal(ctx.outcome.deferred_signal);
    return status;
}
