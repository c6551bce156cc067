// `rovan-sim -d`: what the discovery report says, where it goes, and what is left when it cannot be written.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support.h"

using namespace support;
namespace fs = std::filesystem;

namespace {

// The exact text of a report; a device is {device_id, devid, subdevid, macaddress, product_id, busnumber,
// devicenumber, funcnumber, firmware_id, version, active_version, action}.
std::string expected_report(const std::vector<std::vector<std::string>> &devices)
{
    const auto item = [](int depth, const std::string &name, const std::string &value) {
        return std::string(4 * depth, ' ') + "<" + name + " value=\"" + value + "\"/>\n";
    };
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<valtrix_rom_discovery version=\"2.0.0.0\">\n" +
                       item(1, "type", "MELLANOX_NIC") +
                       item(1, "alt_name", "Valtrix Mellanox InfiniBand Online Firmware Upgrade Utility for Linux") +
                       item(1, "version", "1.0.0") + item(1, "takes_effect", "reboot") + "    <devices>\n";
    for (const auto &d : devices) {
        text += "        <device>\n" + item(3, "device_id", d[0]) + item(3, "venid", "15B3") + item(3, "devid", d[1]) +
                item(3, "subvenid", "15B3") + item(3, "subdevid", d[2]) + item(3, "macaddress", d[3]) +
                item(3, "product_id", d[4]) + item(3, "busnumber", d[5]) + item(3, "devicenumber", d[6]) +
                item(3, "funcnumber", d[7]) + item(3, "slotnumber", "") + item(3, "nictype", "MELLANOX") +
                "            <fw_item>\n" + item(4, "type", "ROM") + item(4, "firmware_id", d[8]) +
                item(4, "version", d[9]) + item(4, "active_version", d[10]) + item(4, "action", d[11]) +
                item(4, "duration", "210") + item(4, "message", "") + item(4, "shared", "no") +
                "            </fw_item>\n        </device>\n";
    }
    return text + "    </devices>\n</valtrix_rom_discovery>\n";
}

std::string error(const std::string &text) { return "[ERROR]    " + text + "\n\n"; }

} // namespace

// The upgrade offered in numeric version order; a port without an interface link; one without a catalog image,
// its values to escape or with bytes XML cannot carry (each written as "?" and logged, the report whole); left out:
// an Intel port and a Mellanox port whose version cannot be read. The report is valid by the schema of docs/.
TEST(DiscoveryReport, HoldsEachCompletePortValueForValueAndBurnsNothing)
{
    sim::SimServer server;
    server.add_port({.address = "0000:03:00.0", .fw_version = std::nullopt});
    server.add_port({.address = "0000:04:00.1", .psid = "MT_&<\"'>\x1b[1m\x01", .base_mac = "b8\xc3"},
                    {.device = 0x1015, .subsystem_device = 0x00af, .netif = "ib\xff"});
    server.add_port({.address = "0000:05:00.0", .fw_version = "2.40.7000", .base_mac = "b8c1"});
    server.add_function({.address = "0000:3b:00.0", .vendor = 0x8086, .netif = "eth0"});
    server.set_catalog({{.rom = "2.42.5000"}, {.rom = "16.35.1012"}});
    const mode_t mask = umask(0);
    umask(mask);
    ASSERT_EQ(server.run({"-d"}).status, 0) << server.log();
    const std::string report = server.package_dir() + "/nicdiscovery.xml";
    EXPECT_EQ(std::system(("xmllint --noout --schema '" ROVAN_SOURCE_DIR "/docs/discovery-report.xsd' '" + report +
                           "'").c_str()), 0);
    EXPECT_EQ(server.read_package_file("nicdiscovery.xml"), expected_report({
        {"ib?", "1015", "00AF", "b8?", "", "0000:04", "00", "1", "MT_&amp;&lt;&quot;'&gt;?[1m?", "", "16.35.2000",
         "Nothing"},
        {"0000:05:00.0", "1017", "0007", "b8c1", "ConnectX-5 EN", "0000:05", "00", "0", "MT_0000000080", "16.35.1012",
         "2.40.7000", "upgrade"}}));
    EXPECT_EQ(fs::status(report).permissions(), fs::perms(0666 & ~mask)) << "a new file's mode";
    const std::string cut = " of 0000:04:00.1 holds bytes that XML cannot carry; each is written as \"?\"";
    EXPECT_EQ(log_without_times(server), error("For 0000:04:00.1 no matching firmware file in XML") +
              error("Report item device_id" + cut) + error("Report item macaddress" + cut) +
              error("Report item firmware_id" + cut) + error("deviceId:Writing Interface Name"));
    EXPECT_EQ(commands(server), Calls {}) << "an upgrade is only requested in the report";
}

// Runs of -d in turn over one server: none while no port can be reported, a report replaced through a link, and
// saves that fail: status 2, the earlier report as it was, no file left or lost, the path logged. A link in a
// world-writable sticky directory is followed only where the kernel would follow it: when it is root's or the
// directory owner's.
TEST(DiscoveryReportFile, IsReplacedWholeOrNotAtAll)
{
    sim::SimServer server;
    const std::string dir = server.package_dir(), file = dir + "/reports/fleet.xml", earlier = "<earlier report/>\n";
    const auto fails = [&](const std::string &path, const std::string &logged) {
        server.write_package_file("mstflint.log", "");
        const auto files = std::distance(fs::recursive_directory_iterator(dir), {});
        EXPECT_EQ(server.run({"-d", path}).status, 2) << path;
        EXPECT_EQ(server.read_package_file("reports/fleet.xml"), earlier) << path;
        EXPECT_EQ(std::distance(fs::recursive_directory_iterator(dir), {}), files) << path;
        EXPECT_NE(log_without_times(server).find(logged), std::string::npos) << path << "\n" << server.log();
    };
    server.set_catalog({{}});
    server.add_function({.address = "0000:3b:00.0", .vendor = 0x8086});
    server.write_package_file("reports/fleet.xml", earlier);
    fails("reports/fleet.xml", ""); // no Mellanox port
    server.add_port({.address = "0000:05:00.0", .psid = std::nullopt});
    fails("reports/fleet.xml", ""); // no port with a readable PSID
    server.add_flash_device({.address = "0000:05:00.0", .fw_version = "16.34.1002"});
    fails("missing/fleet.xml", "[ERROR]    xml_discovery_report: Failed to write missing/fleet.xml");
    fails("reports", "[ERROR]    xml_discovery_report: Failed to write reports");
    // Through a link the link stays, and its target is replaced by a rename: a reader of the old file keeps it whole.
    fs::permissions(file, fs::perms(0640));
    fs::create_hard_link(file, dir + "/held.xml");
    fs::create_symlink("reports/fleet.xml", dir + "/link.xml");
    ASSERT_EQ(server.run({"-d", "link.xml"}).status, 0) << server.log();
    EXPECT_TRUE(fs::is_symlink(dir + "/link.xml"));
    EXPECT_NE(server.read_package_file("reports/fleet.xml").find("<active_version value=\"16.34.1002\"/>"),
              std::string::npos);
    EXPECT_EQ(server.read_package_file("held.xml"), earlier) << "rewritten in place";
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0640)) << "the replaced report's mode";
    EXPECT_FALSE(server.package_file_exists("nicdiscovery.xml"));

    if (geteuid() != 0)
        GTEST_SKIP() << "SKIPPED links of other users: they need root";
    const std::string shared = dir + "/shared", link = shared + "/nic.xml";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms(01777));
    ASSERT_EQ(chown(shared.c_str(), 65534, 65534), 0);
    for (const auto &[owner, followed] : {std::pair(0, true), std::pair(65534, true), std::pair(65533, false)}) {
        SCOPED_TRACE(owner);
        server.write_package_file("target.xml", earlier);
        server.write_package_file("mstflint.log", "");
        fs::remove(link);
        fs::create_symlink("../target.xml", link);
        ASSERT_EQ(lchown(link.c_str(), owner, owner), 0);
        EXPECT_EQ(server.run({"-d", "shared/nic.xml"}).status, followed ? 0 : 2);
        EXPECT_EQ(server.read_package_file("target.xml") == earlier, !followed);
        EXPECT_EQ(log_without_times(server), error("deviceId:Writing Interface Name") + (followed ? "" : error("xml_discovery_report: Failed to write shared/nic.xml: "
                  "the link shared/nic.xml lies in a world-writable sticky directory and belongs neither to the user "
                  "running rovan nor to the directory's owner")));
        EXPECT_TRUE(fs::is_symlink(link));
    }
}
