// Whole runs for what only they show: where refusals end, the Secure Boot check, silencing and the event log.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>

#include "core/run_result.h"
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
             {.args = {"-h"}, .status = 1, .calls = {}, .shown = U},
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

} // namespace
