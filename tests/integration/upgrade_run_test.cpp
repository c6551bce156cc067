// Whole upgrade runs: answers and modes, the image and tool burned, burns that go wrong, what may happen while a
// burn goes on (a signal, a second run), and the run lock and burn history around them.
#include <gtest/gtest.h>

#include <csignal>

#include "support.h"

using namespace support;
namespace fs = std::filesystem;

namespace {

const std::string A = "0000:05:00.0", B = "0000:06:00.0", v1 = "16.35.1000", v2 = "16.35.2000";
const std::string k_errors = "\nNIC firmware update completed with errors. \n";
const std::string k_reboot = "\n\nPlease Reboot node for new image to be loaded into silicon\n\n";
const std::string k_yes = "Would you like to flash the firmware?\n y/n/q (y):";
const std::string k_history = "../var/lib/rovan/history.jsonl";
const std::string k_selected = "[INFO]     \nThe Firmware Upgrade will take several minutes.  Please be patient.\n\n"
                               "[INFO]     \nSelecting ConnectX-5 EN MAC: b8cef6000000 \n\n";

std::string burn(const std::string &port, bool silent = false)
{
    return std::string(silent ? "mstflint -s" : "mstflint") + " -y -d " + port + " -i ./nic_fw/fw-16.35.2000.bin b";
}

std::string error(const std::string &text) { return "[ERROR]    " + text + "\n\n"; }

// The failure entry of a burn into port A, naming the tool's command line.
std::string failed(const std::string &what = "Upgrade failed") { return error(what + "\n ./nic_fw/" + burn(A)); }

// Port A as given, port B when b gives its installed version (a MAC with separators), the board's one image 16.35.2000.
void ports(sim::SimServer &server, sim::FlashDevice a, const std::string &b = "", const sim::CatalogEntry &entry = {})
{
    a.address = A;
    server.add_port(a);
    if (!b.empty())
        server.add_port({.address = B, .fw_version = b, .base_mac = "00:02:c9:12:34:56"});
    server.add_image({"fw-16.35.2000.bin", "MT_0000000080", v2});
    server.set_catalog({entry});
}

// Ports 05, 06, ... of one board, each its own adapter, installed v1: the first burns for first_s seconds (and
// sends signal_in_verify as it is verified), the others at once, the third fails.
std::vector<std::string> many_ports(sim::SimServer &server, int count, int first_s, int signal_in_verify = 0)
{
    std::vector<std::string> ports;
    for (int i = 0; i < count; ++i)
        server.add_port({.address = ports.emplace_back("0000:0" + std::string(1, "0123456789abcdef"[5 + i]) + ":00.0"),
                         .fw_version = v1, .base_mac = "b8cef600000" + std::to_string(i), .burn_exit = i == 2 ? 3 : 0,
                         .burn_seconds = i == 0 ? first_s : 0, .signal_in_verify = i == 0 ? signal_in_verify : 0});
    server.add_image({"fw-16.35.2000.bin", "MT_0000000080", v2});
    server.set_catalog({{}});
    return ports;
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
        std::string tail;                  // the end of the output; none in a silent run
        std::string log = "";              // when given, the whole log without times
        sim::CatalogEntry entry = {};
        std::function<void(sim::SimServer &)> setup = {};
    };
    const sim::FlashDevice old {.fw_version = v1};
    const auto refused = [](const std::string &why) { return k_selected + error(why + "; not flashed"); };
    for (const Case &c : std::vector<Case> {
             {{}, "n\n", old, "", 0, {}, k_yes},
             {{}, "\n\n", old, v2, 0, {burn(A)}, k_reboot}, // a newer image defaults to yes, the latest to no
             {{}, "y\nq\n", old, v1, 3, {burn(A)}, "\nFirmware upgrade cancelled by User \n"},
             {{}, "c\ny\n", old, v1, 0, {burn(A)}, k_reboot},
             {{"-y"}, "", old, v2, 0, {burn(A), burn(B)}, k_reboot},
             {{"-s"}, "", old, v2, 0, {burn(A, true)}, ""}, // the latest skipped even after another was flashed
             {{"-s", "-F"}, "", {.fw_version = v2}, v1, 0, {burn(A, true), burn(B, true)}, ""},
             {{}, "", old, "", 1, {}, "\nNIC firmware update did not complete.  Check log for errors. \n", "", {},
              [](sim::SimServer &s) { fs::remove_all(s.root() + "/sys/bus/pci/devices/" + A); }}, // no adapter
             // The first of the numerically highest images in catalog order, burned by the installed tool under
             // Secure Boot; an entry without an image file is logged once.
             {{"-y"}, "", {.fw_version = "2.9.0"}, "", 0, {"/usr/bin/mokutil --sb-state", "/usr/bin/mst status",
              "/usr/bin/mst start", "/usr/bin/flint --help", "flint -y -d " + A + " -i ./nic_fw/first.bin b"}, k_reboot,
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
             {{"-y"}, "", {.fw_version = v1, .burn_killed = true}, "", 2, {burn(A)}, k_errors, k_selected +
              error("The flash tool was ended by signal 9 while burning 0000:05:00.0") + failed()},
             {{"-y"}, "", {.fw_version = v1, .silent_after_burn = true}, "", 2, {burn(A)}, k_errors, k_selected +
              error("MAC b8cef6000000 Upgrade not verified: the adapter reports no version after the burn, the image "
                    "is 16.35.2000")},
             // The catalog names the board, the image file belongs to another one.
             {{"-y"}, "", {.fw_version = v1, .psid = "MT_1"}, "", 2, {burn(A)}, k_errors, k_selected +
              failed("Fimware upgrade on this device is not supported"), {.psid = "MT_1"}},
             {{"-y"}, "", old, "", 2, {}, k_errors, refused("No firmware image file name for " + A), {.fwFile = {}}},
             {{"-y"}, "", old, "", 2, {}, k_errors, refused("Image file name ../x leaves nic_fw/"), {.fwFile = "../x"}},
             {{"-y"}, "", old, "", 2, {}, k_errors, refused("Image file name /x leaves nic_fw/"), {.fwFile = "/x"}}}) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " input " + testing::PrintToString(c.input) + " " + c.log);
        sim::SimServer server;
        ports(server, c.a, c.b, c.entry);
        if (c.setup)
            c.setup(server);
        const sim::Result r = server.run(c.args, c.input);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(std::ranges::is_permutation(commands(server), as_calls(c.commands))); // burns start in any order
        EXPECT_TRUE(r.out.ends_with(c.tail)) << r.out;
        EXPECT_TRUE(c.log.empty() || log_without_times(server) == c.log) << server.log();
        EXPECT_EQ(count_of(r.out, "Repository|NIC firmware update") == 0, c.tail.empty()) << "silent: " << r.out;
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
        many_ports(server, how == in_verify ? 8 : 9, 0, sig * (how == in_verify));
        server.set_mokutil("SecureBoot disabled"); // a call that the run lock must come before
        server.hold_burns(true);
        const pid_t pid = how == at_terminal ? server.start_at_terminal({"-s"}) : server.start({"-s"});
        const auto burns = [&] { return std::ranges::count(commands(server), "b", [](auto &c) { return c.back(); }); };
        ASSERT_TRUE(wait_until([&] { return burns() == 8; }));
        const std::string lock = server.root() + "/run/rovan.lock", log = server.package_dir() + "/mstflint.log";
        fs::rename(log, log + ".held"); // the first run goes on writing to it
        for (const auto &args : how == to_run ? Calls {{}, {"-s"}, {"-c"}, {"-d"}, {"-u", "r.xml"}} : Calls {}) {
            const size_t calls = server.tool_calls().size();
            const sim::Result r = server.run(args);
            EXPECT_EQ(std::pair(r.status, r.err), std::pair(4, "rovan: another run (pid " + std::to_string(pid) +
                                                                ") holds " + lock + "; nothing was done\n"));
            EXPECT_EQ(server.tool_calls().size(), calls);
            EXPECT_FALSE(server.package_file_exists("mstflint.log"));
        }
        EXPECT_EQ(server.run({"-cy"}).status, 1) << "a command line no mode allows takes no lock";
        fs::rename(log + ".held", log);
        if (how == at_terminal)
            server.type_at_terminal(pid, "\x03");
        else if (how != in_verify)
            kill(how == to_group ? -pid : pid, sig);
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // delivered before the burns go on
        server.hold_burns(false);
        const sim::Result r = server.finish(pid);
        EXPECT_EQ(r.term_signal, sig);
        EXPECT_EQ(count_of(server.log(), "Upgrade SUCCESS"), 7u) << server.log();
        EXPECT_EQ(server.tmp_files(), std::vector<std::string> {});
        const std::string history = server.read_package_file(k_history);
        EXPECT_EQ(count_of(history, R"("burn-start")"), 8u) << "the ninth never started";
        EXPECT_EQ(count_of(history, R"("burn-end".*"outcome":"success","tool_status":0)"), 7u);
        EXPECT_EQ(count_of(history, R"("burn-end".*"outcome":"failed","tool_status":3)"), 1u);
        EXPECT_TRUE(fs::exists(lock)) << "the lock file stays";
        // At a terminal, a line as each burn starts and ends.
        const size_t shown = how == at_terminal;
        EXPECT_EQ(count_of(r.out, "rovan: burning 0000:0.:00.0 16.35.1000 -> 16.35.2000\r?\n"), 8 * shown);
        EXPECT_EQ(count_of(r.out, "rovan: 0000:07:00.0 done in \\d+ s: failed\r?\n"), shown) << r.out;
    }
}

// Where nobody is asked, burns run side by side: the console and the result document are byte for byte those of
// one burn after another (ROVAN_BURN_JOBS=1), with the third of eight burns failing and the first ending last.
TEST(UpgradeRun, BurnsSideBySideShowWhatOneAfterAnotherShows)
{
    const auto same_text = [](const std::string &text, const sim::SimServer &server) {
        return std::regex_replace(std::regex_replace(text, std::regex(server.root() + "|/tmp/data\\w+"), "X"),
                                  std::regex("\"(started|ended|seconds)\":(\"[^\"]*\"|[0-9.]+)"), "\"$1\":0");
    };
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>> {
             {"-y"}, {"-s", "--json"}, {"-u", "nicdiscovery.xml", "--json"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        std::vector<std::string> shown;
        for (const std::string jobs : {"8", "1"}) {
            sim::SimServer server;
            const std::vector<std::string> ports = many_ports(server, 8, 1);
            ASSERT_TRUE(args[0] != "-u" || server.run({"-d"}).status == 0);
            const sim::Result r = server.run(args, "", {{"ROVAN_BURN_JOBS", jobs}});
            shown.push_back(same_text(r.out, server) + "\n--- standard error:\n" + same_text(r.err, server));
            EXPECT_EQ(r.status, 2);
            // Side by side, every other burn starts while the first still burns.
            const long long first_end = server.burn_times(ports[0], true).at(0);
            EXPECT_EQ(std::ranges::count_if(ports, [&](const auto &p) { return server.burn_times(p)[0] < first_end; }),
                      jobs == "8" ? 8 : 1);
        }
        EXPECT_EQ(shown[0], shown[1]);
        EXPECT_NE(shown[0].find("rovan: the burn of 0000:07:00.0 failed: status 3"), std::string::npos);
    }
}

// No other user can hold the lock (root's file, mode 0600) or plant one: a lock path that is not root's own
// regular file of one link refuses every run before anything runs, with the reason.
TEST(RunLock, NoOtherUserCanHoldOrPlantIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "SKIPPED: acting as another user needs root";
    sim::SimServer server;
    server.set_mokutil("SecureBoot disabled"); // the first call of a run that is not refused
    const std::string run = server.root() + "/run", lock = run + "/rovan.lock", other = server.package_dir() + "/other";
    fs::permissions(server.root(), fs::perms(0755));
    fs::permissions(run, fs::perms(01777)); // as open as /run/lock, so that another user can plant a file
    server.write_package_file("other", "root's\n");
    if (server.run({"-u", "nobody", "--", "touch", lock}, "", {}, "/usr/sbin/runuser").status != 0)
        GTEST_SKIP() << "SKIPPED: uid 65534 cannot reach " << run;
    for (const auto &[plant, reason] : std::vector<std::pair<std::function<void()>, std::string>> {
             {[] {}, "owned by uid 65534, not by root"}, {[&] { fs::create_hard_link(other, lock); }, "has 2 links"},
             {[&] { fs::create_symlink(other, lock); }, "a symbolic link"},
             {[&] { fs::create_directory(lock); }, "Is a directory"}}) {
        SCOPED_TRACE(reason);
        plant();
        const sim::Result r = server.run({"-s"});
        EXPECT_EQ(std::pair(r.status, r.err), std::pair(4, "rovan: cannot lock " + lock + ": " + reason + "\n"));
        EXPECT_EQ(server.tool_calls(), Calls {});
        EXPECT_EQ(server.read_package_file("other"), "root's\n");
        fs::remove_all(lock);
    }
    ASSERT_EQ(server.run({"-c"}).status, 0);
    EXPECT_EQ(fs::status(lock).permissions(), fs::perms(0600));
    EXPECT_NE(server.run({"-u", "nobody", "--", "flock", "-ns", lock, "true"}, "", {}, "/usr/sbin/runuser").status, 0)
        << "another user holds root's lock";
}

// The burn history over runs. The first, with the console's reader gone (a FIFO's only reader closed before the run:
// each write meets a broken pipe, no more), burns and makes the history, with modes of its own whatever the umask.
// A burn that started and never ended is reported by the next run, on standard error and in the log, and by that one
// only, even after a record cut short. Lines that are no records, and a record without its image, are passed over.
// A later burn is preceded by a run-start, from which the next run reads.
TEST(RunLock, UnfinishedBurnIsReportedOnce)
{
    sim::SimServer server;
    ports(server, {.fw_version = v1});
    server.set_mokutil("SecureBoot disabled");
    const std::string script = "mkfifo console && exec 3<>console >console 3>&- && rm console && umask 077 && "
                               "exec \"$0\" -y";
    EXPECT_EQ(server.run({"-c", script, ROVAN_SIM_BINARY}, "", {}, "/bin/sh").status, 0);
    EXPECT_EQ(count_of(server.log(), "Upgrade SUCCESS"), 1u) << server.log();
    EXPECT_EQ(fs::status(server.root() + "/var/lib/rovan").permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(server.package_dir() + "/" + k_history).permissions(), fs::perms(0644));
    server.remove_package_file("mstflint.log");
    const std::string keys = R"("pid":4242,"address":"0000:05:00.0","psid":"MT_1","mac":"b8cef6000510",)"
                             R"("image":"./nic_fw/fw.bin","from":"16.32.1010","to":"16.35.2000")";
    const std::string start = R"({"event":"burn-start","time":"2026-12-07T21:59:53Z",)" + keys + "}\n";
    server.write_package_file(k_history, start + R"({"event":"burn-end","time":"2026-12-07T22:00:00Z",)" + keys +
        R"(,"outcome":"success","tool_status":0,"seconds":7})" + "\nnot json\n[1]\n" +
        std::regex_replace(start, std::regex(R"("image":"[^"]*",)"), "") + start + R"({"event":"burn-e)");
    const std::string warning = "rovan: WARNING: the burn of ./nic_fw/fw.bin into 0000:05:00.0 started "
                                "2026-12-07T21:59:53Z by pid 4242 did not finish; check the adapter with "
                                "'rovan -c' before rebooting\n";
    EXPECT_EQ(server.run({"-c"}).err, warning);
    EXPECT_EQ(server.run({"-c"}).err, "");
    EXPECT_EQ(log_without_times(server), "[WARNING]  " + warning + "\n");
    EXPECT_EQ(server.run({"-s", "-F"}).status, 0);
    EXPECT_TRUE(std::regex_search(server.read_package_file(k_history), std::regex(R"("outcome":"interrupted",)"
        R"("tool_status":null,"seconds":null\}\n\{"event":"run-start","time":"[^"]+","pid":\d+\}\n)"
        R"(\{"event":"burn-start"[^\n]+\n\{"event":"burn-end"[^\n]+\n$)"))) << server.read_package_file(k_history);
}

// A history that cannot be written (a FIFO or a link at its path, neither waited on nor followed; a file where its
// directory belongs) costs the burning run one notice, never the burn.
TEST(RunLock, AnUnwritableHistoryCostsANoticeNotTheBurn)
{
    for (const auto &[plant, reason] : std::vector<std::pair<std::string, std::string>> {
             {"mkdir rovan && mkfifo rovan/history.jsonl", "Not a regular file"},
             {"mkdir rovan && ln -s /dev/zero rovan/history.jsonl", "Not a regular file"},
             {"echo 'where the directory belongs' >rovan", "Not a directory"}}) {
        sim::SimServer server;
        ports(server, {.fw_version = v1});
        server.set_mokutil("SecureBoot disabled");
        server.set_run_timeout(10);
        ASSERT_EQ(server.run({"-c", "cd ../var/lib && " + plant}, "", {}, "/bin/sh").status, 0);
        const sim::Result r = server.run({"-s"});
        EXPECT_EQ(std::pair(r.status, r.err),
                  std::pair(0, "rovan: the burn history cannot be written: " + reason + "\n"));
        EXPECT_EQ(server.device_fw_version(A), v2);
    }
}
