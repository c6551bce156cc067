// Whole upgrade runs on simulated servers: the operator's answers, the -y, -s
// and -F modes, which image is burned, the tool used under Secure Boot, and
// burns that fail, are refused, killed, cannot start or are interrupted.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include "sim_server.h"

namespace {

using Calls = std::vector<std::vector<std::string>>;

const std::string k_port_a = "0000:05:00.0";
const std::string k_port_b = "0000:06:00.0";
const std::string k_image = "fw-16.35.2000.bin";
const std::string k_reboot = "\n\nPlease Reboot node for new image to be loaded into silicon\n\n";
const std::string k_cancelled = "\nFirmware upgrade cancelled by User \n";
const std::string k_errors = "\nNIC firmware update completed with errors. \n";
const std::string k_question_yes = "Would you like to flash the firmware?\n y/n/q (y):";
const std::string k_question_no = "Would you like to flash the firmware?\n y/n/q (n):";
const std::string k_latest = "*** WARNING *** - Installed firmware is the latest firmware\n";
const std::string k_selected_a = "[INFO]     \nThe Firmware Upgrade will take several minutes.  Please be patient.\n\n"
                                 "[INFO]     \nSelecting ConnectX-5 EN MAC: b8cef6000510 \n\n";

// The failure entry of a burn into port A, naming the tool's command line.
std::string failed(bool silent = false, const std::string &what = "Upgrade failed")
{
    return "[ERROR]    " + what + "\n ./nic_fw/mstflint " + (silent ? "-s " : "") + "-y -d " + k_port_a +
           " -i ./nic_fw/" + k_image + " b\n\n";
}

// The entry of a burn into port A that the adapter, asked again, does not show.
std::string not_verified(const std::string &reported)
{
    return "[ERROR]    MAC b8cef6000510 Upgrade not verified: the adapter reports " + reported +
           " after the burn, the image is 16.35.2000\n\n";
}

sim::FlashDevice add_port(sim::SimServer &server, const std::string &address, const std::string &installed,
                          const std::string &mac = "b8cef6000510")
{
    server.add_function({.address = address});
    const sim::FlashDevice dev {.address = address, .fw_version = installed, .base_mac = mac};
    server.add_flash_device(dev);
    return dev;
}

// An image for the ports' board and its catalog entry.
sim::CatalogEntry image_entry(sim::SimServer &server, const std::string &version, const std::string &file,
                              const std::string &name = "ConnectX-5 EN")
{
    server.add_image({file, "MT_0000000080", version});
    return {.name = name, .rom = version, .fwFile = file};
}

// Ports A (and B, when b_installed is given) with the board's one image, 16.35.2000.
void two_ports(sim::SimServer &server, const std::string &a_installed, const std::string &b_installed = "")
{
    add_port(server, k_port_a, a_installed);
    if (!b_installed.empty())
        add_port(server, k_port_b, b_installed, "b8cef6000520");
    server.set_catalog({image_entry(server, "16.35.2000", k_image)});
}

void set_burn(sim::SimServer &server, const std::function<void(sim::FlashDevice &)> &change)
{
    sim::FlashDevice dev = add_port(server, k_port_a, "16.35.1000");
    change(dev);
    server.add_flash_device(dev);
}

Calls burns(const sim::SimServer &server)
{
    Calls found;
    for (const auto &call : server.tool_calls())
        if (!call.empty() && call.back() == "b")
            found.push_back(call);
    return found;
}

std::vector<std::string> burn_argv(const std::string &address, const std::string &image = k_image,
                                   bool silent = false, const std::string &program = "mstflint")
{
    std::vector<std::string> argv {program};
    if (silent)
        argv.push_back("-s");
    argv.insert(argv.end(), {"-y", "-d", address, "-i", "./nic_fw/" + image, "b"});
    return argv;
}

// "[INFO]      [time] text" becomes "[INFO]     text", so that whole logs compare.
std::string log_without_times(const std::string &log)
{
    static const std::regex stamp(R"((^|\n)(\[[A-Z]+\] +) \[[^\]\n]*\] )");
    return std::regex_replace(log, stamp, "$1$2");
}

size_t count_of(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// Only the inventory's query-error file is kept for the operator; no copy of a burn's output stays.
void expect_no_burn_files_left(const sim::SimServer &server)
{
    EXPECT_EQ(server.tmp_files().size(), 1u);
}

struct RunCase {
    std::vector<std::string> args;
    std::string input;
    std::string a_installed, b_installed; // no port A: no adapter at all; no B: one port
    int status;
    std::vector<std::string> burned; // ports, in order
    std::string out_tail;
    size_t questions, latest_warnings;
};

TEST(UpgradeRun, AnswersAndModesDecideWhatIsBurned)
{
    const std::string a = k_port_a, b = k_port_b, v1 = "16.35.1000", v2 = "16.35.2000";
    const std::vector<RunCase> cases {
        {{}, "y\n", v1, "", 0, {a}, k_reboot, 1, 0},
        {{}, "n\n", v1, "", 0, {}, k_question_yes, 1, 0},
        // A newer image defaults to yes, the latest installed to no.
        {{}, "\n\n", v1, v2, 0, {a}, k_reboot, 2, 1},
        {{}, "y\nq\n", v1, v1, 3, {a}, k_cancelled, 2, 0},
        {{}, "c\ny\n", v1, v1, 0, {a}, k_reboot, 1, 0},
        {{}, "", v1, "", 3, {}, k_question_yes + "Unknown input problem!\nQuit...\n" + k_cancelled, 1, 0},
        {{"-y"}, "", v1, v2, 0, {a, b}, k_reboot, 0, 1},
        {{"-s"}, "", v2, v2, 1, {}, "", 0, 2},
        // A port already at the latest is skipped even after another was flashed.
        {{"-s"}, "", v1, v2, 0, {a}, "", 0, 1},
        {{"-s", "-F"}, "", v2, v1, 0, {a, b}, "", 0, 1},
        {{}, "", "", "", 1, {}, "\nNIC firmware update did not complete.  Check log for errors. \n", 0, 0},
    };
    for (const RunCase &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " input " + testing::PrintToString(c.input));
        sim::SimServer server;
        if (!c.a_installed.empty())
            two_ports(server, c.a_installed, c.b_installed);
        const bool silent = std::ranges::find(c.args, "-s") != c.args.end();

        const sim::Result r = server.run(c.args, c.input);

        EXPECT_EQ(r.status, c.status);
        Calls expected;
        for (const std::string &port : c.burned)
            expected.push_back(burn_argv(port, k_image, silent));
        EXPECT_EQ(burns(server), expected);
        EXPECT_EQ(server.tool_calls().size() - 2 * expected.size(), !c.a_installed.empty() + !c.b_installed.empty())
            << "one query for each port, and one more to verify each burn";
        EXPECT_TRUE(r.out.ends_with(c.out_tail)) << r.out;
        EXPECT_EQ(count_of(r.out, "y/n/q"), c.questions);
        EXPECT_EQ(count_of(server.log(), k_latest), c.latest_warnings);
        EXPECT_TRUE(!silent || r.out.find("Repository") == std::string::npos) << r.out;
    }
}

TEST(UpgradeRun, InteractiveRunShowsAndLogsEachStep)
{
    sim::SimServer server;
    add_port(server, k_port_a, "16.35.1000");
    add_port(server, k_port_b, "16.35.2000", "00:02:c9:12:34:56");
    server.set_catalog({image_entry(server, "16.35.2000", k_image)});

    const sim::Result r = server.run({}, "y\ny\n");

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a), burn_argv(k_port_b)}));
    EXPECT_NE(r.out.find("Repository has New firmware version for interface 0000:05:00.0.................Please "
                         "flash the newer version\n\nCurrent Firmware Version is 16.35.1000 on 0000:05:00.0 \n"
                         "Repository has these firmware versions............[1] Image Version  16.35.2000\n" +
                         k_question_yes),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Repository doesn't have newer firmware version, Installed firmware version is the latest "
                         "one..........Please Quit the updation.\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("Firmware Flashed:\tSUCCESS  for interface 0000:05:00.0\n\n"), std::string::npos);
    EXPECT_TRUE(r.out.ends_with(k_reboot)) << r.out;
    // The waiting notice comes once; a MAC with separators is logged without them.
    EXPECT_EQ(log_without_times(server.log()),
              "[INFO]     " + k_question_yes + " y\n\n\n" + k_selected_a +
                  "[INFO]     MAC b8cef6000510 Upgrade SUCCESS\n\n[WARNING]  " + k_latest + "\n[INFO]     " +
                  k_question_no + " y\n\n\n[INFO]     \nSelecting ConnectX-5 EN MAC: 00:02:c9:12:34:56 \n\n"
                  "[INFO]     MAC 0002c9123456 Upgrade SUCCESS\n\n");
    expect_no_burn_files_left(server);
}

// With the console's reader gone (a FIFO whose only reader is closed before the run), every write to the
// console meets a broken pipe: only the console is lost.
TEST(UpgradeRun, ConsoleReaderGoneLosesOnlyTheConsole)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000", "16.35.1000");
    const std::string script = "mkfifo console && exec 3<>console >console 3>&- && rm console && exec \"$0\" -y";
    const sim::Result r = server.run({"-c", script, ROVAN_SIM_BINARY}, "", {}, "/bin/sh");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a), burn_argv(k_port_b)}));
    EXPECT_EQ(count_of(server.log(), "Upgrade SUCCESS"), 2u) << server.log();
    expect_no_burn_files_left(server);
}

TEST(UpgradeRun, HighestVersionInNumericOrderIsBurned)
{
    sim::SimServer server;
    add_port(server, k_port_a, "2.9.0");
    sim::CatalogEntry unnamed = image_entry(server, "2.8.0", "fw-2.8.0.bin");
    unnamed.fwFile = "n/a";
    server.set_catalog({unnamed, image_entry(server, "2.10.500", "fw-2.10.500.bin", "First"),
                        image_entry(server, "2.9.1000", "fw-2.9.1000.bin"),
                        image_entry(server, "2.10.500", "fw-second.bin", "Second")});

    const sim::Result r = server.run({}, "y\n");

    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("[1] Image Version  2.8.0\n[2] Image Version  2.9.1000\n"
                         "[3] Image Version  2.10.500\n[4] Image Version  2.10.500\n"),
              std::string::npos)
        << r.out;
    // Among equal versions the first in catalog order is burned.
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, "fw-2.10.500.bin")}));
    const std::string log = server.log();
    EXPECT_NE(log.find("Selecting First MAC: "), std::string::npos) << log;
    EXPECT_EQ(count_of(log, "Failed to get firmware image filename from nic_fw/NICFWData.xml\n"), 1u);
}

TEST(UpgradeRun, SecureBootBurnsWithTheInstalledTool)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000");
    server.set_mokutil("SecureBoot enabled");
    server.set_mst(true);
    server.set_installed_flint(true);
    server.remove_package_file("nic_fw/mstflint");

    const sim::Result r = server.run({"-s"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image, true, "flint")}));
}

TEST(FlashFailure, FailedBurnBeforeASuccessEndsWithTwo)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000", "16.35.1000");
    set_burn(server, [](sim::FlashDevice &d) { d.burn_exit = 3; });

    const sim::Result r = server.run({"-y"});

    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a), burn_argv(k_port_b)}));
    EXPECT_TRUE(r.out.ends_with(k_errors)) << r.out;
    EXPECT_EQ(r.out.find("Please Reboot"), std::string::npos);
    // The search is echoed, and each stream of the tool reached its own stream of the console.
    EXPECT_NE(r.out.find("grep -i \"PSID Mismatch\" " + server.root() + "/tmp/data"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("-E- Burning FW image failed: flash write error on 0000:05:00.0"), std::string::npos);
    EXPECT_EQ(r.out.find("-E-"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("New FW version:               16.35.2000\n"), std::string::npos) << r.out;
    EXPECT_EQ(log_without_times(server.log()),
              k_selected_a + failed() + "[INFO]     \nSelecting ConnectX-5 EN MAC: b8cef6000520 \n\n"
                                        "[INFO]     MAC b8cef6000520 Upgrade SUCCESS\n\n");
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.1000");
    EXPECT_EQ(server.device_fw_version(k_port_b), "16.35.2000");
    expect_no_burn_files_left(server);
}

struct FailureCase {
    std::string name;
    std::vector<std::string> args;
    std::function<void(sim::SimServer &)> setup;
    bool burned;
    std::string errors; // the log's entries after the selection
};

TEST(FlashFailure, EachFailureIsLoggedAndCounted)
{
    const auto keeps_old = [](sim::SimServer &s) { set_burn(s, [](sim::FlashDevice &d) { d.burn_keeps_old = true; }); };
    const auto silent_after = [](sim::SimServer &s) {
        set_burn(s, [](sim::FlashDevice &d) { d.silent_after_burn = true; });
    };
    const std::vector<FailureCase> cases {
        {"tool exits non-zero", {"-s"},
         [](sim::SimServer &s) { set_burn(s, [](sim::FlashDevice &d) { d.burn_exit = 1; }); }, true, failed(true)},
        {"tool killed by a signal", {"-y"},
         [](sim::SimServer &s) { set_burn(s, [](sim::FlashDevice &d) { d.burn_killed = true; }); }, true,
         "[ERROR]    The flash tool was ended by signal 9 while burning 0000:05:00.0\n\n" + failed()},
        // The tool exits 0, but the adapter does not show the image.
        {"old firmware left", {"-s"}, keeps_old, true, not_verified("16.35.1000")},
        {"old firmware left", {"-y"}, keeps_old, true, not_verified("16.35.1000")},
        {"silent after the burn", {"-s"}, silent_after, true, not_verified("no version")},
        {"silent after the burn", {"-y"}, silent_after, true, not_verified("no version")},
        // The catalog names the board, the image file belongs to another one.
        {"PSID mismatch", {"-y"}, [](sim::SimServer &s) { s.add_image({k_image, "MT_0000000999", "16.35.2000"}); },
         true, failed(false, "Fimware upgrade on this device is not supported")},
        {"absent image file name", {"-y"},
         [](sim::SimServer &s) {
             sim::CatalogEntry entry = image_entry(s, "16.35.2000", k_image);
             entry.fwFile.reset();
             s.set_catalog({entry});
         },
         false, "[ERROR]    No firmware image file name for 0000:05:00.0; not flashed\n\n"},
        // An image name is taken only inside nic_fw/, even where the file it names exists.
        {"image name with ..", {"-y"}, [](sim::SimServer &s) { s.set_catalog({image_entry(s, "16.35.2000", "../x")}); },
         false, "[ERROR]    Image file name ../x leaves nic_fw/; not flashed\n\n"},
        {"absolute image name", {"-y"}, [](sim::SimServer &s) { s.set_catalog({image_entry(s, "16.35.2000", "/x")}); },
         false, "[ERROR]    Image file name /x leaves nic_fw/; not flashed\n\n"},
        // The query runs the tool, which then takes away its own right to be run: exec cannot start the burn.
        {"tool cannot be started", {"-y"},
         [](sim::SimServer &s) {
             const std::string tool = s.package_dir() + "/nic_fw/mstflint";
             std::filesystem::copy_file(tool, s.package_dir() + "/nic_fw/real");
             s.write_package_file("nic_fw/mstflint", "#!/bin/sh\nchmod a-x \"$0\"\nexec ./nic_fw/real \"$@\"\n");
             std::filesystem::permissions(tool, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
         },
         false, failed()},
    };
    for (const FailureCase &c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimServer server;
        two_ports(server, "16.35.1000");
        c.setup(server);

        const sim::Result r = server.run(c.args);

        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(burns(server), c.burned ? Calls({burn_argv(k_port_a, k_image, c.args[0] == "-s")}) : Calls());
        // A silent run keeps the closing message off the console.
        EXPECT_EQ(r.out.ends_with(k_errors), c.args[0] != "-s") << r.out;
        EXPECT_EQ(r.out.find("Firmware Flashed"), std::string::npos) << r.out;
        EXPECT_EQ(log_without_times(server.log()), k_selected_a + c.errors);
        expect_no_burn_files_left(server);
    }
}

TEST(FlashFailure, TerminateDuringABurnWaitsForTheToolThenEndsTheRun)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000", "16.35.1000");
    set_burn(server, [](sim::FlashDevice &d) { d.burn_seconds = 2; });

    const pid_t pid = server.start({"-s"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (burns(server).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(burns(server).empty());
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    const sim::Result r = server.finish(pid);

    EXPECT_EQ(r.term_signal, SIGTERM);
    EXPECT_NE(r.status, 0);
    // The burn finished and was logged; the second port was never started.
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.2000");
    EXPECT_EQ(log_without_times(server.log()), k_selected_a + "[INFO]     MAC b8cef6000510 Upgrade SUCCESS\n\n");
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image, true)}));
    expect_no_burn_files_left(server);
}

} // namespace
