// Entry: the command line, the banner, the run lock, the Secure Boot check, the event log and one mode.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "app/burn_pool.h"
#include "app/command_line.h"
#include "app/discover_hw.h"
#include "app/mode_end.h"
#include "app/report_update.h"
#include "app/result_output.h"
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

// Runs the Secure Boot check and shows its outcome; why it refuses the run, nothing when it does not.
std::optional<std::string> check_secure_boot(const options &opts, tool_runner &tools, boot_state &boot)
{
    switch (get_boot_mode(tools)) {
    case boot_mode::disabled: print_message(opts, "SecureBoot is disabled.\n"); return std::nullopt;
    case boot_mode::enabled:
        print_message(opts, "SecureBoot is enabled.\n");
        boot.installed_tool = true;
        return std::nullopt;
    case boot_mode::enabled_without_tools:
        print_message(opts,
                      "SecureBoot is enabled. mst and flint tools are not available/installed for firmware flash.\n");
        return "Secure Boot is enabled and the installed mst and flint tools are not available";
    case boot_mode::check_failed: print_message(opts, "Unable to determine the boot mode\n"); break;
    }
    return "the Secure Boot state could not be determined";
}

mode_end run_mode_of(run_mode mode, run_context &ctx)
{
    switch (mode) {
    case run_mode::show_current: return show_current(ctx);
    case run_mode::discover: return discover_HW(ctx);
    case run_mode::update: return read_discovery_report(ctx);
    case run_mode::upgrade: break;
    }
    return fwupg(ctx);
}

result_mode result_mode_of(run_mode mode)
{
    switch (mode) {
    case run_mode::show_current: return result_mode::show_current;
    case run_mode::discover: return result_mode::discover;
    case run_mode::update: return result_mode::update;
    case run_mode::upgrade: break;
    }
    return result_mode::upgrade;
}

const std::string k_see_usage = "; rovan --help shows the usage";

// The command line's rules, then, for a command line a mode allows, the banner, the lock (held by the
// caller to the end of the process), the Secure Boot check, the event log and the mode.
mode_end run(long_options_taken &taken, options &opts, std::optional<run_mode> &mode, run_lock &lock)
{
    if (taken.error) {
        usage(opts);
        return ended(1, result_word::usage, *taken.error + k_see_usage);
    }
    // The words the long options left, for the rules that knew none.
    const int words = static_cast<int>(taken.words.size()) - 1;
    switch (verify_cmd_line_options(words, taken.words.data(), opts)) {
    case cmdline_check::proceed: break;
    case cmdline_check::ignored: return ended(0, result_word::nothing_to_do, "the boot-enable form does nothing");
    case cmdline_check::malformed:
        usage(opts);
        return ended(1, result_word::usage, shape_refusal(words, taken.words.data()) + k_see_usage);
    }
    if (const std::optional<parse_stop> stop = parse_options(words, taken.words.data(), opts))
        return ended(stop->status, result_word::usage,
                     stop->refusal ? std::optional(*stop->refusal + k_see_usage) : std::nullopt);

    print_banner();
    // The mode is known before anything runs, so that a run another run holds off runs no tool at all.
    mode = choose_mode(opts);
    system_tools tools;
    boot_state boot;
    if (!mode) {
        // Refused as ever: after the Secure Boot check, which may refuse first; no lock is taken.
        if (std::optional<std::string> refused = check_secure_boot(opts, tools, boot))
            return ended(1, result_word::fatal, refused);
        usage(opts);
        return ended(1, result_word::usage, combination_refusal(opts) + k_see_usage);
    }

    // A setting that cannot be followed is refused before anything runs.
    const char *jobs_text = std::getenv("ROVAN_BURN_JOBS");
    const std::optional<size_t> jobs = burn_jobs(jobs_text);
    if (!jobs && (*mode == run_mode::upgrade || *mode == run_mode::update) && burns_side_by_side(opts))
        return ended(1, result_word::fatal, burn_jobs_refusal(jobs_text));

    // Two runs must never burn side by side.
    if (std::optional<std::string> busy = lock.take(system_path(k_run_lock)))
        return ended(k_status_locked, result_word::busy, busy);
    if (std::optional<std::string> refused = check_secure_boot(opts, tools, boot))
        return ended(1, result_word::fatal, refused);

    event_log log;
    burn_history history(system_path(k_burn_history));
    run_context ctx {opts, boot, log, tools, history};
    ctx.query_time_limit_s = query_time_limit(std::getenv("ROVAN_QUERY_TIMEOUT"));
    ctx.burn_jobs = jobs.value_or(1);
    // Under the lock no other run is burning: a burn without an end never finished.
    report_unfinished_burns(history, log);
    if (std::optional<std::string> failure = log.open())
        return ended(1, result_word::fatal, failure);
    return run_mode_of(*mode, ctx);
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

    const std::time_t started = std::time(nullptr);
    result_output output(opts.json);
    std::optional<run_mode> mode;
    run_lock lock; // held to the end of the process
    mode_end end = run(taken, opts, mode, lock);

    run_result &result = end.result;
    if (result.reason && !end.reason_said)
        say(*result.reason);
    result.mode = mode ? std::optional(result_mode_of(*mode)) : std::nullopt;
    if (mode == run_mode::discover || mode == run_mode::update)
        result.report = opts.report_path;
    result.started = started;
    result.ended = std::time(nullptr);
    output.write(result);
    // A signal held back during a burn or the queries ends the process as that signal would have.
    if (end.signal != 0)
        act_on_deferred_signal(end.signal);
    return result.status;
}
