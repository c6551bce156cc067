// `rovan-sim -d` over simulated servers: what the discovery report says, where
// it goes, and what is left behind when it cannot be written.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "sim_server.h"

namespace fs = std::filesystem;

namespace {

void add_port(sim::SimServer &server, const sim::PciFunction &fn, sim::FlashDevice dev)
{
    server.add_function(fn);
    dev.address = fn.address;
    server.add_flash_device(dev);
}

sim::CatalogEntry image(const char *name, const char *devid, const char *subdevid, const char *psid, const char *rom)
{
    return {.name = name, .devid = devid, .psid = psid, .subdevid = subdevid, .rom = rom};
}

// What xmllint prints for a report (an item's value as a parser reads it back, or nothing for a report that
// the schema accepts), or "<rejected>" when it fails.
std::string xmllint(const std::string &options, const std::string &file)
{
    std::string out;
    FILE *pipe = popen(("xmllint " + options + " \"" + file + "\" 2>/dev/null").c_str(), "r");
    for (int c; pipe && (c = std::fgetc(pipe)) != EOF;)
        out += static_cast<char>(c);
    return pipe && pclose(pipe) == 0 ? out : "<rejected>";
}

const std::string k_schema = "--noout --schema \"" +
                             fs::path(__FILE__).parent_path().parent_path().parent_path().string() +
                             "/docs/discovery-report.xsd\"";

// Every path under dir, so that a stray temporary file shows wherever it lies.
std::vector<std::string> tree(const std::string &dir)
{
    std::vector<std::string> paths;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        paths.push_back(fs::relative(entry.path(), dir).string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

// The messages of the event log's error entries, one a line, without their time stamps.
std::string errors(const std::string &log)
{
    std::string found;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("[ERROR]    ", 0) == 0)
            found += line.substr(line.find("] ", 11) + 2) + "\n";
    }
    return found;
}

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

} // namespace

// A port for each action (the upgrade offered in numeric version order), one of them without an interface
// link; an Intel port; and Mellanox ports whose version or PSID cannot be read.
TEST(DiscoveryReport, HoldsEachCompletePortValueForValueAndBurnsNothing)
{
    sim::SimServer server;
    add_port(server, {.address = "0000:04:00.0"}, {.fw_version = std::nullopt});
    add_port(server, {.address = "0000:05:00.0", .netif = "eth2"},
             {.fw_version = "2.40.7000", .base_mac = "b8cef6000001"});
    add_port(server, {.address = "0000:06:00.0"}, {.psid = "MT_0000000081", .base_mac = "b8cef6000002"});
    add_port(server, {.address = "0000:07:00.0", .netif = "eth4"}, {.psid = std::nullopt});
    add_port(server, {.address = "0000:08:00.0", .netif = "eth5"}, {.query_fails = true});
    server.add_function({.address = "0000:3b:00.0", .vendor = 0x8086, .device = 0x1572, .netif = "eth0"});
    add_port(server, {.address = "0000:af:00.1", .device = 0x1015, .subsystem_device = 0x00af, .netif = "ib0"},
             {.fw_version = "14.32.1010", .psid = "MT_2420110034", .base_mac = "b8cef6000003"});
    add_port(server, {.address = "0000:d8:00.0", .device = 0x101b, .subsystem_device = 0x0008, .netif = "ib1"},
             {.fw_version = "20.31.1014", .psid = "MT_0000000222", .base_mac = "b8cef6000004"});
    server.set_catalog({image("ConnectX-5 EN", "1017", "0007", "MT_0000000080", "2.42.5000"),
                        image("ConnectX-5 EN", "1017", "0007", "MT_0000000080", "16.35.1012"),
                        image("ConnectX-4 Lx", "1015", "00AF", "MT_2420110034", "14.32.1010"),
                        image("ConnectX-6 VPI", "101B", "0008", "MT_0000000222", "20.28.1002")});
    const sim::Result result = server.run({"-d"});

    ASSERT_EQ(result.status, 0) << result.out << result.err << server.log();
    EXPECT_EQ(xmllint(k_schema, server.package_dir() + "/nicdiscovery.xml"), "");
    EXPECT_EQ(server.read_package_file("nicdiscovery.xml"),
              expected_report({
                  {"eth2", "1017", "0007", "b8cef6000001", "ConnectX-5 EN", "0000:05", "00", "0", "MT_0000000080",
                   "16.35.1012", "2.40.7000", "upgrade"},
                  {"0000:06:00.0", "1017", "0007", "b8cef6000002", "", "0000:06", "00", "0", "MT_0000000081", "",
                   "16.35.2000", "Nothing"},
                  {"ib0", "1015", "00AF", "b8cef6000003", "ConnectX-4 Lx", "0000:af", "00", "1", "MT_2420110034",
                   "14.32.1010", "14.32.1010", "rewrite"},
                  {"ib1", "101B", "0008", "b8cef6000004", "ConnectX-6 VPI", "0000:d8", "00", "0", "MT_0000000222",
                   "20.28.1002", "20.31.1014", "downgrade"},
              }));
    EXPECT_EQ(errors(server.log()), "For 0000:06:00.0 no matching firmware file in XML\n"
                                    "deviceId:Writing Interface Name\n");
    // One query for each Mellanox port and nothing else: upgrade and rewrite only request a flash.
    const auto calls = server.tool_calls();
    EXPECT_EQ(calls.size(), 7u);
    EXPECT_TRUE(std::ranges::all_of(calls, [](const auto &call) { return call.back() == "q"; }));
}

TEST(DiscoveryReportValues, NeedingEscapesReadBackUnchanged)
{
    sim::SimServer server;
    const char *psid = "MT_&<\"'>1";
    const char *name = "CX-5 & <EN> \"100G\" 'dual'";
    add_port(server, {.address = "0000:05:00.0"}, {.psid = psid});
    server.set_catalog({image(name, "1017", "0007", psid, "16.35.2000")});
    ASSERT_EQ(server.run({"-d"}).status, 0) << server.log();
    const std::string file = server.package_dir() + "/nicdiscovery.xml";
    EXPECT_EQ(xmllint(k_schema, file), "");
    EXPECT_EQ(xmllint("--xpath 'string(//firmware_id/@value)'", file), std::string(psid) + "\n");
    EXPECT_EQ(xmllint("--xpath 'string(//product_id/@value)'", file), std::string(name) + "\n");
}

// A new report gets the mode of a new file; a replacing one keeps the mode of the report it replaces.
TEST(DiscoveryReportFile, SecondRunReplacesTheReportAtTheGivenPath)
{
    sim::SimServer server;
    add_port(server, {.address = "0000:05:00.0"}, {.fw_version = "16.34.1002"});
    server.set_catalog({sim::CatalogEntry{}});
    server.write_package_file("reports/.keep", "");
    const std::string file = server.package_dir() + "/reports/fleet.xml";
    const auto mode = [&file] { struct stat st {}; return stat(file.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u; };
    const mode_t mask = umask(0);
    umask(mask);

    ASSERT_EQ(server.run({"-d", "reports/fleet.xml"}).status, 0) << server.log();
    EXPECT_EQ(xmllint("--xpath 'string(//active_version/@value)'", file), "16.34.1002\n");
    EXPECT_EQ(mode(), 0666u & ~mask);
    EXPECT_FALSE(server.package_file_exists("nicdiscovery.xml"));

    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    server.add_flash_device({.address = "0000:05:00.0", .fw_version = "16.35.2000"});
    ASSERT_EQ(server.run({"-d", "reports/fleet.xml"}).status, 0) << server.log();
    EXPECT_EQ(xmllint("--xpath 'string(//active_version/@value)'", file), "16.35.2000\n");
    EXPECT_EQ(xmllint(k_schema, file), "");
    EXPECT_EQ(mode(), 0640u);
    EXPECT_EQ(tree(server.package_dir() + "/reports"), (std::vector<std::string>{".keep", "fleet.xml"}));
}

// A run that writes no report exits with 2 and leaves the earlier report and every other file as they were;
// once the writer got as far as saving, an error entry names the path.
TEST(DiscoveryReportFile, FailureLeavesEverythingAsItWas)
{
    struct failure {
        std::string path;    // second word of -d; empty: the default
        std::string earlier; // where an earlier report lies
        unsigned vendor = 0x15b3;
        std::optional<std::string> psid = "MT_0000000080";
        bool logs_path = true, locked = false;
    };
    const std::vector<failure> cases = {
        {"", "nicdiscovery.xml", 0x8086, "MT_0000000080", false},       // no Mellanox port
        {"out/fleet.xml", "out/fleet.xml", 0x15b3, std::nullopt, false}, // no port with a readable PSID
        {"missing/fleet.xml", "nicdiscovery.xml"},
        {"reports/fleet.xml", "reports/fleet.xml/inside"},
        {"locked/fleet.xml", "locked/fleet.xml", 0x15b3, "MT_0000000080", true, true},
    };
    const char *const earlier = "<earlier report/>\n";
    for (const failure &c : cases) {
        SCOPED_TRACE("-d " + c.path);
        sim::SimServer server;
        add_port(server, {.address = "0000:05:00.0", .vendor = c.vendor}, {.psid = c.psid});
        server.set_catalog({sim::CatalogEntry{}});
        server.write_package_file(c.earlier, earlier);
        server.write_package_file("mstflint.log", "");
        const std::vector<std::string> before = tree(server.package_dir());
        // The directory, not the report, is made read-only; for root by bind mounts in a namespace of its own.
        const std::string dir = server.package_dir() + "/locked", runner = server.root() + "/read-only-runner";
        if (c.locked) {
            std::ofstream(runner) << "#!/bin/sh\nexec unshare -m --propagation private sh -c 'f=\"$0/fleet.xml\"; "
                                     "mount --bind -o ro \"$0\" \"$0\" && mount --bind \"$f\" \"$f\" && "
                                     "mount -o remount,bind,rw \"$f\" || exit 97; exec \"$@\"' \""
                                  << dir << "\" \"" ROVAN_SIM_BINARY "\" \"$@\"\n";
            fs::permissions(runner, fs::perms::owner_all);
            fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        }
        const auto args = c.path.empty() ? std::vector<std::string>{"-d"} : std::vector<std::string>{"-d", c.path};
        const sim::Result r = server.run(args, "", {}, c.locked && geteuid() == 0 ? runner : "");
        if (c.locked)
            fs::permissions(dir, fs::perms::owner_all);
        if (r.status == 97)
            GTEST_SKIP() << "a private read-only mount is not permitted here";
        EXPECT_EQ(r.status, 2) << r.err << server.log();
        EXPECT_EQ(server.read_package_file(c.earlier), earlier);
        EXPECT_EQ(tree(server.package_dir()), before);
        EXPECT_TRUE(!c.logs_path || errors(server.log()).find(c.path) != std::string::npos) << server.log();
    }
}
