// Whole runs for what only they show: where refusals end, the Secure Boot check, silencing and the event log.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <regex>

#include <nlohmann/json.hpp>
#include <sys/file.h>
#include <unistd.h>

#include "core/run_result.h"
#include "output_checks.h"
#include "sim_server.h"

namespace {

using Args = std::vector<std::string>;
const std::string B = "<banner>", D = "SecureBoot is disabled.\n", k_enabled = "SecureBoot is enabled.\n";

// The output with its leading banner (98-byte rule lines around the title and a notice line) shown as B.
std::string marked(const std::string &out)
{
    static const std::regex banner("^\n#{98}\nValtrix Mellanox InfiniBand Online Firmware Upgrade Utility for Linux"
                                   "\n[^\n]+\n#{98}\n\n");
    return std::regex_replace(out, banner, B, std::regex_constants::format_first_only);
}

// The command line is refused before the banner and the Secure Boot check, a combination no mode allows after
// them; then each outcome of the check, which the silencing options cut to the check's own errors.
TEST(Control, EndsWhereEachRefusalAndSecureBootOutcomeSays)
{
    sim::SimServer server;
    const std::string U = server.run({"-h"}).out, on = "SecureBoot enabled";
    ASSERT_TRUE(U.starts_with("USAGE: rovan ")) << U;
    const std::string not_found = "\nERROR: \"" + server.root() + "/usr/bin/mst status\" command not found.\n",
                      unavailable = "SecureBoot is enabled. mst and flint tools are not available/installed for "
                                    "firmware flash.\n";
    // What the stand-in mst prints.
    const std::string not_loaded = "MST PCI module is not loaded\n", starting = not_loaded +
        "Starting MST (Mellanox Software Tools) driver set\nLoading MST PCI module - ", started = starting +
        "Success\nCreate devices\n";
    const Args mokutil = {"/usr/bin/mokutil", "--sb-state"}, status = {"/usr/bin/mst", "status"},
               start = {"/usr/bin/mst", "start"}, probe = {"/usr/bin/flint", "--help"};
    struct Case {
        Args args = {"-c"};
        std::optional<std::string> mokutil = "SecureBoot disabled"; // its first line; absent: no such tool
        int mst_status = 0, mst_start = 0, status = 0; // the service tool's exit statuses (-1: none), the run's
        bool flint = true;
        std::vector<Args> calls = {{"/usr/bin/mokutil", "--sb-state"}};
        std::string shown; // the whole output; its start when a mode runs after the check's line
    };
    for (const Case &c : std::vector<Case> {
             {.args = {"upgrade"}, .status = 1, .calls = {}, .shown = U},
             {.args = {"-s", "--help"}, .calls = {}, .shown = U},
             {.args = {"-c", "--version"}, .calls = {}, .shown = "rovan " + std::string(program_version()) +
              "\nresult schema 1\n"},
             {.args = {"-c", "--prometheus"}, .status = 1, .calls = {}, .shown = U},
             {.args = {"-x"}, .status = 1, .calls = {}, .shown = "Unknown command line option: ?\n" + U},
             {.args = {"eth0", "-bootenable", "rom"}, .calls = {}, .shown = ""},
             {.args = {"-cy"}, .status = 1, .shown = B + D + U},
             {.args = {"-sc"}, .status = 1, .shown = B},
             {.mokutil = std::nullopt, .calls = {}, .shown = B + D},
             {.mokutil = "SecureBoot disabled\n" + on, .shown = B + D}, // only the first line counts
             {.mokutil = "sEcUrEbOoT eNaBlEd", .calls = {mokutil, status, start, probe},
              .shown = B + started + k_enabled},
             {.mokutil = on, .mst_status = 1, .mst_start = 2, .calls = {mokutil, status, start, probe},
              .shown = B + starting + "Failure\n" + k_enabled}, // failing, not missing
             {.mokutil = on, .mst_status = 127, .status = 1, .calls = {mokutil, status},
              .shown = B + not_loaded + not_found + unavailable},
             {.args = {"-u", "r.xml"}, .mokutil = on, .mst_status = -1, .status = 1, .shown = B + not_found},
             {.args = {"-d"}, .mokutil = on, .status = 1, .flint = false, .calls = {mokutil, status, start},
              .shown = B + started},
             {.mokutil = on, .mst_start = 127, .status = 1, .calls = {mokutil, status, start}, .shown = B + starting +
              "Failure\n\nERROR: Unable to start mst service\nUnable to determine the boot mode\n"}}) {
        SCOPED_TRACE(::testing::PrintToString(c.args) + " " + c.mokutil.value_or("no mokutil"));
        server.set_mokutil(c.mokutil);
        server.set_mst(c.mst_status >= 0, c.mst_status, c.mst_start);
        server.set_installed_flint(c.flint);
        server.remove_package_file("mstflint.log");
        server.clear_tool_calls();
        const sim::Result r = server.run(c.args);
        const bool goes_on = c.shown.ends_with(D) || c.shown.ends_with(k_enabled);
        EXPECT_EQ(goes_on ? marked(r.out).substr(0, c.shown.size()) : marked(r.out), c.shown);
        EXPECT_EQ(server.tool_calls(), c.calls);
        EXPECT_EQ(server.package_file_exists("mstflint.log"), goes_on) << "every mode opens the log first";
        EXPECT_EQ(r.status, c.status);
    }
}

TEST(Control, EveryModeAppendsToTheLogAndStopsWithoutIt)
{
    sim::SimServer server;
    server.set_mokutil("SecureBoot disabled");
    const std::string earlier = "[INFO]      [Mon Jan  1 00:00:00 2024] an earlier run\n";
    const std::regex fatal(R"(FWUPG_ERROR: could not open mstflint\.log \(21\), mstflint,[0-9]+\n)"
                           "rovan: cannot open mstflint.log: Is a directory\n");
    for (const Args &args : std::vector<Args> {{}, {"-s"}, {"-c"}, {"-d"}, {"-u", "nicdiscovery.xml"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        server.write_package_file("mstflint.log", earlier);
        server.run(args);
        EXPECT_TRUE(server.log().starts_with(earlier)) << server.log();
        server.remove_package_file("mstflint.log");
        std::filesystem::create_directory(server.package_dir() + "/mstflint.log");
        const sim::Result r = server.run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(std::regex_match(r.err, fatal)) << r.err;
        EXPECT_TRUE(marked(r.out) == B || marked(r.out) == B + D) << "nothing after the log failure\n" << r.out;
        server.remove_package_file("mstflint.log");
    }
}

// rovan reads the real /usr/bin whatever ROVAN_SYSROOT says; -cy is refused right after the check, so no mode runs.
TEST(Control, ProductionBinaryIgnoresTheSimulatedRoot)
{
    sim::SimServer server;
    server.set_mokutil("SecureBoot enabled"); // would refuse the run
    const sim::Result r = server.run({"-cy"}, "", {}, ROVAN_PROD_BINARY);
    EXPECT_EQ((r.out + r.err).find(server.root()), std::string::npos) << r.out << r.err;
    EXPECT_TRUE(server.tool_calls().empty()) << "rovan ran a stand-in of the simulated root";
    EXPECT_EQ(r.status, 1);
}

// A Mellanox port with the board's one image 16.35.2000, its Base MAC its own (so that no two are one adapter).
void add_port(sim::SimServer &server, sim::FlashDevice dev)
{
    server.add_function({.address = dev.address});
    dev.base_mac = "b8cef60000" + dev.address.substr(5, 2);
    server.add_flash_device(dev);
    server.add_image({"fw-16.35.2000.bin", "MT_0000000080", "16.35.2000"});
    server.set_catalog({{}});
}

// One run of every mode and outcome with --json: standard output is one document that passes the schema, with
// the status, the result and the reason, which standard error gives too; the case checks the rest.
TEST(Control, EveryRunEndsWithItsResultDocument)
{
    using json = nlohmann::json;
    const std::string A = "0000:05:00.0", v1 = "16.35.1000", prom = "/rovan.prom";
    int held = -1; // the run lock, held by the test for the busy run
    struct Case {
        Args args;
        std::function<void(sim::SimServer &)> setup;
        int status;
        std::string result, reason; // the reason's start; empty: null
        std::function<void(const json &, const sim::Result &, const sim::SimServer &)> check = {};
        std::string input = "";
        std::map<std::string, std::string> env = {};
    };
    const auto burn = [](const json &doc) { return doc["adapters"][0]["burn"]; };
    for (const Case &c : std::vector<Case> {
             {{"-cd"}, {}, 1, "usage", "-c and -d cannot be combined; rovan --help shows the usage"},
             {{"-s"}, [&](auto &s) { add_port(s, {.address = A, .fw_version = v1, .burn_exit = 1}); }, 2, "failed",
              "the burn of " + A + " failed: status 1: -E- Burning FW image failed: flash write error on " + A,
              [&](const json &doc, auto &, auto &) {
                  EXPECT_EQ(burn(doc)["outcome"], "failed");
                  EXPECT_EQ(burn(doc)["tool_status"], 1);
                  EXPECT_EQ(burn(doc)["image"], "./nic_fw/fw-16.35.2000.bin");
              }},
             {{"-s"}, [&](auto &s) { add_port(s, {.address = A, .fw_version = v1, .burn_keeps_old = true}); }, 2,
              "failed", "the burn of " + A + " was not verified: the adapter reports 16.35.1000 after the burn",
              [&](const json &doc, auto &, auto &) { EXPECT_EQ(burn(doc)["outcome"], "not-verified"); }},
             // The metrics after a burn, with the version it left and the reboot it owes (their form, checked by
             // promtool: MetricsFile.ShowsTheAdaptersAndTheBurnHistory).
             {{"-s", "--prometheus", "." + prom}, [&](auto &s) { add_port(s, {.address = A, .fw_version = v1});
                 s.set_boot_time(1706000000); }, 0, "ok", "", [&](const json &doc, auto &, auto &s) {
                  EXPECT_EQ(burn(doc)["tool_output"].back(), "Restoring signature                     - OK");
                  const std::string metrics = s.read_package_file(prom);
                  for (const std::string &sample : std::vector<std::string> {
                           "rovan_adapter_update_available{address=\"" + A + "\",psid=\"MT_0000000080\",installed=\""
                           "16.35.2000\",newest=\"16.35.2000\"} 0\n", "rovan_adapters{state=\"queried\"} 1\n",
                           "rovan_reboot_required 1\n", "rovan_run_status 0\n"})
                      EXPECT_NE(metrics.find(sample), std::string::npos) << sample << metrics;
              }},
             {{"-s"}, [&](auto &s) { add_port(s, {.address = A}); }, 1, "nothing-to-do",
              "every adapter has the newest firmware already",
              [](const json &doc, auto &, auto &) { EXPECT_EQ(doc["adapters"][0]["decision"], "skip-current"); }},
             {{}, [&](auto &s) { add_port(s, {.address = A, .fw_version = v1}); }, 3, "quit",
              "the operator quit at the prompt", [](const json &, const sim::Result &r, auto &) {
                  EXPECT_NE(r.err.find("y/n/q (y):"), std::string::npos) << "the prompt goes to standard error";
              }, "q\n"},
             {{"-s"}, {}, 1, "failed", "no Mellanox adapter found"},
             {{"-d"}, [&](auto &s) { add_port(s, {.address = A, .query_ms = 30000}); }, 2, "failed",
              "no adapter could be queried", [&](const json &doc, const sim::Result &r, auto &) {
                  EXPECT_EQ(doc["unqueried"], json::parse(R"([{"address":")" + A + R"(","reason":"timeout"}])"));
                  EXPECT_EQ(doc["adapters"][0]["decision"], "unqueried");
                  EXPECT_EQ(doc["report"], "nicdiscovery.xml");
                  EXPECT_NE(r.err.find("rovan: " + A + " was not read: no answer from the flash tool within 1 s\n"),
                            std::string::npos);
              }, "", {{"ROVAN_QUERY_TIMEOUT", "1"}}},
             {{"-c"}, [&](auto &s) { add_port(s, {.address = A}); s.remove_package_file("nic_fw/mstflint"); }, 0, "ok",
              "", [](const json &doc, auto &, auto &) { EXPECT_EQ(doc["unqueried"][0]["reason"], "tool-missing"); }},
             {{"-c"}, [&](auto &s) { add_port(s, {.address = A, .query_fails = true}); }, 0, "ok", "",
              [](const json &doc, auto &, auto &) { EXPECT_EQ(doc["unqueried"][0]["reason"], "status 1"); }},
             {{"-d"}, [&](auto &s) { add_port(s, {.address = A}); s.remove_catalog(); }, 1, "fatal",
              "cannot read nic_fw/NICFWData.xml: No such file or directory"},
             {{"-d", "none/r.xml"}, [&](auto &s) { add_port(s, {.address = A}); }, 2, "failed",
              "cannot write the report none/r.xml: "},
             {{"-u", "r.xml"}, {}, 2, "failed", "cannot read the report r.xml: No such file or directory"},
             // Refused before anything runs, in each mode that burns side by side.
             {{"-s"}, {}, 1, "fatal", "ROVAN_BURN_JOBS is \"0\", not a positive whole number of burns at a time",
              [](auto &, auto &, auto &s) { EXPECT_TRUE(s.tool_calls().empty()); }, "", {{"ROVAN_BURN_JOBS", "0"}}},
             {{"-u", "r.xml"}, {}, 1, "fatal", "ROVAN_BURN_JOBS is \"2x\"", {}, "", {{"ROVAN_BURN_JOBS", "2x"}}},
             {{"-y"}, {}, 1, "fatal", "ROVAN_BURN_JOBS is \"\"", {}, "", {{"ROVAN_BURN_JOBS", ""}}},
             // Every action of a report -d wrote, in address order: upgrade (before rewrite), rewrite (before
             // downgrade), downgrade, and Nothing for a board without image.
             {{"-u", "nicdiscovery.xml"}, [&](auto &s) {
                  for (const auto &[address, version] : std::vector<std::pair<std::string, std::string>> {
                           {A, "16.34.9000"}, {"0000:06:00.0", "16.35.2000"}, {"0000:07:00.0", "16.36.0"}})
                      add_port(s, {.address = address, .fw_version = version});
                  add_port(s, {.address = "0000:08:00.0", .psid = "MT_OTHER"});
                  s.set_catalog({{}, {.rom = "16.34.9000", .fwFile = "fw-16.34.9000.bin"}}, true);
                  ASSERT_EQ(s.run({"-d"}).status, 0);
                  const std::string report = s.read_package_file("nicdiscovery.xml");
                  EXPECT_TRUE(std::regex_search(report, std::regex(R"(="upgrade"[\s\S]*="rewrite"[\s\S]*="downgrade")"
                                                                   R"([\s\S]*="Nothing")"))) << report;
              }, 0, "ok", "", [](const json &doc, auto &, auto &) {
                  std::vector<std::string> decisions, outcomes;
                  for (const json &adapter : doc["adapters"]) {
                      decisions.push_back(adapter["decision"]);
                      outcomes.push_back(adapter["burn"].is_null() ? "-" : adapter["burn"]["outcome"]);
                  }
                  EXPECT_EQ(decisions, std::vector<std::string>({"burn", "burn", "burn", "no-image"}));
                  EXPECT_EQ(outcomes, std::vector<std::string>({"success", "success", "success", "-"}));
                  EXPECT_TRUE(doc["reboot_required"]);
              }},
             {{"-c"}, [&](auto &s) {
                  const std::string lock = s.root() + "/run/rovan.lock", pid = std::to_string(getpid());
                  held = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
                  ASSERT_TRUE(held >= 0 && write(held, pid.data(), pid.size()) > 0 && flock(held, LOCK_EX) == 0);
              }, 4, "busy", "another run (pid " + std::to_string(getpid()) + ") holds "}}) {
        SCOPED_TRACE(::testing::PrintToString(c.args) + " " + c.result + " " + c.reason);
        sim::SimServer server;
        if (c.setup)
            c.setup(server);
        Args args = c.args;
        args.insert(args.begin() + (args.empty() ? 0 : 1), "--json");
        const sim::Result r = server.run(args, c.input, c.env);
        if (held >= 0)
            close(held);
        held = -1;
        EXPECT_EQ(r.status, c.status);
        ASSERT_TRUE(r.out.ends_with("}\n") && r.out.find('\n') + 1 == r.out.size()) << r.out;
        EXPECT_EQ(checks::result_schema_errors(r.out), "") << r.out;
        const json doc = json::parse(r.out);
        EXPECT_EQ(doc["status"], c.status);
        EXPECT_EQ(doc["result"], c.result);
        EXPECT_EQ(doc["mode"].is_null(), c.result == "usage");
        if (c.reason.empty()) {
            EXPECT_TRUE(doc["reason"].is_null()) << doc["reason"];
        } else {
            const std::string reason = doc["reason"].is_string() ? doc["reason"].get<std::string>() : "";
            EXPECT_TRUE(reason.starts_with(c.reason)) << reason;
            EXPECT_NE(r.err.find("rovan: " + reason + "\n"), std::string::npos) << r.err;
        }
        if (c.check)
            c.check(doc, r, server);
    }
}

} // namespace
