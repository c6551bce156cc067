// The simulated server itself: the stand-in tools answer the utility's
// command lines as the real ones do, record every call, and the fake sysfs
// reads cleanly through libpci.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "sim_server.h"

namespace {

using Calls = std::vector<std::vector<std::string>>;

const char *const k_tool = "./nic_fw/mstflint";
const std::string k_address = "0000:05:00.0";

sim::FlashDevice device(const std::string &address = k_address)
{
    sim::FlashDevice dev;
    dev.address = address;
    return dev;
}

class FlashTool : public ::testing::Test {
protected:
    FlashTool()
    {
        server.add_flash_device(device());
        server.add_image({"good.bin", "MT_0000000080", "16.36.1000"});
        server.add_image({"other-board.bin", "MT_0000000099", "16.36.1000"});
    }
    sim::Result burn(const std::string &image, const std::string &input = "")
    {
        return server.run({"-s", "-y", "-d", k_address, "-i", "./nic_fw/" + image, "b"}, input, {}, k_tool);
    }
    sim::SimServer server;
};

TEST_F(FlashTool, QueryPrintsEachLabelPaddedToOneColumn)
{
    sim::Result r = server.run({"-d", k_address, "q"}, "", {}, k_tool);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\nFW Version:            16.35.2000\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nPSID:                  MT_0000000080\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nBase MAC:              b8cef6000000        4\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nProduct Version:       16.35.2000\n"), std::string::npos) << r.out;
}

TEST_F(FlashTool, QueryLeavesOutAbsentValuesAndStartsWithExtraLines)
{
    sim::FlashDevice dev = device();
    dev.fw_version.reset();
    dev.psid.reset();
    dev.base_mac.reset();
    dev.extra_query_lines = "psid of the day: none\n";
    server.add_flash_device(dev);
    sim::Result r = server.run({"-d", k_address, "q"}, "", {}, k_tool);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.starts_with("psid of the day: none\nImage type:")) << r.out;
    for (const char *label : {"FW Version:", "PSID:", "Base MAC:"})
        EXPECT_EQ(r.out.find(label), std::string::npos) << label;
}

TEST_F(FlashTool, QueryOfUnknownOrFailingDeviceCannotOpenIt)
{
    sim::FlashDevice failing = device("0000:06:00.0");
    failing.query_fails = true;
    server.add_flash_device(failing);
    for (const std::string address : {"0000:09:00.0", "0000:06:00.0"}) {
        sim::Result r = server.run({"-d", address, "q"}, "", {}, k_tool);
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "-E- Cannot open Device: " + address + ". No such file or directory\n");
    }
}

TEST_F(FlashTool, ShortAddressNamesTheDeviceInDomainZero)
{
    sim::Result r = server.run({"-d", "05:00.0", "q"}, "", {}, k_tool);
    EXPECT_NE(r.out.find("FW Version:            16.35.2000"), std::string::npos) << r.err;
}

TEST_F(FlashTool, BurnInstallsTheImageVersion)
{
    sim::Result r = burn("good.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(server.device_fw_version(k_address), "16.36.1000");
    r = server.run({"-d", k_address, "q"}, "", {}, k_tool);
    EXPECT_NE(r.out.find("FW Version:            16.36.1000\n"), std::string::npos);
}

TEST_F(FlashTool, BurnOfAnotherBoardsImageIsAPsidMismatch)
{
    sim::Result r = burn("other-board.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("PSID Mismatch"), std::string::npos) << r.err;
    EXPECT_EQ(server.device_fw_version(k_address), "16.35.2000");
}

TEST_F(FlashTool, BurnOfMissingImageFails)
{
    sim::Result r = burn("absent.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("absent.bin"), std::string::npos);
    EXPECT_EQ(server.device_fw_version(k_address), "16.35.2000");
}

TEST_F(FlashTool, BurnWithoutYesAsksAndAbortsUnlessConfirmed)
{
    const std::vector<std::string> args = {"-d", k_address, "-i", "./nic_fw/good.bin", "b"};
    EXPECT_EQ(server.run(args, "n\n", {}, k_tool).status, 1);
    EXPECT_EQ(server.run(args, "", {}, k_tool).status, 1);
    EXPECT_EQ(server.device_fw_version(k_address), "16.35.2000");
    EXPECT_EQ(server.run(args, "y\n", {}, k_tool).status, 0);
    EXPECT_EQ(server.device_fw_version(k_address), "16.36.1000");
}

TEST_F(FlashTool, InjectedBurnFailuresLeaveTheVersion)
{
    sim::FlashDevice dev = device();
    dev.burn_exit = 7;
    server.add_flash_device(dev);
    sim::Result r = burn("good.bin");
    EXPECT_EQ(r.status, 7);
    EXPECT_NE(r.err.find("-E- "), std::string::npos);

    dev.burn_exit = 0;
    dev.burn_killed = true;
    server.add_flash_device(dev);
    r = burn("good.bin");
    EXPECT_EQ(r.term_signal, SIGKILL);
    EXPECT_EQ(r.status, 128 + SIGKILL);
    EXPECT_NE(r.out.find("Burning"), std::string::npos) << "progress before the kill is kept";
    EXPECT_EQ(server.device_fw_version(k_address), "16.35.2000");
}

TEST_F(FlashTool, SlowBurnRunsInTheBackgroundUntilFinished)
{
    sim::FlashDevice dev = device();
    dev.burn_seconds = 1;
    server.add_flash_device(dev);
    const auto begin = std::chrono::steady_clock::now();
    pid_t pid = server.start({"-y", "-d", k_address, "-i", "./nic_fw/good.bin", "b"}, "", {}, k_tool);
    sim::Result r = server.finish(pid);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(server.device_fw_version(k_address), "16.36.1000");
}

TEST_F(FlashTool, HungRunIsKilledAfterTheTimeout)
{
    sim::FlashDevice dev = device();
    dev.burn_seconds = 30;
    server.add_flash_device(dev);
    server.set_run_timeout(1);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_THROW(burn("good.bin"), std::runtime_error);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
}

TEST_F(FlashTool, OtherCommandLinesAreUsageErrors)
{
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>> {
             {}, {"q"}, {"-d", k_address}, {"-d", k_address, "b"}, {"-d", k_address, "q", "extra"},
             {"-y", "-d", k_address, "q"}, {"-x", "-d", k_address, "q"}}) {
        sim::Result r = server.run(args, "", {}, k_tool);
        EXPECT_NE(r.status, 0) << ::testing::PrintToString(args);
        EXPECT_NE(r.err.find("Usage:"), std::string::npos) << ::testing::PrintToString(args);
    }
    EXPECT_EQ(server.device_fw_version(k_address), "16.35.2000");
}

TEST(ToolCalls, RecordTheExactArgumentsOfEveryStandIn)
{
    sim::SimServer server;
    server.set_installed_flint(true);
    server.add_flash_device(device());
    server.run({"-d", k_address, "q"}, "", {}, k_tool);
    server.run({"--help"}, "", {}, server.root() + "/usr/bin/flint");
    server.run({"two\twords", "a\nb", ""}, "", {}, "./getmlnxinfo");
    const Calls expected = {{k_tool, "-d", k_address, "q"},
                            {"/usr/bin/flint", "--help"},
                            {"./getmlnxinfo", "two\twords", "a\nb", ""}};
    EXPECT_EQ(server.tool_calls(), expected);
    server.clear_tool_calls();
    EXPECT_TRUE(server.tool_calls().empty());
}

TEST(StandIns, MokutilPrintsTheConfiguredFirstLineOrIsAbsent)
{
    sim::SimServer server;
    EXPECT_FALSE(std::filesystem::exists(server.root() + "/usr/bin/mokutil"));
    server.set_mokutil("SecureBoot disabled");
    EXPECT_EQ(server.run({"--sb-state"}, "", {}, server.root() + "/usr/bin/mokutil").out, "SecureBoot disabled\n");
    server.set_mokutil("SecureBoot enabled");
    EXPECT_EQ(server.run({"--sb-state"}, "", {}, server.root() + "/usr/bin/mokutil").out, "SecureBoot enabled\n");
    server.set_mokutil(std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(server.root() + "/usr/bin/mokutil"));
}

TEST(StandIns, MstExitsWithTheConfiguredStatuses)
{
    sim::SimServer server;
    EXPECT_FALSE(std::filesystem::exists(server.root() + "/usr/bin/mst"));
    server.set_mst(true, 3, 4);
    const std::string mst = server.root() + "/usr/bin/mst";
    sim::Result status = server.run({"status"}, "", {}, mst);
    EXPECT_EQ(status.status, 3);
    EXPECT_NE(status.out.find("MST modules"), std::string::npos);
    EXPECT_EQ(server.run({"start"}, "", {}, mst).status, 4);
    EXPECT_NE(server.run({"restart"}, "", {}, mst).status, 0);
    server.set_mst(true);
    EXPECT_EQ(server.run({"start"}, "", {}, mst).status, 0);
}

TEST(StandIns, GetmlnxinfoAnswersPerAddress)
{
    sim::SimServer server;
    server.set_getmlnxinfo("04:00.0", "srv#fw-a.bin rest", 0);
    server.set_getmlnxinfo("05:00.0", "srv#fw-b.bin", 3);
    sim::Result r = server.run({"imgfile", "04:00.0"}, "", {}, "./getmlnxinfo");
    EXPECT_EQ(r.out, "srv#fw-a.bin rest\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(server.run({"imgfile", "05:00.0"}, "", {}, "./getmlnxinfo").status, 3);
    EXPECT_EQ(server.run({"imgfile", "06:00.0"}, "", {}, "./getmlnxinfo").out, "0\n");
}

TEST(Runs, FeedInputThenEndItInThePackageDirectoryWithTheRootSet)
{
    sim::SimServer server;
    const std::string big(200000, 'x');
    EXPECT_EQ(server.run({}, big, {}, "/bin/cat").out, big);
    EXPECT_EQ(server.run({}, "", {}, "/bin/pwd").out, server.package_dir() + "\n");
    const std::string env = server.run({}, "", {{"EXTRA", "1"}}, "/usr/bin/env").out;
    EXPECT_NE(env.find("\nROVAN_SYSROOT=" + server.root() + "\n"), std::string::npos);
    EXPECT_NE(env.find("\nEXTRA=1\n"), std::string::npos);
}

TEST(Fixture, FilesAndTemporaryDirectory)
{
    sim::SimServer server;
    EXPECT_TRUE(server.tmp_files().empty());
    std::filesystem::create_directories(server.root() + "/tmp");
    for (const char *name : {"dataB", "dataA"})
        std::ofstream(server.root() + "/tmp/" + name) << "x";
    EXPECT_EQ(server.tmp_files(), (std::vector<std::string> {"dataA", "dataB"}));

    server.write_package_file("sub/report.xml", "<r/>");
    EXPECT_EQ(server.read_package_file("sub/report.xml"), "<r/>");
    server.remove_package_file("sub/report.xml");
    EXPECT_FALSE(server.package_file_exists("sub/report.xml"));
    EXPECT_EQ(server.log(), "");
    EXPECT_THROW(server.device_fw_version("0000:01:00.0"), std::invalid_argument);
}

TEST(Fixture, TemporaryServerIsRemovedAndAKeptOneStays)
{
    std::string temporary;
    {
        sim::SimServer server;
        temporary = server.root();
        EXPECT_TRUE(std::filesystem::exists(temporary + "/package/nic_fw/mstflint"));
        EXPECT_FALSE(temporary.starts_with("/tmp/")) << "a private /tmp would hide it";
    }
    EXPECT_FALSE(std::filesystem::exists(temporary));

    const std::string kept = temporary + "-kept";
    {
        sim::SimServer server(kept);
        EXPECT_EQ(server.root(), kept);
    }
    EXPECT_TRUE(std::filesystem::exists(kept + "/package/getmlnxinfo"));
    std::filesystem::remove_all(kept);
}

TEST(Sysfs, AttributeFilesAndNetworkLinks)
{
    sim::SimServer server;
    server.add_function({"0000:81:00.1", 0x020700, 0x15b3, 0x101d, 0x15b3, 0x0016, "ib0"});
    const std::string dir = server.root() + "/sys/bus/pci/devices/0000:81:00.1/";
    auto text = [](const std::string &path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(text(dir + "vendor"), "0x15b3\n");
    EXPECT_EQ(text(dir + "device"), "0x101d\n");
    EXPECT_EQ(text(dir + "class"), "0x020700\n");
    EXPECT_EQ(text(dir + "subsystem_device"), "0x0016\n");
    EXPECT_EQ(text(dir + "config").size(), 256u);
    EXPECT_TRUE(std::filesystem::read_symlink(server.root() + "/sys/class/net/ib0")
                    .string()
                    .ends_with("/0000:81:00.1/net/ib0"));
    EXPECT_THROW(server.add_function({"5:0.0"}), std::invalid_argument);
}

TEST(Sysfs, LspciReadsTheFakeTreeWithoutWarnings)
{
    if (!std::filesystem::exists("/usr/bin/lspci"))
        GTEST_SKIP() << "pciutils' lspci is not installed";
    sim::SimServer server;
    sim::build_demo_server(server);
    sim::Result r = server.run({"-O", "sysfs.path=" + server.root() + "/sys/bus/pci", "-i",
                                server.root() + "/usr/share/misc/pci.ids", "-nn"},
                               "", {}, "/usr/bin/lspci");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "03:00.0 Ethernet controller [0200]: Intel Corporation I210 Gigabit Network Connection [8086:1533]\n"
              "05:00.0 Ethernet controller [0200]: Mellanox Technologies MT27800 Family [ConnectX-5] [15b3:1017]\n"
              "05:00.1 Ethernet controller [0200]: Mellanox Technologies MT27800 Family [ConnectX-5] [15b3:1017]\n"
              "06:00.0 Ethernet controller [0200]: Mellanox Technologies MT27710 Family [ConnectX-4 Lx] "
              "[15b3:1015]\n"
              "07:00.0 Ethernet controller [0200]: Mellanox Technologies MT27710 Family [ConnectX-4 Lx] "
              "[15b3:1015]\n");
}

TEST(Demo, EveryCatalogImageIsPresentAndBurnable)
{
    sim::SimServer server;
    sim::build_demo_server(server);
    const std::string catalog = server.read_package_file("nic_fw/NICFWData.xml");
    const std::regex file_attribute("fwFile=\"([^\"]+)\"");
    int images = 0;
    for (std::sregex_iterator it(catalog.begin(), catalog.end(), file_attribute), end; it != end; ++it, ++images)
        EXPECT_TRUE(server.package_file_exists("nic_fw/" + (*it)[1].str())) << (*it)[1];
    EXPECT_GE(images, 3);
    sim::Result r = server.run({"-y", "-d", k_address, "-i", "./nic_fw/fw-ConnectX5-16.35.2000.bin", "b"}, "", {},
                               k_tool);
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(Demo, SecondDeviceOfAnAdapterReportsTheSamePsidAndMac)
{
    sim::SimServer server;
    sim::build_demo_server(server);
    const std::string first = server.run({"-d", "0000:06:00.0", "q"}, "", {}, k_tool).out;
    EXPECT_NE(first.find("PSID:"), std::string::npos);
    EXPECT_EQ(server.run({"-d", "0000:07:00.0", "q"}, "", {}, k_tool).out, first);
}

} // namespace
