// Silent, forced and Secure Boot upgrade runs, and which image a run burns.

#include "upgrade_fixture.h"

using namespace upgrade_test;

namespace {

const std::string k_image = "fw-16.35.2000.bin";
const std::string k_latest_warning = "*** WARNING *** - Installed firmware is the latest firmware\n";

// Everything after the Secure Boot line goes through the silenced console.
void expect_silent_console(const sim::Result &r)
{
    EXPECT_EQ(r.out.find("Repository"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Firmware Flashed"), std::string::npos);
    EXPECT_EQ(r.out.find("Please Reboot"), std::string::npos);
    EXPECT_EQ(r.out.find("completed with errors"), std::string::npos);
}

TEST(UpgradeSilent, EveryPortAlreadyLatestEndsWithOne)
{
    sim::SimServer server;
    two_ports(server, "16.35.2000", "16.35.2000");

    const sim::Result r = server.run({"-s"});

    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(burns(server).empty());
    expect_silent_console(r);
    EXPECT_EQ(count_of(server.log(), k_latest_warning), 2u);
}

TEST(UpgradeSilent, LatestPortAfterABurnIsStillSkipped)
{
    sim::SimServer server;
    two_ports(server, "16.35.1000", "16.35.2000");

    const sim::Result r = server.run({"-s"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image, true)}));
    expect_silent_console(r);
    EXPECT_EQ(count_of(server.log(), k_latest_warning), 1u);
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.2000");
    expect_no_burn_files_left(server);
}

TEST(UpgradeSilent, ForceBurnsTheLatestInstalledToo)
{
    sim::SimServer server;
    two_ports(server, "16.35.2000", "16.35.1000");

    const sim::Result r = server.run({"-s", "-F"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image, true), burn_argv(k_port_b, k_image, true)}));
    expect_silent_console(r);
    EXPECT_EQ(server.device_fw_version(k_port_b), "16.35.2000");
}

TEST(UpgradeSilent, PortWithoutCatalogImageIsNotCountedAsSkipped)
{
    sim::SimServer server;
    add_port(server, k_port_a, "16.35.2000", k_mac_a);
    sim::FlashDevice other = add_port(server, k_port_b, "16.35.1000", k_mac_b);
    other.psid = "MT_0000000999";
    server.add_flash_device(other);
    server.set_catalog({image_entry(server, "16.35.2000", k_image)});

    const sim::Result r = server.run({"-s"});

    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(burns(server).empty());
    EXPECT_EQ(server.device_fw_version(k_port_b), "16.35.1000");
}

TEST(UpgradeSilent, NumericOrderChoosesTheImage)
{
    sim::SimServer server;
    add_port(server, k_port_a, "2.9.0", k_mac_a);
    server.set_catalog({image_entry(server, "2.10.500", "fw-2.10.500.bin"),
                        image_entry(server, "2.9.1000", "fw-2.9.1000.bin")});

    const sim::Result r = server.run({}, "y\n");

    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("[1] Image Version  2.9.1000\n[2] Image Version  2.10.500\n"), std::string::npos) << r.out;
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, "fw-2.10.500.bin")}));
    EXPECT_EQ(server.device_fw_version(k_port_a), "2.10.500");
}

TEST(UpgradeSilent, EqualVersionsBurnTheFirstInCatalogOrder)
{
    sim::SimServer server;
    add_port(server, k_port_a, "16.35.1000", k_mac_a);
    server.set_catalog({image_entry(server, "16.34.1002", "fw-old.bin", "Older"),
                        image_entry(server, "16.35.2000", "fw-first.bin", "First"),
                        image_entry(server, "16.35.2000", "fw-second.bin", "Second")});

    const sim::Result r = server.run({"-s"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, "fw-first.bin", true)}));
    EXPECT_NE(server.log().find("Selecting First MAC: "), std::string::npos);
}

TEST(UpgradeSilent, ImageNamedNotAvailableOnlyWarns)
{
    sim::SimServer server;
    add_port(server, k_port_a, "16.35.1000", k_mac_a);
    sim::CatalogEntry unnamed = image_entry(server, "16.34.1002", "fw-old.bin");
    unnamed.fwFile = "n/a";
    server.set_catalog({unnamed, image_entry(server, "16.35.2000", k_image)});

    const sim::Result r = server.run({"-s"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count_of(server.log(), "Failed to get firmware image filename from nic_fw/NICFWData.xml\n"), 1u);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image, true)}));
}

class UpgradeSecureBoot : public ::testing::Test {
protected:
    void SetUp() override
    {
        two_ports(server, "16.35.1000");
        server.set_mokutil("SecureBoot enabled");
        server.set_mst(true);
        server.set_installed_flint(true);
        // Only the installed tool is left to run.
        server.remove_package_file("nic_fw/mstflint");
    }
    sim::SimServer server;
};

TEST_F(UpgradeSecureBoot, InteractiveRunBurnsWithTheInstalledTool)
{
    const sim::Result r = server.run({}, "y\n");

    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("SecureBoot is enabled.\n"), std::string::npos);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image, false, "flint")}));
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.2000");
}

TEST_F(UpgradeSecureBoot, SilentRunPassesSilentToTheInstalledTool)
{
    const sim::Result r = server.run({"-s"});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, k_image, true, "flint")}));
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.2000");
}

} // namespace
