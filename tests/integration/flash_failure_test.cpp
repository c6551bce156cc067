// Upgrade runs whose burns fail, are refused, are killed, or are
// interrupted by a signal sent to the utility.

#include <chrono>
#include <csignal>
#include <thread>

#include "upgrade_fixture.h"

using namespace upgrade_test;

namespace {

const std::string k_image = "fw-16.35.2000.bin";
const std::string k_errors = "\nNIC firmware update completed with errors. \n";

void set_burn(sim::SimServer &server, const std::string &address, const std::string &mac,
              void (*change)(sim::FlashDevice &))
{
    sim::FlashDevice dev;
    dev.address = address;
    dev.fw_version = "16.35.1000";
    dev.psid = k_psid;
    dev.base_mac = mac;
    change(dev);
    server.add_flash_device(dev);
}

std::string search_command(const sim::SimServer &server)
{
    return "grep -i \"PSID Mismatch\" " + server.root() + "/tmp/data";
}

TEST(FlashFailure, FailedBurnBeforeASuccessEndsWithTwo)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000", "16.35.1000");
    set_burn(server, k_port_a, k_mac_a, [](sim::FlashDevice &d) { d.burn_exit = 3; });

    const sim::Result r = server.run({"-y"});

    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image), burn_argv(k_port_b, k_image)}));
    EXPECT_TRUE(r.out.ends_with(k_errors)) << r.out;
    EXPECT_EQ(r.out.find("Please Reboot"), std::string::npos);
    // The search is echoed, and the tool's own error reached the console.
    EXPECT_NE(r.out.find(search_command(server)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("-E- Burning FW image failed: flash write error on 0000:05:00.0"), std::string::npos);
    EXPECT_EQ(r.out.find("SUCCESS  for interface 0000:05:00.0"), std::string::npos);
    EXPECT_NE(r.out.find("SUCCESS  for interface 0000:06:00.0"), std::string::npos);

    const std::string log = log_without_times(server.log());
    EXPECT_NE(log.find("[ERROR]    Upgrade failed\n \n"), std::string::npos) << log;
    EXPECT_EQ(log.find("MAC b8cef6000510 Upgrade SUCCESS"), std::string::npos);
    EXPECT_NE(log.find("[INFO]     MAC b8cef6000520 Upgrade SUCCESS\n"), std::string::npos);
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.1000");
    EXPECT_EQ(server.device_fw_version(k_port_b), "16.35.2000");
    expect_no_burn_files_left(server);
}

TEST(FlashFailure, SilentFailureShowsOnlyTheToolAndTheSearch)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000");
    set_burn(server, k_port_a, k_mac_a, [](sim::FlashDevice &d) { d.burn_exit = 1; });

    const sim::Result r = server.run({"-s"});

    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.find("completed with errors"), std::string::npos);
    EXPECT_NE(r.out.find(search_command(server)), std::string::npos);
    EXPECT_NE(server.log().find("Upgrade failed\n \n"), std::string::npos);
}

TEST(FlashFailure, PsidMismatchIsLoggedAsNotSupported)
{
    sim::SimServer server;
    add_port(server, k_port_a, "16.35.1000", k_mac_a);
    sim::CatalogEntry entry = image_entry(server, "16.35.2000", k_image);
    // The catalog names the board, the image file belongs to another one.
    sim::Image foreign;
    foreign.file = k_image;
    foreign.psid = "MT_0000000999";
    foreign.version = "16.35.2000";
    server.add_image(foreign);
    server.set_catalog({entry});

    const sim::Result r = server.run({"-y"});

    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("PSID Mismatch"), std::string::npos);
    const std::string log = log_without_times(server.log());
    EXPECT_NE(log.find("[ERROR]    Fimware upgrade on this device is not supported\n \n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Upgrade failed"), std::string::npos);
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.1000");
    expect_no_burn_files_left(server);
}

TEST(FlashFailure, ToolKilledBySignalIsAFailure)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000");
    set_burn(server, k_port_a, k_mac_a, [](sim::FlashDevice &d) { d.burn_killed = true; });

    const sim::Result r = server.run({"-y"});

    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.ends_with(k_errors)) << r.out;
    const std::string log = log_without_times(server.log());
    EXPECT_NE(log.find("[ERROR]    The flash tool was ended by signal 9 while burning 0000:05:00.0\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[ERROR]    Upgrade failed\n \n"), std::string::npos);
    EXPECT_EQ(log.find("Upgrade SUCCESS"), std::string::npos);
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.1000");
    expect_no_burn_files_left(server);
}

TEST(FlashFailure, AbsentImageFileNameIsNotBurned)
{
    sim::SimServer server;
    add_port(server, k_port_a, "16.35.1000", k_mac_a);
    sim::CatalogEntry entry = image_entry(server, "16.35.2000", k_image);
    entry.fwFile.reset();
    server.set_catalog({entry});

    const sim::Result r = server.run({"-y"});

    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(burns(server).empty());
    EXPECT_TRUE(r.out.ends_with(k_errors)) << r.out;
    const std::string log = log_without_times(server.log());
    EXPECT_NE(log.find("[ERROR]    No firmware image file name for 0000:05:00.0; not flashed\n"), std::string::npos)
        << log;
    expect_no_burn_files_left(server);
}

bool burn_started(const sim::SimServer &server)
{
    return !burns(server).empty();
}

TEST(FlashFailure, TerminateDuringABurnWaitsForTheToolThenEndsTheRun)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000", "16.35.1000");
    set_burn(server, k_port_a, k_mac_a, [](sim::FlashDevice &d) { d.burn_seconds = 2; });

    const pid_t pid = server.start({"-s"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!burn_started(server) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(burn_started(server));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    const sim::Result r = server.finish(pid);

    EXPECT_EQ(r.term_signal, SIGTERM);
    EXPECT_NE(r.status, 0);
    // The burn finished and was logged; the second port was never started.
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.2000");
    EXPECT_NE(server.log().find("MAC b8cef6000510 Upgrade SUCCESS\n"), std::string::npos) << server.log();
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image, true)}));
    EXPECT_EQ(server.device_fw_version(k_port_b), "16.35.1000");
    expect_no_burn_files_left(server);
}

} // namespace
