// The metrics file from the burn history, its atomic replacement, and the units and alert rules beside it.
#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

#include "output_checks.h"
#include "platform/boot_time.h"
#include "report/metrics_file.h"
#include "support.h"

namespace fs = std::filesystem;

// Label values a flash tool could print (quotes, backslashes, line ends, bytes that are not UTF-8), the latest
// end of each burned address with the outcome of a burn just recorded, and a reboot owed to a burn since boot.
TEST(MetricsFile, ShowsTheAdaptersAndTheBurnHistory)
{
    const support::scratch_dir dir;
    const std::string history_path = dir.path + "/history.jsonl";
    std::ofstream(history_path)
        << R"({"event":"burn-end","time":"2024-03-01T10:00:00Z","address":"0000:05:00.0","outcome":"success"})" "\n"
        << "not a record\n"
        << R"({"event":"burn-start","time":"2024-03-02T10:00:00Z","address":"0000:07:00.0","outcome":"success"})" "\n"
        << R"({"event":"burn-end","time":"2024-02-01T10:00:00Z","address":"0000:06:00.0","outcome":"success"})" "\n";
    burn_history history(history_path);
    burn_record burned;
    burned.address = "0000:05:00.0";
    history.append_end(burned, {"not-verified", 0, 2.5});
    const std::time_t boot = 1706000000; // 2024-01-23: the success of 2024-03-01 came after it
    metrics_input in {.adapters = {{"0000:05:00.0", "MT_\"odd\\", "16.35.1000\n", "16.35.2000", true},
                                   {"0000:06:00.0", "MT_\xff", "16.35.2000", "", false}},
                      .queried = 2, .unqueried = 1, .run_time = 1796680870, .run_status = 2, .boot_time = boot};
    const std::string text = metrics_text(in, history.ends());
    const std::string written_end = std::to_string(static_cast<long long>(std::time(nullptr)));
    EXPECT_EQ(std::regex_replace(text, std::regex("#[^\n]*\n"), ""),
              "rovan_adapter_info{address=\"0000:05:00.0\",psid=\"MT_\\\"odd\\\\\",installed=\"16.35.1000\\n\"} 1\n"
              "rovan_adapter_info{address=\"0000:06:00.0\",psid=\"MT_\uFFFD\",installed=\"16.35.2000\"} 1\n"
              "rovan_adapter_update_available{address=\"0000:05:00.0\",psid=\"MT_\\\"odd\\\\\",installed=\"16.35.1000"
              "\\n\",newest=\"16.35.2000\"} 1\n"
              "rovan_adapter_update_available{address=\"0000:06:00.0\",psid=\"MT_\uFFFD\",installed=\"16.35.2000\","
              "newest=\"\"} 0\n"
              "rovan_adapters{state=\"queried\"} 2\nrovan_adapters{state=\"unqueried\"} 1\n"
              "rovan_burn_last_timestamp_seconds{address=\"0000:05:00.0\",outcome=\"not-verified\"} " + written_end +
              "\nrovan_burn_last_timestamp_seconds{address=\"0000:06:00.0\",outcome=\"success\"} 1706781600\n"
              "rovan_reboot_required 1\nrovan_run_timestamp_seconds 1796680870\nrovan_run_status 2\n")
        << "(the recorded burn may have crossed a second: run again)";
    in.boot_time = 1709300000; // 2024-03-01T13:33:20Z: every success came before it
    EXPECT_NE(metrics_text(in, history.ends()).find("\nrovan_reboot_required 0\n"), std::string::npos);

    if (!checks::installed("promtool"))
        GTEST_SKIP() << "SKIPPED the promtool check: promtool (Debian's prometheus) is not installed";
    std::ofstream(dir.path + "/rovan.prom") << text;
    EXPECT_EQ(checks::metrics_errors(dir.path + "/rovan.prom"), "") << text;
}

// The boot time, from the simulated server's /proc/stat as rovan-sim reads it; a line it cannot read gives none.
TEST(MetricsFile, BootTimeComesFromProcStat)
{
    sim::SimServer server;
    server.set_boot_time(1706000000);
    setenv("ROVAN_SYSROOT", server.root().c_str(), 1);
    EXPECT_EQ(boot_time(), 1706000000);
    std::ofstream(server.root() + "/proc/stat") << "cpu  1 0 1 100\nbtime 1706000000x\n";
    EXPECT_EQ(boot_time(), std::nullopt);
    unsetenv("ROVAN_SYSROOT");
}

// The file is replaced whole with its own mode; a write that fails leaves the earlier file and no temporary one.
TEST(MetricsFile, ReplacesTheFileAtomically)
{
    const support::scratch_dir dir;
    const std::string path = dir.path + "/rovan.prom";
    const metrics_input in {.adapters = {{"0000:05:00.0", "MT_0000000080", "16.35.1000", "16.35.2000", true}}};
    const mode_t umask_before = umask(077);
    const std::optional<std::string> written = write_metrics_file(path, in, burn_history());
    umask(umask_before);
    ASSERT_EQ(written, std::nullopt);
    const std::string old = support::read_text(path);
    EXPECT_EQ(old, metrics_text(in, {}));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0644)) << "node_exporter's user must read it";

    // A file-size limit below the text makes the write fail part way, as a full disk would.
    rlimit before {};
    getrlimit(RLIMIT_FSIZE, &before);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &small);
    const std::optional<std::string> failed = write_metrics_file(path, {.queried = 7}, burn_history());
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(failed, "cannot write " + path + ": File too large");
    EXPECT_EQ(support::read_text(path), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 1) << "a temporary file was left";
}

// systemd-analyze checks the units over a root of this test's own, where the package's rovan exists, with the
// host's system units beside them; promtool checks the alert rules the README shows.
TEST(Deploy, TimerUnitsAndAlertRulesPassTheirCheckers)
{
    if (!checks::installed("promtool") || !checks::installed("systemd-analyze"))
        GTEST_SKIP() << "SKIPPED: promtool (Debian's prometheus) or systemd-analyze (systemd) is not installed";
    const std::string deploy = ROVAN_SOURCE_DIR "/deploy";
    const checks::program_result rules =
        checks::run_program({"promtool", "check", "rules", deploy + "/prometheus/rovan-alerts.yml"});
    EXPECT_EQ(rules.status, 0) << rules.output;

    const support::scratch_dir root;
    fs::create_directories(root.path + "/etc/systemd/system");
    fs::create_directories(root.path + "/usr/lib/systemd");
    fs::copy("/usr/lib/systemd/system", root.path + "/usr/lib/systemd/system",
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    for (const char *unit : {"rovan-inventory.service", "rovan-inventory.timer"})
        fs::copy_file(deploy + "/systemd/" + unit, root.path + "/etc/systemd/system/" + unit);
    fs::create_directories(root.path + "/opt/rovan/package");
    std::ofstream(root.path + "/opt/rovan/package/rovan") << "#!/bin/sh\n";
    fs::permissions(root.path + "/opt/rovan/package/rovan", fs::perms(0755));
    const checks::program_result verify = checks::run_program({"systemd-analyze", "verify", "--man=no",
        "--root=" + root.path, "rovan-inventory.service", "rovan-inventory.timer"});
    EXPECT_EQ(verify.status, 0) << verify.output;
    EXPECT_EQ(verify.output, "") << "systemd-analyze warned";
}
