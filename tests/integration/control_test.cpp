// Program control through rovan-sim: command-line shapes, the banner, the combination rules, the console
// messages that options silence, the event log that every mode opens, and the Secure Boot check.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

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
    // A port whose newer image a silent run burns.
    void add_burnable_port()
    {
        server.add_function({.address = "0000:05:00.0"});
        server.add_flash_device({.address = "0000:05:00.0", .fw_version = "16.35.1000"});
        server.add_image({"fw.bin", "MT_0000000080", "16.35.2000"});
        server.set_catalog({{.fwFile = "fw.bin"}});
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

// While a run burns, a run in any mode is refused at once; after it, runs go on, the lock file left in place.
TEST_F(Control, OneRunAtATime)
{
    add_burnable_port();
    const std::string lock = server.root() + "/run/lock/rovan.lock";
    server.hold_burns(true);
    const pid_t first = server.start({"-s"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (server.tool_calls().empty() || server.tool_calls().back().back() != "b") {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the first run never burned";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (const Args &args : k_modes) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const sim::Result r = run(args);
        EXPECT_EQ(r.status, 4);
        EXPECT_EQ(r.err,
                  "rovan: another run (pid " + std::to_string(first) + ") holds " + lock + "; nothing was done\n");
        EXPECT_EQ(server.tool_calls(), std::vector<Args> {k_mokutil});
        EXPECT_FALSE(mode_ran());
    }
    server.hold_burns(false);
    EXPECT_EQ(server.finish(first).status, 0);
    EXPECT_EQ(run({"-c"}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(lock));

    std::filesystem::remove(lock);
    std::filesystem::create_directory(lock);
    const sim::Result r = run({"-c"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "rovan: cannot lock " + lock + ": Is a directory\n");
}

// A burn that started and never ended is reported by the next run, and by that one only.
TEST_F(Control, UnfinishedBurnIsReportedOnce)
{
    const std::string history = server.root() + "/var/lib/rovan/history.jsonl";
    const std::string keys = R"("pid":4242,"address":"0000:05:00.0","psid":"MT_1","mac":"b8cef6000510",)"
                             R"("image":"./nic_fw/fw.bin","from":"16.32.1010","to":"16.35.2000")";
    const std::string start = R"({"event":"burn-start","time":"2026-12-07T21:59:53Z",)" + keys + "}\n";
    const std::string ended = R"({"event":"burn-end","time":"2026-12-07T22:00:00Z",)" + keys +
                              R"(,"outcome":"success","tool_status":0,"seconds":7})" + "\n";
    std::filesystem::create_directories(server.root() + "/var/lib/rovan");
    // A finished burn, lines that are no records, a record without its image, then the unfinished burn.
    std::ofstream(history) << start << ended << "not json\n[1]\n"
                           << std::regex_replace(start, std::regex(R"("image":"[^"]*",)"), "") << start;
    const std::string warning = "rovan: WARNING: the burn of ./nic_fw/fw.bin into 0000:05:00.0 started "
                                "2026-12-07T21:59:53Z by pid 4242 did not finish; check the adapter with "
                                "'rovan -c' before rebooting\n";
    add_burnable_port();
    EXPECT_EQ(run({"-c"}).err, warning);
    // After the tag and the 24-character time stamp.
    const size_t at = server.log().find("] " + warning);
    EXPECT_TRUE(at != std::string::npos && server.log().compare(at - 37, 13, "[WARNING]   [") == 0) << server.log();
    EXPECT_EQ(run({"-c"}).err, "");
    EXPECT_EQ(server.log().find("WARNING"), std::string::npos) << server.log();
    std::stringstream records;
    records << std::ifstream(history).rdbuf();
    EXPECT_TRUE(records.str().ends_with(keys + R"(,"outcome":"interrupted","tool_status":null,"seconds":null})" + "\n"))
        << records.str();
}

// A history that cannot be written costs one notice, never the burn.
TEST_F(Control, UnwritableHistoryNeverBlocksABurn)
{
    add_burnable_port();
    server.write_package_file("../var/lib/rovan", "a file where the history's directory belongs");
    const sim::Result r = run({"-s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "rovan: the burn history cannot be written: Not a directory\n");
    EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "16.35.2000");
}

} // namespace
