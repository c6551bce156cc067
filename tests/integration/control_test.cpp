// Program control through rovan-sim: command-line shapes, the banner, the combination rules, the console
// messages that options silence, the event log that every mode opens, and the Secure Boot check.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>

#include "sim_server.h"

namespace {

using Args = std::vector<std::string>;

const std::string B = "<banner>";
const std::string D = "SecureBoot is disabled.\n";
const std::string U = "USAGE: rovan [ -s ] [ -s [ -F ] ] [ -s [ -f ] ] [ -y ] [ -d ] [ -c ] [ -h ]\n"
                      "\t With no option, interactively upgrade firmware. \n"
                      "\t -s  Silently upgrade firmware.\n"
                      "\t -y  Assume default repsonse for all prompts.\n"
                      "\t -d  Generates NIC Discovery xml file for currently installed version.\n"
                      "\t -c  Display currently installed firmware information.\n"
                      "\t -h  Display this help menu.\n";
const std::string X = "Unknown command line option: ?\n" + U;
const std::string R = "report.xml";
const std::vector<Args> k_modes = {{}, {"-s"}, {"-c"}, {"-d"}, {"-u", "nicdiscovery.xml"}};

const Args k_mokutil = {"/usr/bin/mokutil", "--sb-state"};
const Args k_status = {"/usr/bin/mst", "status"};
const Args k_start = {"/usr/bin/mst", "start"};
const Args k_probe = {"/usr/bin/flint", "--help"};
const std::string k_enabled = "SecureBoot is enabled.\n";
const std::string k_unavailable =
    "SecureBoot is enabled. mst and flint tools are not available/installed for firmware flash.\n";
// What the stand-in mst prints.
const std::string k_not_loaded = "MST PCI module is not loaded\n";
const std::string k_starting = "Starting MST (Mellanox Software Tools) driver set\nLoading MST PCI module - ";
const std::string k_started = k_starting + "Success\nCreate devices\n";
const std::string k_start_failed = k_starting + "Failure\n";

// The output with a leading banner shown as B: 100-byte rule lines around the title and one notice line.
std::string marked(const std::string &out)
{
    static const std::regex banner("\n#{98}\nValtrix Mellanox InfiniBand Online Firmware Upgrade Utility for Linux\n"
                                   "[^\n]+\n#{98}\n\n");
    std::smatch m;
    return std::regex_search(out, m, banner, std::regex_constants::match_continuous) ? B + m.suffix().str() : out;
}

class Control : public ::testing::Test {
protected:
    Control() { server.set_mokutil("SecureBoot disabled"); }
    sim::Result run(const Args &args)
    {
        server.remove_package_file("mstflint.log");
        server.clear_tool_calls();
        return server.run(args);
    }
    // Each mode entry opens the log first, so its presence tells that a mode ran.
    bool mode_ran() const { return server.package_file_exists("mstflint.log"); }
    // Command lines that end alike: refused with this status and whole output,
    // or (status -1) running a mode whose output starts so, with no Secure Boot line after it.
    struct Group { int status; std::string out; std::vector<Args> lines; };
    void check(const std::vector<Group> &groups)
    {
        for (const Group &g : groups)
            for (const Args &args : g.lines) {
                SCOPED_TRACE(::testing::PrintToString(args));
                const sim::Result r = run(args);
                const std::string out = marked(r.out);
                EXPECT_EQ(mode_ran(), g.status < 0);
                if (g.status < 0) {
                    EXPECT_TRUE(out.starts_with(g.out)) << r.out;
                    EXPECT_EQ(out.find("SecureBoot", g.out.size()), std::string::npos) << r.out;
                    continue;
                }
                EXPECT_EQ(r.status, g.status);
                EXPECT_EQ(out, g.out);
                EXPECT_EQ(server.tool_calls().size(), out.starts_with(B) ? 1u : 0u) << "the check follows the banner";
            }
    }
    sim::SimServer server;
};

TEST_F(Control, MalformedLinesHelpAndUnknownOptionsEndBeforeTheBanner)
{
    check({{1, U, {{"-"}, {"upgrade"}, {"/c"}, {"/F", "/s"}, {"-s", "-u", R}, {"-s", "-F", "-y", "-c"},
                   {"eth0", "-bootenable", "pxe"}, {"ens1", "-bootenable", "rom"}, {"eth0", "-bootEnable", "rom"},
                   {"-c", std::string(4096, 'r')}, {"-h"}, {"-hs"}, {"-h", "-s"}}},
           {0, "", {{"eth0", "-bootenable", "rom"}, {"eth3", "-bootenable", "iscsi"},
                    {"eth", "-bootenable", "disabled"}}},
           {1, X, {{"-x"}, {"-u"}, {"/u"}, {"-cx"}}},
           {1, "", {{"-sh"}, {"-s", "-h"}, {"-sx"}}}});
}

TEST_F(Control, ForbiddenCombinationsEndAfterTheSecureBootCheck)
{
    check({{1, B + D + U, {{"-cy"}, {"-c", "/F"}, {"-Fc"}, {"-fp"}, {"-Fy"}, {"-yc"}, {"-yp"}, {"-pc"}}},
           {1, B, {{"-sc"}, {"-sp"}, {"-sy"}, {"-sd"}, {"-ps"}, {"-Fd"}, {"/d", "/F"}, {"-Fu", R}, {"-yd"},
                   {"-yu", R}, {"-pd"}, {"-pu", R}, {"-cu", R}, {"-du", R}}}});
}

TEST_F(Control, PermittedLinesRunAModeAndSilentReportAndUpdateRunsHideTheSecureBootLine)
{
    check({{-1, B + D, {{}, {"-F"}, {"/F"}, {"-f"}, {"-y"}, {"-p"}, {"-c"}, {"-cc"}, {"-c", "-c"}, {"-i"}, {"-ci"},
                        {"-i", "-c"}, {"-c", std::string(4095, 'r')}}},
           {-1, B, {{"-s"}, {"/s"}, {"-sF"}, {"-sf"}, {"-s", "-F"}, {"/s", "/F"}, {"-d"}, {"/d"}, {"-d", R},
                    {"/d", R}, {"-u", R}, {"/u", R}, {"-su", R}, {"-ureport.xml"}}}});
}

TEST_F(Control, EveryModeAppendsToTheLog)
{
    for (const Args &args : k_modes) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const std::string earlier = "[INFO]      [Mon Jan  1 00:00:00 2024] an earlier run\n" + server.log();
        server.write_package_file("mstflint.log", earlier);
        server.run(args);
        EXPECT_TRUE(server.log().starts_with(earlier));
    }
}

TEST_F(Control, EveryModeStopsWhenTheLogCannotBeOpened)
{
    std::filesystem::create_directory(server.package_dir() + "/mstflint.log");
    const std::regex fatal(R"(FWUPG_ERROR: could not open mstflint\.log \(21\), mstflint,[0-9]+\n)");
    for (const Args &args : k_modes) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const sim::Result r = server.run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(std::regex_match(r.err, fatal)) << r.err;
        EXPECT_TRUE(marked(r.out) == B || marked(r.out) == B + D) << "nothing after the log failure\n" << r.out;
    }
}

TEST_F(Control, EachSecureBootOutcomeShowsItsTextRunsItsCommandsAndGoesOnOrNot)
{
    const std::string not_found = "\nERROR: \"" + server.root() + "/usr/bin/mst status\" command not found.\n";
    const std::string on = "SecureBoot enabled";
    const std::vector<Args> all = {k_mokutil, k_status, k_start, k_probe};
    struct Case {
        const char *what;
        std::optional<std::string> mokutil; // its first line; absent: no such tool
        bool mst, flint; int status_exit, start_exit;
        std::vector<Args> calls;
        std::string shown; // the whole output when refused, its start when the run goes on
    };
    for (const Case &c : std::vector<Case> {
             {"no query tool", std::nullopt, true, true, 0, 0, {}, B + D},
             {"disabled", "SecureBoot disabled", true, true, 0, 0, {k_mokutil}, B + D},
             {"only the first line counts", "SecureBoot disabled\n" + on, true, true, 0, 0, {k_mokutil}, B + D},
             {"enabled in any case", "sEcUrEbOoT eNaBlEd", true, true, 0, 0, all,
              B + k_not_loaded + k_started + k_enabled},
             {"mst failing, not missing", on, true, true, 1, 2, all, B + k_not_loaded + k_start_failed + k_enabled},
             {"no mst", on, false, true, 0, 0, {k_mokutil}, B + not_found + k_unavailable},
             {"mst status not found", on, true, true, 127, 0, {k_mokutil, k_status},
              B + k_not_loaded + not_found + k_unavailable},
             {"no flint", on, true, false, 0, 0, {k_mokutil, k_status, k_start},
              B + k_not_loaded + k_started + k_unavailable},
             {"mst cannot start", on, true, true, 0, 127, {k_mokutil, k_status, k_start},
              B + k_not_loaded + k_start_failed + "\nERROR: Unable to start mst service\n" +
                  "Unable to determine the boot mode\n"},
         }) {
        SCOPED_TRACE(c.what);
        server.set_mokutil(c.mokutil);
        server.set_mst(c.mst, c.status_exit, c.start_exit);
        server.set_installed_flint(c.flint);
        const sim::Result r = run({"-c"});
        const std::string out = marked(r.out);
        const bool goes_on = c.shown.ends_with(D) || c.shown.ends_with(k_enabled);
        EXPECT_EQ(goes_on ? out.substr(0, c.shown.size()) : out, c.shown);
        EXPECT_EQ(server.tool_calls(), c.calls);
        EXPECT_EQ(mode_ran(), goes_on);
        EXPECT_TRUE(goes_on || r.status == 1) << r.status;
    }
}

TEST_F(Control, SilencingOptionsKeepOnlyTheSecureBootChecksOwnErrors)
{
    server.set_mokutil("SecureBoot enabled");
    for (const char *option : {"-s", "-d", "-u"}) {
        const sim::Result r = run({option, R});
        EXPECT_EQ(r.status, 1) << option;
        EXPECT_EQ(marked(r.out), B + "\nERROR: \"" + server.root() + "/usr/bin/mst status\" command not found.\n");
    }
}

// rovan reads the real /usr/bin whatever ROVAN_SYSROOT says; the simulated one
// would refuse the run. -cy is refused right after the check, so no mode runs on the host.
TEST_F(Control, ProductionBinaryIgnoresTheSimulatedRoot)
{
    server.set_mokutil("SecureBoot enabled");
    const sim::Result r = server.run({"-cy"}, "", {}, ROVAN_PROD_BINARY);
    EXPECT_EQ(r.out.find(server.root()), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find(server.root()), std::string::npos) << r.err;
    EXPECT_TRUE(server.tool_calls().empty()) << "rovan ran a stand-in of the simulated root";
    EXPECT_EQ(r.status, 1);
}

} // namespace
