// Where the discovery report goes and when it does not: exit statuses of
// `rovan-sim -d`, replacement of an earlier report, and no stray files.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "report_check.h"
#include "sim_server.h"

using namespace report_check;
namespace fs = std::filesystem;

namespace {

const char *const k_earlier = "<earlier report/>\n";

void add_mellanox_port(sim::SimServer &server, const std::string &fw_version = "16.35.2000")
{
    sim::PciFunction fn;
    fn.address = "0000:05:00.0";
    fn.netif = "eth2";
    server.add_function(fn);
    sim::FlashDevice dev;
    dev.address = fn.address;
    dev.fw_version = fw_version;
    server.add_flash_device(dev);
    server.set_catalog({sim::CatalogEntry{}});
}

void add_intel_port(sim::SimServer &server)
{
    sim::PciFunction fn;
    fn.address = "0000:3b:00.0";
    fn.vendor = 0x8086;
    fn.device = 0x1572;
    fn.subsystem_vendor = 0x8086;
    fn.netif = "eth0";
    server.add_function(fn);
}

std::string active_version_in(const sim::SimServer &server, const std::string &path)
{
    std::optional<xml_node> root = parse_report(server.read_package_file(path));
    if (!root || devices_of(*root).empty())
        return "<no device>";
    return device_value(devices_of(*root)[0], "active_version");
}

// An error entry of the event log that names the report's path.
bool error_names_path(const std::string &log, const std::string &path)
{
    for (size_t at = log.find("[ERROR]    "); at != std::string::npos; at = log.find("[ERROR]    ", at + 1)) {
        const size_t end = log.find('\n', at);
        if (log.substr(at, end - at).find(path) != std::string::npos)
            return true;
    }
    return false;
}

// A program that runs rovan-sim with dir mounted read-only, in a mount
// namespace of its own, so that even root cannot write there. Nothing when
// this machine does not permit that.
std::optional<std::string> read_only_runner(const sim::SimServer &server, const std::string &dir)
{
    const std::string probe = "unshare -m --propagation private sh -c 'mount --bind -o ro " + shell_quote(dir) + " " +
                              shell_quote(dir) + "' >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0)
        return std::nullopt;
    const std::string runner = server.root() + "/read-only-runner";
    std::ofstream(runner) << "#!/bin/sh\n"
                          << "exec unshare -m --propagation private sh -c "
                             "'mount --bind -o ro \"$1\" \"$1\" || exit 97; shift; exec \"$@\"' sh "
                          << shell_quote(dir) << " " << shell_quote(ROVAN_SIM_BINARY) << " \"$@\"\n";
    fs::permissions(runner, fs::perms::owner_all);
    return runner;
}

} // namespace

TEST(DiscoveryReportFile, NoMellanoxPortGivesStatus2AndLeavesTheEarlierReport)
{
    sim::SimServer server;
    add_intel_port(server);
    server.set_catalog({sim::CatalogEntry{}});
    server.write_package_file("nicdiscovery.xml", k_earlier);
    const sim::Result r = server.run({"-d"});
    EXPECT_EQ(r.status, 2) << server.log();
    EXPECT_EQ(server.read_package_file("nicdiscovery.xml"), k_earlier);
}

TEST(DiscoveryReportFile, NoReadablePortGivesStatus2AndLeavesTheEarlierReport)
{
    sim::SimServer server;
    add_mellanox_port(server);
    sim::FlashDevice unreadable;
    unreadable.address = "0000:05:00.0";
    unreadable.psid.reset();
    server.add_flash_device(unreadable);
    server.write_package_file("out/fleet.xml", k_earlier);
    const sim::Result r = server.run({"-d", "out/fleet.xml"});
    EXPECT_EQ(r.status, 2) << server.log();
    EXPECT_EQ(server.read_package_file("out/fleet.xml"), k_earlier);
}

TEST(DiscoveryReportFile, MissingDirectoryGivesStatus2AndLogsThePath)
{
    sim::SimServer server;
    add_mellanox_port(server);
    const sim::Result r = server.run({"-d", "missing/fleet.xml"});
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(server.package_file_exists("missing"));
    EXPECT_TRUE(error_names_path(server.log(), "missing/fleet.xml")) << server.log();
}

TEST(DiscoveryReportFile, UnwritableDirectoryGivesStatus2AndLeavesTheEarlierReport)
{
    sim::SimServer server;
    add_mellanox_port(server);
    server.write_package_file("locked/fleet.xml", k_earlier);
    const std::string dir = server.package_dir() + "/locked";

    sim::Result r;
    if (geteuid() != 0) {
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        r = server.run({"-d", "locked/fleet.xml"});
        fs::permissions(dir, fs::perms::owner_all);
    } else {
        std::optional<std::string> runner = read_only_runner(server, dir);
        if (!runner)
            GTEST_SKIP() << "root cannot be kept from writing here: a private read-only mount is not permitted";
        r = server.run({"-d", "locked/fleet.xml"}, "", {}, *runner);
        ASSERT_NE(r.status, 97) << "the read-only mount failed";
    }
    EXPECT_EQ(r.status, 2) << r.err << server.log();
    EXPECT_EQ(server.read_package_file("locked/fleet.xml"), k_earlier);
    EXPECT_TRUE(error_names_path(server.log(), "locked/fleet.xml")) << server.log();
    EXPECT_EQ(directory_entries(dir), (std::vector<std::string>{"fleet.xml"}));
}

TEST(DiscoveryReportFile, PathNamingADirectoryGivesStatus2AndLeavesNoTemporaryFile)
{
    sim::SimServer server;
    add_mellanox_port(server);
    server.write_package_file("reports/fleet.xml/inside", "kept\n");
    const sim::Result r = server.run({"-d", "reports/fleet.xml"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(server.read_package_file("reports/fleet.xml/inside"), "kept\n");
    EXPECT_TRUE(error_names_path(server.log(), "reports/fleet.xml")) << server.log();
    EXPECT_EQ(directory_entries(server.package_dir() + "/reports"), (std::vector<std::string>{"fleet.xml"}));
}

TEST(DiscoveryReportFile, SecondRunReplacesTheFirstAndLeavesNoTemporaryFile)
{
    sim::SimServer server;
    add_mellanox_port(server, "16.34.1002");
    server.write_package_file("reports/.keep", "");
    ASSERT_EQ(server.run({"-d", "reports/fleet.xml"}).status, 0);
    EXPECT_EQ(active_version_in(server, "reports/fleet.xml"), "16.34.1002");

    sim::FlashDevice upgraded;
    upgraded.address = "0000:05:00.0";
    upgraded.fw_version = "16.35.2000";
    server.add_flash_device(upgraded);
    ASSERT_EQ(server.run({"-d", "reports/fleet.xml"}).status, 0);
    EXPECT_EQ(active_version_in(server, "reports/fleet.xml"), "16.35.2000");
    EXPECT_TRUE(schema_valid(server.package_dir() + "/reports/fleet.xml"));
    EXPECT_EQ(directory_entries(server.package_dir() + "/reports"), (std::vector<std::string>{".keep", "fleet.xml"}));
}

TEST(DiscoveryReportFile, ReplacingKeepsThePermissionsOfTheEarlierReport)
{
    sim::SimServer server;
    add_mellanox_port(server);
    server.write_package_file("nicdiscovery.xml", k_earlier);
    const std::string path = server.package_dir() + "/nicdiscovery.xml";
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(server.run({"-d"}).status, 0);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_NE(server.read_package_file("nicdiscovery.xml"), k_earlier);
}

TEST(DiscoveryReportFile, NewReportGetsTheModeOfANewlyCreatedFile)
{
    sim::SimServer server;
    add_mellanox_port(server);
    ASSERT_EQ(server.run({"-d"}).status, 0);
    const mode_t mask = umask(0);
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat((server.package_dir() + "/nicdiscovery.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);
}
