// The flash step called directly on hand-made records, in the package
// directory of a simulated server: the report-driven burn, the image index,
// the ports it leaves alone, and a tool that cannot be started.

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "control/console.h"
#include "flash/flash_exec.h"
#include "globals.h"
#include "upgrade_fixture.h"

using namespace upgrade_test;

namespace {

class FlashExec : public ::testing::Test {
protected:
    void SetUp() override
    {
        two_ports(server, "16.35.1000");
        server.add_image(sim::Image {"fw-2.40.7000.bin", k_psid, "2.40.7000"});
        server.add_image(sim::Image {"fw-2.42.5100.bin", k_psid, "2.42.5100"});
        saved_dir = std::filesystem::current_path();
        std::filesystem::current_path(server.package_dir());
        setenv("ROVAN_SYSROOT", server.root().c_str(), 1);
        setenv("ROVAN_SIM_STATE", server.state_dir().c_str(), 1);
        open_event_log();

        g_iFlag = 0x0010;
        silent = 0;
        boot_mode_value = 0;
        read_discovery = 0;
        g_ninfo.assign(1, nic_info {});
        g_nNics = 1;
        fw_number.assign(1, 0);
        ver_buf.clear();
    }
    void TearDown() override
    {
        std::fclose(pmstflint_fout);
        pmstflint_fout = nullptr;
        std::filesystem::current_path(saved_dir);
        unsetenv("ROVAN_SYSROOT");
        unsetenv("ROVAN_SIM_STATE");
        g_ninfo.clear();
        fw_number.clear();
        ver_buf.clear();
        g_iFlag = 0;
        silent = 0;
        read_discovery = 0;
    }

    // A port chosen for flashing with the given catalog images.
    nic_info &chosen_port(const std::vector<std::string> &versions, const std::vector<std::string> &files)
    {
        nic_info &nic = g_ninfo[0];
        nic.pbus_info = k_port_a;
        nic.pcurrent_mac = "b8:ce:f6:00:05:10";
        nic.flags = 3;
        nic.fw_count = static_cast<int32_t>(versions.size());
        for (size_t i = 0; i < versions.size(); ++i) {
            uint32_t v[3] {};
            std::sscanf(versions[i].c_str(), "%u.%u.%u", &v[0], &v[1], &v[2]);
            nic.uFwROMmaj.push_back(v[0]);
            nic.uFwROMmin.push_back(v[1]);
            nic.uFwROMrel.push_back(v[2]);
            nic.pxmlName.push_back("ConnectX-5 EN");
            nic.pxmlFwImage.push_back(files[i]);
        }
        return nic;
    }

    sim::SimServer server;
    std::filesystem::path saved_dir;
};

TEST_F(FlashExec, ReportDrivenBurnTakesTheFirstImageSilently)
{
    nic_info &nic = g_ninfo[0];
    nic.pbus_info = k_port_a;
    nic.pcurrent_mac = "b8:ce:f6:00:05:10";
    nic.flags = 3;
    nic.fw_count = 2;
    nic.pxmlName = {std::string("ConnectX-5 EN")};
    nic.pxmlFwImage = {std::string("fw-16.35.2000.bin")};
    g_iFlag = 0x0042;
    silent = 2;
    read_discovery = 1;

    EXPECT_EQ(do_update_firmware(0), 0);

    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, "fw-16.35.2000.bin", true)}));
    EXPECT_TRUE(g_iFlag & 0x0400);
    EXPECT_FALSE(g_iFlag & 0x1000);
    EXPECT_EQ(nic.pcurrent_mac, "b8:ce:f6:00:05:10");
    const std::string log = server.log();
    EXPECT_EQ(log.find("Selecting"), std::string::npos);
    EXPECT_NE(log.find("MAC b8:ce:f6:00:05:10 Upgrade SUCCESS\n"), std::string::npos) << log;
}

TEST_F(FlashExec, HighestSortedVersionGivesTheImageIndex)
{
    nic_info &nic = chosen_port({"2.40.7000", "2.42.5100"}, {"fw-2.40.7000.bin", "fw-2.42.5100.bin"});
    ver_buf = {"2.40.7000", "2.42.5100"};

    EXPECT_EQ(do_update_firmware(0), 0);

    EXPECT_EQ(fw_number[0], 1);
    EXPECT_EQ(burns(server), Calls({burn_argv(k_port_a, "fw-2.42.5100.bin")}));
    EXPECT_EQ(nic.pcurrent_mac, "b8cef6000510");
    EXPECT_EQ(server.device_fw_version(k_port_a), "2.42.5100");
}

TEST_F(FlashExec, PortNotChosenIsLeftAlone)
{
    nic_info &nic = chosen_port({"16.35.2000"}, {"fw-16.35.2000.bin"});
    nic.flags = 1;
    ver_buf = {"16.35.2000"};

    EXPECT_EQ(do_update_firmware(0), 0);

    EXPECT_TRUE(server.tool_calls().empty());
    EXPECT_EQ(g_iFlag & 0x1600, 0);
    EXPECT_TRUE(server.tmp_files().empty());
}

TEST_F(FlashExec, ChosenPortWithoutImagesOnlySaysSo)
{
    nic_info &nic = chosen_port({}, {});
    nic.flags = 3;

    testing::internal::CaptureStdout();
    EXPECT_EQ(do_update_firmware(0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Quitting......................as nothing found in repository\n");
    EXPECT_TRUE(server.tool_calls().empty());
}

TEST_F(FlashExec, SortedListNamingNoImageBurnsNothing)
{
    chosen_port({"16.35.2000"}, {"fw-16.35.2000.bin"});
    ver_buf = {"9.9.9"};

    testing::internal::CaptureStdout();
    EXPECT_EQ(do_update_firmware(0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "You have not entered the right Index for firmware version ....................\n");
    EXPECT_TRUE(server.tool_calls().empty());
    EXPECT_EQ(g_iFlag & 0x1600, 0);
}

TEST_F(FlashExec, ToolThatCannotBeStartedIsAFailure)
{
    chosen_port({"16.35.2000"}, {"fw-16.35.2000.bin"});
    ver_buf = {"16.35.2000"};
    server.remove_package_file("nic_fw/mstflint");

    EXPECT_NE(do_update_firmware(0), 0);

    EXPECT_TRUE(g_iFlag & 0x0200);
    EXPECT_FALSE(g_iFlag & 0x0400);
    EXPECT_NE(server.log().find("Upgrade failed\n \n"), std::string::npos) << server.log();
    EXPECT_EQ(server.device_fw_version(k_port_a), "16.35.1000");
    EXPECT_TRUE(server.tmp_files().empty());
}

} // namespace
