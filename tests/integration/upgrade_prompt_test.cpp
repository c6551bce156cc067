// Interactive and -y upgrade runs: the listing, the question, the operator's
// answers and what each answer burns.

#include "upgrade_fixture.h"

using namespace upgrade_test;

namespace {

const std::string k_image = "fw-16.35.2000.bin";
const std::string k_reboot = "\n\nPlease Reboot node for new image to be loaded into silicon\n\n";
const std::string k_cancelled = "\nFirmware upgrade cancelled by User \n";
const std::string k_question_yes = "Would you like to flash the firmware?\n y/n/q (y):";
const std::string k_question_no = "Would you like to flash the firmware?\n y/n/q (n):";

TEST(UpgradePrompt, YesBurnsTheNewerImageAndAsksForAReboot)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000");

    const sim::Result r = server.run({}, "y\n");

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image)}));
    EXPECT_NE(r.out.find("Repository has New firmware version for interface 0000:05:00.0.................Please "
                         "flash the newer version\n\nCurrent Firmware Version is 16.35.1000 on 0000:05:00.0 \n"
                         "Repository has these firmware versions............[1] Image Version  16.35.2000\n" +
                         k_question_yes),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Firmware Flashed:\tSUCCESS  for interface 0000:05:00.0\n\n"), std::string::npos);
    EXPECT_TRUE(r.out.ends_with(k_reboot)) << r.out;
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.2000");

    const std::string log = log_without_times(server.log());
    EXPECT_NE(log.find("[INFO]     " + k_question_yes + " y\n\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[INFO]     \nThe Firmware Upgrade will take several minutes.  Please be patient.\n"),
              std::string::npos);
    EXPECT_NE(log.find("[INFO]     \nSelecting ConnectX-5 EN MAC: b8cef6000510 \n"), std::string::npos);
    EXPECT_NE(log.find("[INFO]     MAC b8cef6000510 Upgrade SUCCESS\n"), std::string::npos);
    expect_no_burn_files_left(server);
}

TEST(UpgradePrompt, NoFlashesNothingAndEndsQuietly)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000");

    const sim::Result r = server.run({}, "n\n");

    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(burns(server).empty());
    EXPECT_TRUE(r.out.ends_with(k_question_yes)) << r.out;
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.1000");
    EXPECT_NE(log_without_times(server.log()).find(k_question_yes + " n\n"), std::string::npos);
    EXPECT_TRUE(server.tmp_files().size() <= 1u);
}

TEST(UpgradePrompt, EnterTakesTheDefaultOfEachQuestion)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000", "16.35.2000");

    const sim::Result r = server.run({}, "\n\n");

    EXPECT_EQ(r.status, 0);
    // A newer image defaults to yes, the latest installed to no.
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image)}));
    const size_t first = r.out.find(k_question_yes);
    const size_t second = r.out.find(k_question_no);
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
    EXPECT_NE(r.out.find("Repository doesn't have newer firmware version, Installed firmware version is the latest "
                         "one..........Please Quit the updation.\n"),
              std::string::npos);
    EXPECT_NE(server.log().find("*** WARNING *** - Installed firmware is the latest firmware\n"), std::string::npos);
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.2000");
    EXPECT_EQ(server.device_fw_version(k_port_b), "16.35.2000");
}

TEST(UpgradePrompt, YesForTheLatestInstalledBurnsItAgain)
{
    sim::SimServer server;
    two_ports(server, "16.35.2000");

    const sim::Result r = server.run({}, "y\n");

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image)}));
    EXPECT_TRUE(r.out.ends_with(k_reboot));
}

TEST(UpgradePrompt, QuitAtTheSecondPortKeepsTheFirstBurn)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000", "16.35.1000");

    const sim::Result r = server.run({}, "y\nq\n");

    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image)}));
    EXPECT_TRUE(r.out.ends_with(k_cancelled)) << r.out;
    EXPECT_EQ(r.out.find("Please Reboot"), std::string::npos);
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.2000");
    EXPECT_EQ(server.device_fw_version(k_port_b), "16.35.1000");
}

TEST(UpgradePrompt, ContinueBurnsThisPortAndAsksNoMore)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000", "16.35.1000");

    const sim::Result r = server.run({}, "c\ny\n");

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count_of(r.out, "y/n/q"), 1u);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image)}));
    EXPECT_TRUE(r.out.ends_with(k_reboot));
    EXPECT_EQ(server.device_fw_version(k_port_b), "16.35.1000");
}

TEST(UpgradePrompt, EndOfInputQuitsTheRun)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000");

    const sim::Result r = server.run({}, "");

    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(burns(server).empty());
    EXPECT_TRUE(r.out.ends_with(k_question_yes + "Unknown input problem!\nQuit...\n" + k_cancelled)) << r.out;
    EXPECT_EQ(server.log().find("y/n/q"), std::string::npos);
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.1000");
}

TEST(UpgradePrompt, YesOptionBurnsEveryPortWithoutAsking)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000", "16.35.2000");

    const sim::Result r = server.run({"-y"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("y/n/q"), std::string::npos);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image), burn_argv(k_port_b, k_image)}));
    EXPECT_TRUE(r.out.ends_with(k_reboot));

    // The waiting notice is logged once, before the first port's selection.
    const std::string log = server.log();
    EXPECT_EQ(count_of(log, "will take several minutes"), 1u);
    EXPECT_LT(log.find("will take several minutes"), log.find("Selecting"));
    EXPECT_EQ(count_of(log, "Upgrade SUCCESS"), 2u);
    EXPECT_NE(log.find("MAC b8cef6000520 Upgrade SUCCESS"), std::string::npos);
    expect_no_burn_files_left(server);
}

TEST(UpgradePrompt, MacWithSeparatorsIsLoggedWithoutThem)
{
    sim::SimServer server;
    add_port(server, k_port_a, "16.35.1000", "00:02:c9:12:34:56");
    server.set_catalog({image_entry(server, "16.35.2000", k_image)});

    const sim::Result r = server.run({"-y"});

    EXPECT_EQ(r.status, 0);
    const std::string log = server.log();
    EXPECT_NE(log.find("Selecting ConnectX-5 EN MAC: 00:02:c9:12:34:56 \n"), std::string::npos) << log;
    EXPECT_NE(log.find("MAC 0002c9123456 Upgrade SUCCESS\n"), std::string::npos) << log;
}

TEST(UpgradePrompt, InventoryFailureEndsTheRunWithItsStatus)
{
    const std::string incomplete = "\nNIC firmware update did not complete.  Check log for errors. \n";
    sim::SimServer none;
    const sim::Result no_port = none.run({});
    EXPECT_EQ(no_port.status, 1);
    EXPECT_TRUE(no_port.out.ends_with(incomplete)) << no_port.out;

    sim::SimServer unreadable;
    two_ports(unreadable, "16.35.1000");
    sim::FlashDevice dev;
    dev.address = k_port_a;
    dev.query_fails = true;
    unreadable.add_flash_device(dev);
    const sim::Result no_version = unreadable.run({}, "y\n");
    EXPECT_EQ(no_version.status, 2);
    EXPECT_TRUE(no_version.out.ends_with(incomplete)) << no_version.out;
    EXPECT_TRUE(burns(unreadable).empty());
}

} // namespace
