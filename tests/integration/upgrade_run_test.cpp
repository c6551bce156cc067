// Whole upgrade runs on simulated servers: answers and modes, the image and tool burned, and burns that go wrong.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>

#include "sim_server.h"

namespace {

using Burns = std::vector<std::string>;
const std::string A = "0000:05:00.0", B = "0000:06:00.0", v1 = "16.35.1000", v2 = "16.35.2000";
const std::string k_image = "fw-16.35.2000.bin", k_errors = "\nNIC firmware update completed with errors. \n";
const std::string k_reboot = "\n\nPlease Reboot node for new image to be loaded into silicon\n\n";
const std::string k_yes = "Would you like to flash the firmware?\n y/n/q (y):";
const std::string k_latest = "*** WARNING *** - Installed firmware is the latest firmware\n";
const std::string k_selected = "[INFO]     \nThe Firmware Upgrade will take several minutes.  Please be patient.\n\n"
                               "[INFO]     \nSelecting ConnectX-5 EN MAC: b8cef6000000 \n\n";

std::string burn(const std::string &port, bool silent = false, const std::string &image = k_image,
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

// Port A as given, port B when b_installed is given (a MAC with separators), the board's one image 16.35.2000.
void ports(sim::SimServer &server, sim::FlashDevice a, const std::string &b_installed = "",
           const sim::CatalogEntry &entry = {})
{
    a.address = A;
    server.add_function({.address = A});
    server.add_flash_device(a);
    if (!b_installed.empty()) {
        server.add_function({.address = B});
        server.add_flash_device({.address = B, .fw_version = b_installed, .base_mac = "00:02:c9:12:34:56"});
    }
    server.add_image({k_image, "MT_0000000080", v2});
    server.set_catalog({entry});
}

Burns burns(const sim::SimServer &server)
{
    Burns found;
    for (const auto &call : server.tool_calls())
        if (call.back() == "b")
            found.push_back(std::accumulate(call.begin() + 1, call.end(), call[0],
                                            [](const auto &line, const auto &arg) { return line + " " + arg; }));
    return found;
}

// "[INFO]      [time] text" becomes "[INFO]     text", so that whole logs compare.
std::string log_without_times(const std::string &log)
{
    return std::regex_replace(log, std::regex(R"((^|\n)(\[[A-Z]+\] +) \[[^\]\n]*\] )"), "$1$2");
}

size_t count_of(const std::string &text, const std::string &pattern)
{
    const std::regex re(pattern);
    return std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator());
}

TEST(UpgradeRun, AnswersAndModesDecideWhatIsBurned)
{
    // The installed versions of ports A and B (none: no port), burns, closing text, questions, latest warnings.
    using Case = std::tuple<std::vector<std::string>, std::string, std::string, std::string, int, Burns, std::string,
                            size_t, size_t>;
    for (const auto &[args, input, a, b, status, burned, tail, questions, latest] : std::vector<Case> {
             {{}, "n\n", v1, "", 0, {}, k_yes, 1, 0},
             {{}, "\n\n", v1, v2, 0, {burn(A)}, k_reboot, 2, 1}, // a newer image defaults to yes, the latest to no
             {{}, "y\nq\n", v1, v1, 3, {burn(A)}, "\nFirmware upgrade cancelled by User \n", 2, 0},
             {{}, "c\ny\n", v1, v1, 0, {burn(A)}, k_reboot, 1, 0},
             {{}, "", v1, "", 3, {}, "Unknown input problem!\nQuit...\n\nFirmware upgrade cancelled by User \n", 1, 0},
             {{"-y"}, "", v1, v2, 0, {burn(A), burn(B)}, k_reboot, 0, 1},
             {{"-s"}, "", v2, v2, 1, {}, "", 0, 2},
             {{"-s"}, "", v1, v2, 0, {burn(A, true)}, "", 0, 1}, // the latest skipped even after another was flashed
             {{"-s", "-F"}, "", v2, v1, 0, {burn(A, true), burn(B, true)}, "", 0, 1},
             {{}, "", "", "", 1, {}, "\nNIC firmware update did not complete.  Check log for errors. \n", 0, 0}}) {
        SCOPED_TRACE(testing::PrintToString(args) + " input " + testing::PrintToString(input));
        sim::SimServer server;
        if (!a.empty())
            ports(server, {.fw_version = a}, b);
        const sim::Result r = server.run(args, input);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(burns(server), burned);
        EXPECT_EQ(server.tool_calls().size() - 2 * burned.size(), !a.empty() + !b.empty())
            << "one query for each port, and one more to verify each burn";
        EXPECT_TRUE(r.out.ends_with(tail)) << r.out;
        EXPECT_EQ(count_of(r.out, "y/n/q"), questions);
        EXPECT_EQ(count_of(server.log(), "latest firmware\n"), latest);
        EXPECT_TRUE(args.empty() || args[0] != "-s" || r.out.find("Repository") == std::string::npos) << r.out;
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
    EXPECT_EQ(log_without_times(server.log()),
              std::regex_replace("[INFO]     " + k_yes + " y\n\n\n" + k_selected + failed() + "[WARNING]  " + k_latest +
                                     "\n[INFO]     " + no + " y\n\n\n[INFO]     \nSelecting ConnectX-5 EN MAC: "
                                     "00:02:c9:12:34:56 \n\n[INFO]     MAC 0002c9123456 Upgrade SUCCESS\n\n",
                                 std::regex("ConnectX-5 EN"), "CX5\\n[ERROR]    forged"));
}

// The console's reader gone (a FIFO's only reader closed before the run): each write meets a broken pipe, no more.
TEST(UpgradeRun, ConsoleReaderGoneLosesOnlyTheConsole)
{
    sim::SimServer server;
    ports(server, {.fw_version = v1}, v1);
    const std::string script = "mkfifo console && exec 3<>console >console 3>&- && rm console && exec \"$0\" -y";
    EXPECT_EQ(server.run({"-c", script, ROVAN_SIM_BINARY}, "", {}, "/bin/sh").status, 0);
    EXPECT_EQ(count_of(server.log(), "Upgrade SUCCESS"), 2u) << server.log();
}

// The first of the numerically highest images in catalog order, burned by the installed tool under Secure Boot.
TEST(UpgradeRun, HighestImageBurnedWithTheInstalledToolUnderSecureBoot)
{
    sim::SimServer server;
    ports(server, {.fw_version = "2.9.0"});
    server.add_image({"first.bin", "MT_0000000080", "2.10.500"});
    server.set_catalog({{.rom = "2.8.0", .fwFile = "n/a"}, {.rom = "2.10.500", .fwFile = "first.bin"},
                        {.rom = "2.9.1000"}, {.rom = "2.10.500", .fwFile = "second.bin"}});
    server.set_mokutil("SecureBoot enabled");
    server.set_mst(true);
    server.set_installed_flint(true);
    server.remove_package_file("nic_fw/mstflint");
    EXPECT_EQ(server.run({"-y"}).status, 0);
    EXPECT_EQ(burns(server), Burns({burn(A, false, "first.bin", "flint")}));
    EXPECT_EQ(count_of(server.log(), "Failed to get firmware image filename from nic_fw/NICFWData.xml\n"), 1u);
}

TEST(FlashFailure, EachFailureIsLoggedAndCounted)
{
    // The mode, port A, its catalog entry, the log's entries after the selection, whether the burn ran, more setup.
    using Case = std::tuple<std::string, sim::FlashDevice, sim::CatalogEntry, std::string, bool,
                            std::function<void(sim::SimServer &)>>;
    const sim::FlashDevice old {.fw_version = v1};
    for (const auto &[mode, a, entry, errors, burned, setup] : std::vector<Case> {
             {"-s", {.fw_version = v1, .burn_exit = 1}, {}, failed(true), true, {}},
             {"-y", {.fw_version = v1, .burn_killed = true}, {},
              error("The flash tool was ended by signal 9 while burning 0000:05:00.0") + failed(), true, {}},
             {"-s", {.fw_version = v1, .burn_keeps_old = true}, {}, error("MAC b8cef6000000 Upgrade not verified: the "
              "adapter reports 16.35.1000 after the burn, the image is 16.35.2000"), true, {}},
             {"-y", {.fw_version = v1, .silent_after_burn = true}, {}, error("MAC b8cef6000000 Upgrade not verified: "
              "the adapter reports no version after the burn, the image is 16.35.2000"), true, {}},
             // The catalog names the board, the image file belongs to another one.
             {"-y", {.fw_version = v1, .psid = "MT_1"}, {.psid = "MT_1"},
              failed(false, "Fimware upgrade on this device is not supported"), true, {}},
             {"-y", old, {.fwFile = {}}, error("No firmware image file name for " + A + "; not flashed"), false, {}},
             {"-y", old, {.fwFile = "../x"}, error("Image file name ../x leaves nic_fw/; not flashed"), false, {}},
             {"-y", old, {.fwFile = "/x"}, error("Image file name /x leaves nic_fw/; not flashed"), false, {}},
             // The query runs the tool, which then takes away its own right to be run: exec cannot start the burn.
             {"-y", old, {}, failed(), false, [](sim::SimServer &s) {
                  const std::string dir = s.package_dir() + "/nic_fw/";
                  std::filesystem::copy_file(dir + "mstflint", dir + "real");
                  std::ofstream(dir + "mstflint") << "#!/bin/sh\nchmod a-x \"$0\"\nexec ./nic_fw/real \"$@\"\n";
              }}}) {
        SCOPED_TRACE(mode + " " + errors);
        sim::SimServer server;
        ports(server, a, "", entry);
        if (setup)
            setup(server);
        const sim::Result r = server.run({mode});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(burns(server), burned ? Burns({burn(A, mode == "-s")}) : Burns());
        EXPECT_EQ(r.out.ends_with(k_errors), mode != "-s") << "a silent run keeps its closing message off: " << r.out;
        EXPECT_EQ(log_without_times(server.log()), k_selected + errors);
        EXPECT_EQ(server.tmp_files(), std::vector<std::string> {}) << "no copy of a burn's output, no empty file";
    }
}

// However a signal comes (to the run alone, to its process group as `timeout` sends it, as ^C at its terminal, or
// while the burn is verified), the burn finishes, is verified and recorded; then the run ends by the signal.
TEST(FlashFailure, ASignalWaitsForTheBurnAndItsRecordsThenEndsTheRun)
{
    enum How { to_run, to_group, at_terminal, in_verify };
    for (const auto &[how, sig] : std::vector<std::pair<How, int>> {
             {to_run, SIGTERM}, {to_group, SIGTERM}, {to_group, SIGHUP}, {at_terminal, SIGINT}, {in_verify, SIGINT}}) {
        SCOPED_TRACE(std::to_string(how) + " " + std::to_string(sig));
        sim::SimServer server;
        ports(server, {.fw_version = v1, .signal_in_verify = how == in_verify ? sig : 0}, v1);
        server.hold_burns(true);
        const pid_t pid = how == at_terminal ? server.start_at_terminal({"-s"}) : server.start({"-s"});
        for (int tries = 0; tries < 2000 && burns(server).empty(); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (how == at_terminal)
            server.type_at_terminal(pid, "\x03");
        else if (how != in_verify)
            kill(how == to_group ? -pid : pid, sig);
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // delivered before the burn goes on
        server.hold_burns(false);
        EXPECT_EQ(server.finish(pid).term_signal, sig);
        // The burn finished and was logged; the second port was never started.
        EXPECT_EQ(log_without_times(server.log()), k_selected + "[INFO]     MAC b8cef6000000 Upgrade SUCCESS\n\n");
        EXPECT_EQ(burns(server), Burns({burn(A, true)}));
        EXPECT_EQ(server.tmp_files(), std::vector<std::string> {});
        std::ostringstream history;
        history << std::ifstream(server.root() + "/var/lib/rovan/history.jsonl").rdbuf();
        EXPECT_EQ(count_of(history.str(), "\"burn-end\".*\"outcome\":\"success\""), 1u) << history.str();
    }
}

} // namespace
