// What the discovery report says: `rovan-sim -d` over simulated servers,
// each report read back and validated against the report's schema.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report_check.h"
#include "sim_server.h"

using namespace report_check;

namespace {

struct port {
    std::string address;
    unsigned device;
    unsigned subsystem_device;
    std::string netif;
    std::string fw_version;
    std::string psid;
    std::string mac;
};

void add_port(sim::SimServer &server, const port &p)
{
    sim::PciFunction fn;
    fn.address = p.address;
    fn.device = p.device;
    fn.subsystem_device = p.subsystem_device;
    fn.netif = p.netif;
    server.add_function(fn);

    sim::FlashDevice dev;
    dev.address = p.address;
    dev.fw_version = p.fw_version;
    dev.psid = p.psid;
    dev.base_mac = p.mac;
    server.add_flash_device(dev);
}

sim::CatalogEntry catalog_image(const std::string &name, const std::string &devid, const std::string &subdevid,
                                const std::string &psid, const std::string &rom)
{
    sim::CatalogEntry e;
    e.name = name;
    e.devid = devid;
    e.subdevid = subdevid;
    e.psid = psid;
    e.rom = rom;
    e.fwFile = "fw-" + rom + ".bin";
    return e;
}

// Runs -d (to the default path, or to path) and returns the report's root;
// the run must succeed and the report must be a valid one.
xml_node discover(const sim::SimServer &server, const std::string &path = "")
{
    const std::vector<std::string> args = path.empty() ? std::vector<std::string>{"-d"}
                                                       : std::vector<std::string>{"-d", path};
    const sim::Result r = server.run(args);
    EXPECT_EQ(r.status, 0) << r.out << r.err << server.log();
    const std::string file = path.empty() ? "nicdiscovery.xml" : path;
    EXPECT_TRUE(server.package_file_exists(file));
    EXPECT_TRUE(schema_valid(server.package_dir() + "/" + file)) << server.read_package_file(file);
    std::optional<xml_node> root = parse_report(server.read_package_file(file));
    EXPECT_TRUE(root.has_value());
    return root.value_or(xml_node{});
}

items expected_device(const std::string &device_id, const std::string &devid, const std::string &subdevid,
                      const std::string &mac, const std::string &product, const std::string &busnumber,
                      const std::string &devicenumber, const std::string &funcnumber)
{
    return {{"device_id", device_id},   {"venid", "15B3"},
            {"devid", devid},           {"subvenid", "15B3"},
            {"subdevid", subdevid},     {"macaddress", mac},
            {"product_id", product},    {"busnumber", busnumber},
            {"devicenumber", devicenumber}, {"funcnumber", funcnumber},
            {"slotnumber", ""},         {"nictype", "MELLANOX"}};
}

items expected_fw_item(const std::string &psid, const std::string &version, const std::string &active,
                       const std::string &action)
{
    return {{"type", "ROM"},        {"firmware_id", psid}, {"version", version}, {"active_version", active},
            {"action", action},     {"duration", "210"},   {"message", ""},      {"shared", "no"}};
}

// Four Mellanox ports, one for each action, with an Intel port among them.
void build_four_action_server(sim::SimServer &server)
{
    add_port(server, {"0000:05:00.0", 0x1017, 0x0007, "eth2", "2.40.7000", "MT_0000000080", "b8cef6000001"});
    sim::PciFunction intel;
    intel.address = "0000:3b:00.0";
    intel.vendor = 0x8086;
    intel.device = 0x1572;
    intel.subsystem_vendor = 0x8086;
    intel.subsystem_device = 0x0001;
    intel.netif = "eth0";
    server.add_function(intel);
    add_port(server, {"0000:af:00.1", 0x1015, 0x00af, "ib0", "14.32.1010", "MT_2420110034", "b8cef6000002"});
    add_port(server, {"0000:d8:00.0", 0x101b, 0x0008, "ib1", "20.31.1014", "MT_0000000222", "b8cef6000003"});
    add_port(server, {"0000:e1:00.0", 0x1017, 0x0007, "eth5", "16.35.2000", "MT_0000000999", "b8cef6000004"});
    server.set_catalog({
        catalog_image("ConnectX-5 EN", "1017", "0007", "MT_0000000080", "2.42.5000"),
        catalog_image("ConnectX-5 EN", "1017", "0007", "MT_0000000080", "2.40.7000"),
        catalog_image("ConnectX-4 Lx", "1015", "00AF", "MT_2420110034", "14.30.1004"),
        catalog_image("ConnectX-4 Lx", "1015", "00AF", "MT_2420110034", "14.32.1010"),
        catalog_image("ConnectX-6 VPI", "101B", "0008", "MT_0000000222", "20.28.1002"),
    });
}

bool any_burn(const sim::SimServer &server)
{
    for (const auto &call : server.tool_calls()) {
        if (!call.empty() && call.back() == "b")
            return true;
    }
    return false;
}

} // namespace

TEST(DiscoveryReport, HeaderAndOneDevicePerCompletePortInInventoryOrder)
{
    sim::SimServer server;
    build_four_action_server(server);
    const xml_node root = discover(server);

    EXPECT_EQ(root.name, "valtrix_rom_discovery");
    EXPECT_EQ(root.attributes, (std::map<std::string, std::string>{{"version", "2.0.0.0"}}));
    EXPECT_EQ(child_names(root), (std::vector<std::string>{"type", "alt_name", "version", "takes_effect", "devices"}));
    EXPECT_EQ(value_items(root), (items{{"type", "MELLANOX_NIC"},
                                        {"alt_name", "Valtrix Mellanox InfiniBand Online Firmware Upgrade Utility for Linux"},
                                        {"version", "1.0.0"},
                                        {"takes_effect", "reboot"}}));
    const std::vector<xml_node> devices = devices_of(root);
    ASSERT_EQ(devices.size(), 4u);
    for (const xml_node &device : devices) {
        EXPECT_EQ(device.name, "device");
        EXPECT_TRUE(device.attributes.empty());
        EXPECT_EQ(child_names(device), (std::vector<std::string>{"device_id", "venid", "devid", "subvenid", "subdevid",
                                                                 "macaddress", "product_id", "busnumber",
                                                                 "devicenumber", "funcnumber", "slotnumber", "nictype",
                                                                 "fw_item"}));
    }
}

TEST(DiscoveryReport, EveryValueOfEachDeviceWithItsAction)
{
    sim::SimServer server;
    build_four_action_server(server);
    const std::vector<xml_node> devices = devices_of(discover(server));
    ASSERT_EQ(devices.size(), 4u);

    EXPECT_EQ(value_items(devices[0]),
              expected_device("eth2", "1017", "0007", "b8cef6000001", "ConnectX-5 EN", "0000:05", "00", "0"));
    EXPECT_EQ(value_items(*child_named(devices[0], "fw_item")),
              expected_fw_item("MT_0000000080", "2.42.5000", "2.40.7000", "upgrade"));

    EXPECT_EQ(value_items(devices[1]),
              expected_device("ib0", "1015", "00AF", "b8cef6000002", "ConnectX-4 Lx", "0000:af", "00", "1"));
    EXPECT_EQ(value_items(*child_named(devices[1], "fw_item")),
              expected_fw_item("MT_2420110034", "14.32.1010", "14.32.1010", "rewrite"));

    EXPECT_EQ(value_items(devices[2]),
              expected_device("ib1", "101B", "0008", "b8cef6000003", "ConnectX-6 VPI", "0000:d8", "00", "0"));
    EXPECT_EQ(value_items(*child_named(devices[2], "fw_item")),
              expected_fw_item("MT_0000000222", "20.28.1002", "20.31.1014", "downgrade"));

    EXPECT_EQ(value_items(devices[3]),
              expected_device("eth5", "1017", "0007", "b8cef6000004", "", "0000:e1", "00", "0"));
    EXPECT_EQ(value_items(*child_named(devices[3], "fw_item")),
              expected_fw_item("MT_0000000999", "", "16.35.2000", "Nothing"));
}

TEST(DiscoveryReport, ActionsRequestingAFlashBurnNothing)
{
    sim::SimServer server;
    build_four_action_server(server);
    discover(server);
    EXPECT_FALSE(any_burn(server));
    EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "2.40.7000");
    EXPECT_EQ(server.device_fw_version("0000:af:00.1"), "14.32.1010");
}

TEST(DiscoveryReport, WritingLogsNoErrorWhenEveryPortHasAnInterface)
{
    sim::SimServer server;
    build_four_action_server(server);
    discover(server);
    const std::string log = server.log();
    for (const char *text : {"deviceId:", "xml_discovery_report", "XmlTextWriter", "write_XML"})
        EXPECT_EQ(log.find(text), std::string::npos) << log;
}

TEST(DiscoveryReport, IsIndentedByFourSpacesPerLevelAsUtf8)
{
    sim::SimServer server;
    build_four_action_server(server);
    discover(server);
    const std::string text = server.read_package_file("nicdiscovery.xml");
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<valtrix_rom_discovery version=\"2.0.0.0\">\n", 0),
              0u)
        << text;
    for (const char *line : {"\n    <type value=\"MELLANOX_NIC\"/>\n", "\n    <devices>\n", "\n        <device>\n",
                             "\n            <device_id value=\"eth2\"/>\n", "\n            <fw_item>\n",
                             "\n                <action value=\"upgrade\"/>\n", "\n            </fw_item>\n",
                             "\n        </device>\n", "\n    </devices>\n", "\n</valtrix_rom_discovery>\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST(DiscoveryReport, VersionIsTheHighestImageInNumericOrder)
{
    sim::SimServer server;
    add_port(server, {"0000:05:00.0", 0x1017, 0x0007, "eth2", "2.42.5000", "MT_0000000080", "b8cef6000001"});
    server.set_catalog({catalog_image("ConnectX-5 EN", "1017", "0007", "MT_0000000080", "2.42.5000"),
                        catalog_image("ConnectX-5 EN", "1017", "0007", "MT_0000000080", "16.35.1012")});
    const std::vector<xml_node> devices = devices_of(discover(server));
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(device_value(devices[0], "version"), "16.35.1012");
    EXPECT_EQ(device_value(devices[0], "action"), "upgrade");
}

TEST(DiscoveryReport, ValuesNeedingEscapesReadBackUnchanged)
{
    sim::SimServer server;
    const std::string psid = "MT_&<\"'>1";
    const std::string name = "CX-5 & <EN> \"100G\" 'dual'";
    add_port(server, {"0000:05:00.0", 0x1017, 0x0007, "eth2", "16.35.2000", psid, "b8cef6000001"});
    server.set_catalog({catalog_image(name, "1017", "0007", psid, "16.35.2000")});
    const std::vector<xml_node> devices = devices_of(discover(server));
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(device_value(devices[0], "firmware_id"), psid);
    EXPECT_EQ(device_value(devices[0], "product_id"), name);
    EXPECT_EQ(device_value(devices[0], "action"), "rewrite");
    EXPECT_NE(server.read_package_file("nicdiscovery.xml").find("MT_&amp;&lt;&quot;"), std::string::npos);
}

TEST(DiscoveryReport, PortWithoutInterfaceLinkIsNamedByItsBusAddress)
{
    sim::SimServer server;
    add_port(server, {"0000:05:00.0", 0x1017, 0x0007, "", "16.35.2000", "MT_0000000080", "b8cef6000001"});
    add_port(server, {"0000:06:00.0", 0x1017, 0x0007, "eth3", "16.35.2000", "MT_0000000081", "b8cef6000002"});
    server.set_catalog({sim::CatalogEntry{}});
    const std::vector<xml_node> devices = devices_of(discover(server));
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(device_value(devices[0], "device_id"), "0000:05:00.0");
    EXPECT_EQ(device_value(devices[1], "device_id"), "eth3");
    const std::string log = server.log();
    EXPECT_NE(log.find("[ERROR]    "), std::string::npos);
    EXPECT_NE(log.find("deviceId:Writing Interface Name\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("deviceId:Writing Interface Name"), log.rfind("deviceId:Writing Interface Name"))
        << "logged once, for the port without a link";
}

TEST(DiscoveryReport, PortsWhoseVersionOrPsidCannotBeReadAreLeftOut)
{
    sim::SimServer server;
    add_port(server, {"0000:04:00.0", 0x1017, 0x0007, "eth1", "16.35.2000", "MT_0000000079", "b8cef6000000"});
    add_port(server, {"0000:05:00.0", 0x1017, 0x0007, "eth2", "16.35.2000", "MT_0000000080", "b8cef6000001"});
    add_port(server, {"0000:06:00.0", 0x1017, 0x0007, "eth3", "16.35.2000", "MT_0000000081", "b8cef6000002"});
    add_port(server, {"0000:07:00.0", 0x1017, 0x0007, "eth4", "16.35.2000", "MT_0000000082", "b8cef6000003"});
    sim::FlashDevice no_version;
    no_version.address = "0000:04:00.0";
    no_version.fw_version.reset();
    no_version.psid = "MT_0000000079";
    no_version.base_mac = "b8cef6000000";
    server.add_flash_device(no_version);
    sim::FlashDevice no_psid;
    no_psid.address = "0000:06:00.0";
    no_psid.psid.reset();
    no_psid.base_mac = "b8cef6000002";
    server.add_flash_device(no_psid);
    server.set_catalog({sim::CatalogEntry{}});
    sim::FlashDevice failing;
    failing.address = "0000:07:00.0";
    failing.query_fails = true;
    server.add_flash_device(failing);

    const std::vector<xml_node> devices = devices_of(discover(server));
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(device_value(devices[0], "device_id"), "eth2");
    EXPECT_EQ(device_value(devices[0], "firmware_id"), "MT_0000000080");
}

TEST(DiscoveryReport, PathAsSecondWordIsWrittenInsteadOfTheDefault)
{
    sim::SimServer server;
    add_port(server, {"0000:05:00.0", 0x1017, 0x0007, "eth2", "16.35.2000", "MT_0000000080", "b8cef6000001"});
    server.set_catalog({sim::CatalogEntry{}});
    server.write_package_file("reports/.keep", "");
    const std::vector<xml_node> devices = devices_of(discover(server, "reports/fleet.xml"));
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_FALSE(server.package_file_exists("nicdiscovery.xml"));
    EXPECT_EQ(directory_entries(server.package_dir() + "/reports"), (std::vector<std::string>{".keep", "fleet.xml"}));
}

TEST(DiscoveryReportSchema, RejectsAReportWithAnUnknownAction)
{
    sim::SimServer server;
    add_port(server, {"0000:05:00.0", 0x1017, 0x0007, "eth2", "16.35.2000", "MT_0000000080", "b8cef6000001"});
    server.set_catalog({sim::CatalogEntry{}});
    discover(server);
    std::string text = server.read_package_file("nicdiscovery.xml");
    const size_t at = text.find("value=\"rewrite\"");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 15, "value=\"maybe\"");
    server.write_package_file("edited.xml", text);
    EXPECT_FALSE(schema_valid(server.package_dir() + "/edited.xml"));
}
