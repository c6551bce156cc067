// Whole upgrade runs: answers and modes, the image and tool burned, burns that go wrong, what may happen while a
// burn goes on (a signal, a second run), and the run lock and burn history around them.
#include <gtest/gtest.h>

#include <csignal>

#include <sys/stat.h>

#include "support.h"

using namespace support;
namespace fs = std::filesystem;

namespace {

const std::string A = "0000:05:00.0", B = "0000:06:00.0", v1 = "16.35.1000", v2 = "16.35.2000";
const std::string k_errors = "\nNIC firmware update completed with errors. \n";
const std::string k_reboot = "\n\nPlease Reboot node for new image to be loaded into silicon\n\n";
const std::string k_yes = "Would you like to flash the firmware?\n y/n/q (y):";
const std::string k_selected = "[INFO]     \nThe Firmware Upgrade will take several minutes.  Please be patient.\n\n"
                               "[INFO]     \nSelecting ConnectX-5 EN MAC: b8cef6000000 \n\n";

std::string burn(const std::string &port, bool silent = false, const std::string &image = "fw-16.35.2000.bin",
                 const std::string &tool = "mstflint")
{
    return tool + (silent ? " -s" : "") + " -y -d " + port + " -i ./nic_fw/" + image + " b";
}

std::string error(const std::string &text) { return "[ERROR]    " + text + "\n\n"; }

// The failure entry of a burn into port A, naming the tool's command line.
std::string failed(bool silent = false, const std::string &what = "Upgrade failed")
{
    return error(what + "\n ./nic_fw/" + burn(A, silent));
}

// Port A as given (none when its address is "none"), port B when b_installed is given (a MAC with separators),
// the board's one image 16.35.2000.
void ports(sim::SimServer &server, sim::FlashDevice a, const std::string &b_installed = "",
           const sim::CatalogEntry &entry = {})
{
    if (a.address != "none") {
        a.address = A;
        server.add_port(a);
    }
    if (!b_installed.empty())
        server.add_port({.address = B, .fw_version = b_installed, .base_mac = "00:02:c9:12:34:56"});
    server.add_image({"fw-16.35.2000.bin", "MT_0000000080", v2});
    server.set_catalog({entry});
}

// Ports 05, 06, ... of one board, each its own adapter, installed v1: the first burns for first_s seconds (and
// sends signal_in_verify as it is verified), the others for others_s, the third fails.
std::vector<std::string> many_ports(sim::SimServer &server, int count, int first_s, int signal_in_verify = 0,
                                    int others_s = 0)
{
    std::vector<std::string> ports;
    for (int i = 0; i < count; ++i) {
        char address[32];
        std::snprintf(address, sizeof address, "0000:%02x:00.0", 5 + i);
        server.add_port({.address = ports.emplace_back(address), .fw_version = v1,
                         .base_mac = "b8cef600000" + std::to_string(i), .burn_exit = i == 2 ? 3 : 0,
                         .burn_seconds = i == 0 ? first_s : others_s, .signal_in_verify = i == 0 ? signal_in_verify : 0});
    }
    server.add_image({"fw-16.35.2000.bin", "MT_0000000080", v2});
    server.set_catalog({{}});
    return ports;
}

// The calls in order of their text: burns side by side start in any order.
Calls sorted(Calls calls)
{
    std::ranges::sort(calls);
    return calls;
}

// The command run as uid and gid 65534.
sim::Result as_nobody(const sim::SimServer &server, std::vector<std::string> command)
{
    command.insert(command.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups"});
    return server.run(command, "", {}, "/usr/bin/setpriv");
}

// The burn history with each record's time, pid and duration as _.
std::string history(const sim::SimServer &server)
{
    return std::regex_replace(server.read_package_file("../var/lib/rovan/history.jsonl"),
                              std::regex(R"re("(time|pid|seconds)":("[^"]*"|[0-9.]+))re"), "\"$1\":_");
}

} // namespace

TEST(UpgradeRun, AnswersModesAndFailuresDecideWhatIsBurnedShownAndLogged)
{
    struct Case {
        std::vector<std::string> args;
        std::string input;
        sim::FlashDevice a;
        std::string b; // port B's installed version; no port B when empty
        int status;
        std::vector<std::string> commands; // every call but the queries
        std::string tail;                  // the end of the output
        size_t questions = 0, latest = 0;  // prompts shown, "latest firmware" warnings logged
        std::string log = "";              // when given, the whole log without times
        sim::CatalogEntry entry = {};
        std::function<void(sim::SimServer &)> setup = {};
        std::string outcome = ""; // when given, how the history's last record ends
    };
    const sim::FlashDevice old {.fw_version = v1};
    const std::string cancelled = "\nFirmware upgrade cancelled by User \n";
    for (const Case &c : std::vector<Case> {
             {{}, "n\n", old, "", 0, {}, k_yes, 1},
             {{}, "\n\n", old, v2, 0, {burn(A)}, k_reboot, 2, 1}, // a newer image defaults to yes, the latest to no
             {{}, "y\nq\n", old, v1, 3, {burn(A)}, cancelled, 2},
             {{}, "c\ny\n", old, v1, 0, {burn(A)}, k_reboot, 1},
             {{}, "", old, "", 3, {}, "Unknown input problem!\nQuit...\n" + cancelled, 1},
             {{"-y"}, "", old, v2, 0, {burn(A), burn(B)}, k_reboot, 0, 1},
             {{"-s"}, "", {.fw_version = v2}, v2, 1, {}, "", 0, 2},
             {{"-s"}, "", old, v2, 0, {burn(A, true)}, "", 0, 1}, // the latest skipped even after another was flashed
             {{"-s", "-F"}, "", {.fw_version = v2}, v1, 0, {burn(A, true), burn(B, true)}, "", 0, 1},
             {{}, "", {.address = "none"}, "", 1, {}, "\nNIC firmware update did not complete.  Check log for errors. \n"},
             // The first of the numerically highest images in catalog order, burned by the installed tool under
             // Secure Boot; an entry without an image file is logged once.
             {{"-y"}, "", {.fw_version = "2.9.0"}, "", 0, {"/usr/bin/mokutil --sb-state", "/usr/bin/mst status",
              "/usr/bin/mst start", "/usr/bin/flint --help", burn(A, false, "first.bin", "flint")}, k_reboot, 0, 0,
              "[WARNING]  Failed to get firmware image filename from nic_fw/NICFWData.xml\n\n" + k_selected +
              "[INFO]     MAC b8cef6000000 Upgrade SUCCESS\n\n", {}, [](sim::SimServer &s) {
                  s.add_image({"first.bin", "MT_0000000080", "2.10.500"});
                  s.set_catalog({{.rom = "2.8.0", .fwFile = "n/a"}, {.rom = "2.10.500", .fwFile = "first.bin"},
                                 {.rom = "2.9.1000"}, {.rom = "2.10.500", .fwFile = "second.bin"}});
                  s.set_mokutil("SecureBoot enabled");
                  s.set_mst(true);
                  s.set_installed_flint(true);
                  s.remove_package_file("nic_fw/mstflint");
              }},
             {{"-s"}, "", {.fw_version = v1, .burn_exit = 1}, "", 2, {burn(A, true)}, "", 0, 0,
              k_selected + failed(true), {}, {}, R"("outcome":"failed","tool_status":1,"seconds":_})"},
             {{"-y"}, "", {.fw_version = v1, .burn_killed = true}, "", 2, {burn(A)}, k_errors, 0, 0, k_selected +
              error("The flash tool was ended by signal 9 while burning 0000:05:00.0") + failed()},
             {{"-s"}, "", {.fw_version = v1, .burn_keeps_old = true}, "", 2, {burn(A, true)}, "", 0, 0, k_selected +
              error("MAC b8cef6000000 Upgrade not verified: the adapter reports 16.35.1000 after the burn, the image "
                    "is 16.35.2000"), {}, {}, R"("outcome":"not-verified","tool_status":0,"seconds":_})"},
             {{"-y"}, "", {.fw_version = v1, .silent_after_burn = true}, "", 2, {burn(A)}, k_errors, 0, 0, k_selected +
              error("MAC b8cef6000000 Upgrade not verified: the adapter reports no version after the burn, the image "
                    "is 16.35.2000")},
             // The catalog names the board, the image file belongs to another one.
             {{"-y"}, "", {.fw_version = v1, .psid = "MT_1"}, "", 2, {burn(A)}, k_errors, 0, 0, k_selected +
              failed(false, "Fimware upgrade on this device is not supported"), {.psid = "MT_1"}},
             {{"-y"}, "", old, "", 2, {}, k_errors, 0, 0, k_selected + error("No firmware image file name for " + A +
              "; not flashed"), {.fwFile = {}}},
             {{"-y"}, "", old, "", 2, {}, k_errors, 0, 0, k_selected + error("Image file name ../x leaves nic_fw/; not "
              "flashed"), {.fwFile = "../x"}},
             {{"-y"}, "", old, "", 2, {}, k_errors, 0, 0, k_selected + error("Image file name /x leaves nic_fw/; not "
              "flashed"), {.fwFile = "/x"}},
             // The query runs the tool, which then takes away its own right to be run: exec cannot start the burn.
             {{"-y"}, "", old, "", 2, {}, k_errors, 0, 0, k_selected + failed(), {}, [](sim::SimServer &s) {
                  const std::string dir = s.package_dir() + "/nic_fw/";
                  std::filesystem::copy_file(dir + "mstflint", dir + "real");
                  std::ofstream(dir + "mstflint") << "#!/bin/sh\nchmod a-x \"$0\"\nexec ./nic_fw/real \"$@\"\n";
              }}}) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " input " + testing::PrintToString(c.input) + " " + c.log);
        sim::SimServer server;
        ports(server, c.a, c.b, c.entry);
        if (c.setup)
            c.setup(server);
        const sim::Result r = server.run(c.args, c.input);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(sorted(commands(server)), sorted(as_calls(c.commands)));
        EXPECT_TRUE(r.out.ends_with(c.tail)) << r.out;
        EXPECT_EQ(count_of(r.out, "y/n/q"), c.questions);
        EXPECT_EQ(count_of(server.log(), "latest firmware\n"), c.latest);
        EXPECT_TRUE(c.log.empty() || log_without_times(server) == c.log) << server.log();
        EXPECT_TRUE(c.outcome.empty() || history(server).ends_with(c.outcome + "\n")) << history(server);
        EXPECT_TRUE(c.args.empty() || c.args[0] != "-s" || (r.out.find("Repository") == std::string::npos &&
                                                            r.out.find("NIC firmware update") == std::string::npos))
            << "a silent run shows no versions and no closing message: " << r.out;
        EXPECT_EQ(server.tmp_files(), std::vector<std::string> {}) << "no copy of a burn's output, no empty file";
    }
}

// A failed burn before a good one: each step shown and logged, the tool's streams kept apart, status 2.
TEST(UpgradeRun, InteractiveRunShowsAndLogsEachStep)
{
    sim::SimServer server;
    // The catalog's name with a line end of its own, which must not start a forged entry.
    ports(server, {.fw_version = v1, .burn_exit = 3}, v2, {.name = "CX5\n[ERROR]    forged"});
    const sim::Result r = server.run({}, "y\ny\n");
    EXPECT_EQ(r.status, 2);
    const std::string no = "Would you like to flash the firmware?\n y/n/q (n):";
    const auto shown = [](const std::string &installed, const std::string &port, const std::string &question) {
        return "Current Firmware Version is " + installed + " on " + port + " \nRepository has these firmware versions"
               "............[1] Image Version  16.35.2000\n" + question + "\n    Current FW version on flash:  " +
               installed + "\n    New FW version:               16.35.2000\n\nBurning FW image without signatures - 0%";
    };
    EXPECT_EQ(std::regex_replace(r.out.substr(r.out.find("Repository has New")), std::regex("/tmp/data\\w+"), "/tmp/D"),
              "Repository has New firmware version for interface 0000:05:00.0.................Please flash the newer "
              "version\n\n" + shown(v1, A, k_yes) + "grep -i \"PSID Mismatch\" " + server.root() + "/tmp/D > /dev/null "
              "\n\n" + shown(v2, B, "Repository doesn't have newer firmware version, Installed firmware version is the "
              "latest one..........Please Quit the updation.\n" + no) + " - 100% - OK\nRestoring signature             "
              "        - OK\nFirmware Flashed:\tSUCCESS  for interface 0000:06:00.0\n\n" + k_errors);
    EXPECT_NE(r.err.find("-E- Burning FW image failed: flash write error on 0000:05:00.0\n"), std::string::npos);
    // The waiting notice comes once; a MAC with separators is logged without them.
    EXPECT_EQ(log_without_times(server),
              std::regex_replace("[INFO]     " + k_yes + " y\n\n\n" + k_selected + failed() + "[WARNING]  *** WARNING "
                                     "*** - Installed firmware is the latest firmware\n\n[INFO]     " + no + " y\n\n\n"
                                     "[INFO]     \nSelecting ConnectX-5 EN MAC: 00:02:c9:12:34:56 \n\n[INFO]     MAC "
                                     "0002c9123456 Upgrade SUCCESS\n\n",
                                 std::regex("ConnectX-5 EN"), "CX5\\n[ERROR]    forged"));
}

// The console's reader gone (a FIFO's only reader closed before the run): each write meets a broken pipe, no more.
TEST(UpgradeRun, ConsoleReaderGoneLosesOnlyTheConsole)
{
    sim::SimServer server;
    ports(server, {.fw_version = v1}, v1);
    const std::string script = "mkfifo console && exec 3<>console >console 3>&- && rm console && umask 077 && "
                               "exec \"$0\" -y";
    EXPECT_EQ(server.run({"-c", script, ROVAN_SIM_BINARY}, "", {}, "/bin/sh").status, 0);
    EXPECT_EQ(count_of(server.log(), "Upgrade SUCCESS"), 2u) << server.log();
    // The history's modes are its own, whatever the umask.
    const std::string dir = server.root() + "/var/lib/rovan";
    EXPECT_EQ(fs::status(dir).permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(dir + "/history.jsonl").permissions(), fs::perms(0644));
}

// However a signal comes (to the run alone, to its process group as `timeout` sends it, as ^C at its terminal, or
// while a burn is verified), the burns running side by side finish, are verified and recorded, and one waiting for
// its turn never starts; then the run ends by the signal. A failed burn stops no other. Meanwhile every mode of a
// second run is refused before it runs any tool or opens the log; the lock file stays.
TEST(UpgradeRun, ASignalOrASecondRunWaitsForTheBurnsAndTheirRecords)
{
    enum How { to_run, to_group, at_terminal, in_verify };
    for (const auto &[how, sig] : std::vector<std::pair<How, int>> {
             {to_run, SIGTERM}, {to_group, SIGTERM}, {to_group, SIGHUP}, {at_terminal, SIGINT}, {in_verify, SIGINT}}) {
        SCOPED_TRACE(std::to_string(how) + " " + std::to_string(sig));
        sim::SimServer server;
        // Eight burn at once; a ninth waits, except in a verification, which frees a turn before the signal.
        const std::vector<std::string> ports = many_ports(server, how == in_verify ? 8 : 9, 0, sig * (how == in_verify));
        const auto started = [&] {
            return std::ranges::count_if(ports, [&](const auto &port) { return !server.burn_times(port).empty(); });
        };
        server.set_mokutil("SecureBoot disabled"); // a call that the run lock must come before
        server.hold_burns(true);
        const pid_t pid = how == at_terminal ? server.start_at_terminal({"-s"}) : server.start({"-s"});
        ASSERT_TRUE(wait_until([&] { return started() == 8; }));
        const std::string lock = server.root() + "/run/rovan.lock", log = server.package_dir() + "/mstflint.log";
        std::filesystem::rename(log, log + ".held"); // the first run goes on writing to it
        for (const auto &args : how == to_run ? Calls {{}, {"-s"}, {"-c"}, {"-d"}, {"-u", "r.xml"}} : Calls {}) {
            const size_t calls = server.tool_calls().size();
            const sim::Result r = server.run(args);
            EXPECT_EQ(std::pair(r.status, r.err), std::pair(4, "rovan: another run (pid " + std::to_string(pid) +
                                                                ") holds " + lock + "; nothing was done\n"));
            EXPECT_EQ(server.tool_calls().size(), calls);
            EXPECT_FALSE(server.package_file_exists("mstflint.log"));
        }
        EXPECT_EQ(server.run({"-cy"}).status, 1) << "a command line no mode allows takes no lock";
        std::filesystem::rename(log + ".held", log);
        if (how == at_terminal)
            server.type_at_terminal(pid, "\x03");
        else if (how != in_verify)
            kill(how == to_group ? -pid : pid, sig);
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // delivered before the burns go on
        server.hold_burns(false);
        const sim::Result r = server.finish(pid);
        EXPECT_EQ(r.term_signal, sig);
        EXPECT_EQ(started(), 8);
        EXPECT_EQ(std::ranges::count_if(commands(server), [](const auto &call) { return call.back() == "b"; }), 8);
        EXPECT_EQ(count_of(server.log(), "Upgrade SUCCESS"), 7u) << server.log();
        EXPECT_EQ(server.tmp_files(), std::vector<std::string> {});
        EXPECT_EQ(count_of(history(server), R"("burn-start")"), 8u);
        EXPECT_EQ(count_of(history(server), R"("burn-end".*"outcome":"success","tool_status":0)"), 7u);
        EXPECT_EQ(count_of(history(server), R"("burn-end".*"outcome":"failed","tool_status":3)"), 1u);
        EXPECT_TRUE(std::filesystem::exists(lock)) << "the lock file stays";
        // At a terminal, a line as each burn starts and ends.
        EXPECT_EQ(count_of(r.out, "rovan: burning 0000:0.:00.0 16.35.1000 -> 16.35.2000\r?\n"), 8u * (how == at_terminal));
        EXPECT_EQ(count_of(r.out, "rovan: 0000:07:00.0 done in \\d+ s: failed\r?\n"), 1u * (how == at_terminal))
            << r.out;
    }
}

// Where nobody is asked, burns run side by side: the console and the result document are byte for byte those of
// one burn after another (ROVAN_BURN_JOBS=1), with the third of eight burns failing and the first ending last.
// Eight burns of a second take about one.
TEST(UpgradeRun, BurnsSideBySideShowWhatOneAfterAnotherShows)
{
    const auto same_text = [](std::string text, const sim::SimServer &server) {
        text = std::regex_replace(text, std::regex(server.root()), "ROOT");
        text = std::regex_replace(text, std::regex("/tmp/data\\w+"), "/tmp/D");
        return std::regex_replace(text, std::regex("\"(started|ended|seconds)\":(\"[^\"]*\"|[0-9.]+)"), "\"$1\":0");
    };
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>> {
             {"-y"}, {"-s", "--json"}, {"-u", "nicdiscovery.xml", "--json"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        std::vector<std::string> shown;
        for (const std::string jobs : {"8", "1"}) {
            sim::SimServer server;
            const std::vector<std::string> ports = many_ports(server, 8, 1);
            if (args[0] == "-u") {
                ASSERT_EQ(server.run({"-d"}).status, 0);
            }
            const sim::Result r = server.run(args, "", {{"ROVAN_BURN_JOBS", jobs}});
            shown.push_back(same_text(r.out, server) + "\n--- standard error:\n" + same_text(r.err, server));
            EXPECT_EQ(r.status, 2);
            EXPECT_EQ(count_of(server.log(), "Upgrade SUCCESS"), 7u);
            // Side by side, every other burn starts while the first still burns.
            const long long first_end = server.burn_times(ports[0], true).at(0);
            EXPECT_EQ(std::ranges::count_if(ports, [&](const std::string &port) {
                          return server.burn_times(port).at(0) < first_end;
                      }), jobs == "8" ? 8 : 1);
        }
        EXPECT_EQ(shown[0], shown[1]);
        EXPECT_NE(shown[0].find("rovan: the burn of 0000:07:00.0 failed: status 3"), std::string::npos);
    }
    sim::SimServer server;
    many_ports(server, 8, 1, 0, 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(server.run({"-s"}).status, 2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// No other user can hold the lock (root's file, mode 0600) or plant one: a lock path that is not root's own
// regular file of one link refuses every run before anything runs, with the reason.
TEST(RunLock, NoOtherUserCanHoldOrPlantIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "SKIPPED: acting as another user needs root";
    sim::SimServer server;
    ports(server, {.fw_version = v1});
    server.set_mokutil("SecureBoot disabled");
    const std::string run = server.root() + "/run", lock = run + "/rovan.lock", other = server.package_dir() + "/other";
    fs::permissions(server.root(), fs::perms(0755));
    fs::permissions(run, fs::perms(01777)); // as open as /run/lock, so that another user can plant a file
    server.write_package_file("other", "root's\n");
    if (as_nobody(server, {"touch", lock}).status != 0)
        GTEST_SKIP() << "SKIPPED: uid 65534 cannot reach " << run;
    for (const auto &[plant, reason] : std::vector<std::pair<std::function<void()>, std::string>> {
             {[] {}, "owned by uid 65534, not by root"}, {[&] { fs::create_hard_link(other, lock); }, "has 2 links"},
             {[&] { fs::create_symlink(other, lock); }, "a symbolic link"},
             {[&] { fs::create_directory(lock); }, "Is a directory"}}) {
        SCOPED_TRACE(reason);
        plant();
        server.clear_tool_calls();
        const sim::Result r = server.run({"-s"});
        EXPECT_EQ(std::pair(r.status, r.err), std::pair(4, "rovan: cannot lock " + lock + ": " + reason + "\n"));
        EXPECT_EQ(server.tool_calls(), Calls {});
        EXPECT_EQ(server.read_package_file("other"), "root's\n");
        fs::remove_all(lock);
    }
    fs::permissions(run, fs::perms(0755));
    ASSERT_EQ(server.run({"-c"}).status, 0);
    EXPECT_EQ(fs::status(lock).permissions(), fs::perms(0600));
    EXPECT_NE(as_nobody(server, {"flock", "-n", "-s", lock, "true"}).status, 0) << "another user holds root's lock";
}

// A burn that started and never ended is reported by the next run, on standard error and in the log, and by that one
// only, even after a record cut short. Lines that are no records, and a record without its image, are passed over.
// A later burn is preceded by a run-start, from which the next run reads.
TEST(RunLock, UnfinishedBurnIsReportedOnce)
{
    sim::SimServer server;
    ports(server, {.fw_version = v1});
    server.set_mokutil("SecureBoot disabled");
    const std::string history = "../var/lib/rovan/history.jsonl";
    const std::string keys = R"("pid":4242,"address":"0000:05:00.0","psid":"MT_1","mac":"b8cef6000510",)"
                             R"("image":"./nic_fw/fw.bin","from":"16.32.1010","to":"16.35.2000")";
    const std::string start = R"({"event":"burn-start","time":"2026-12-07T21:59:53Z",)" + keys + "}\n";
    server.write_package_file(history, start + R"({"event":"burn-end","time":"2026-12-07T22:00:00Z",)" + keys +
        R"(,"outcome":"success","tool_status":0,"seconds":7})" + "\nnot json\n[1]\n" +
        std::regex_replace(start, std::regex(R"("image":"[^"]*",)"), "") + start + R"({"event":"burn-e)");
    const std::string warning = "rovan: WARNING: the burn of ./nic_fw/fw.bin into 0000:05:00.0 started "
                                "2026-12-07T21:59:53Z by pid 4242 did not finish; check the adapter with "
                                "'rovan -c' before rebooting\n";
    EXPECT_EQ(server.run({"-c"}).err, warning);
    EXPECT_EQ(log_without_times(server), "[WARNING]  " + warning + "\n");
    server.remove_package_file("mstflint.log");
    EXPECT_EQ(server.run({"-c"}).err, "");
    EXPECT_EQ(server.log(), "");
    EXPECT_TRUE(server.read_package_file(history).ends_with(
        keys + R"(,"outcome":"interrupted","tool_status":null,"seconds":null})" + "\n"));
    EXPECT_EQ(server.run({"-s"}).status, 0);
    EXPECT_TRUE(std::regex_search(server.read_package_file(history), std::regex(R"(null\}\n\{"event":"run-start","time)"
        R"(":"[^"]+","pid":\d+\}\n\{"event":"burn-start"[^\n]+\n\{"event":"burn-end"[^\n]+\n$)")));
}

// A history that cannot be written (a FIFO or a link at its path, neither waited on nor followed; a file where its
// directory belongs) costs the burning run one notice, never the burn.
TEST(RunLock, AnUnwritableHistoryCostsANoticeNotTheBurn)
{
    for (const auto &[plant, reason] : std::vector<std::pair<std::function<void(const std::string &)>, std::string>> {
             {[](const std::string &dir) { ASSERT_EQ(mkfifo((dir + "/history.jsonl").c_str(), 0644), 0); },
              "Not a regular file"},
             {[](const std::string &dir) { fs::create_symlink("/dev/zero", dir + "/history.jsonl"); },
              "Not a regular file"},
             {[](const std::string &dir) { fs::remove(dir), std::ofstream(dir) << "where the directory belongs"; },
              "Not a directory"}}) {
        sim::SimServer server;
        ports(server, {.fw_version = v1});
    server.set_mokutil("SecureBoot disabled");
        server.set_run_timeout(10);
        const std::string dir = server.root() + "/var/lib/rovan";
        fs::create_directories(dir);
        plant(dir);
        const sim::Result r = server.run({"-s"});
        EXPECT_EQ(std::pair(r.status, r.err),
                  std::pair(0, "rovan: the burn history cannot be written: " + reason + "\n"));
        EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "16.35.2000");
    }
}
