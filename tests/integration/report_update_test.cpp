// The discovery report: what -d writes and leaves where it cannot, and what -u burns from one, shows and logs.
#include <gtest/gtest.h>

#include <csignal>

#include <sys/stat.h>

#include "support.h"

using namespace support;
namespace fs = std::filesystem;

namespace {

const std::string k_update = "read_discovery_report: ";

using Dev = sim::ReportDevice;
std::string report(const std::vector<Dev> &devices, const std::string &after = "")
{
    return sim::discovery_report(devices, after);
}

std::string burn(const std::string &bus, const std::string &image = "fw-16.35.2000.bin")
{
    return "mstflint -s -y -d " + bus + ":00.0 -i ./nic_fw/" + image + " b";
}

std::string resolve(const std::string &bus) { return "./getmlnxinfo imgfile " + bus + ":00.0"; }

// A report (none when absent), status, calls but queries, log entries, a change, all of stderr, a signal to send.
struct Case { std::string name; std::optional<std::string> xml; int status; std::vector<std::string> calls;
              std::vector<std::string> logged = {}; std::function<void(sim::SimServer &)> change = {};
              std::string err = {}; int signal = 0; };

// The exact text of a report; a device is the values of its items in the writer's order, fixed ones left out.
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

// Reports as handed over, over devices 05, 06 and 07 of the default board. No case shows a "Selecting" entry or a
// waiting notice, runs a command of the report or leaves an answer file; each getmlnxinfo command is shown as it runs.
TEST(ReportUpdate, ReadsReportsAsHandedOverAndBurnsWhatIsAskedFor)
{
    const std::string one = report({Dev {}}), no_image = k_update + "Error in finding the image for Tamaro/Kestrel2\n";
    // Each image code-named, resolved as planned (a failure ends the run): 06 as given, 05 and 07 to the plain one.
    const auto code_named = [](const std::string &answer = "0", int exit_status = 0, int wait_ms = 0) {
        return [=](sim::SimServer &s) {
            s.set_catalog({{.fwFile = "Tamaro-CX5"}}, true);
            for (const std::string address : {"0000:05:00.0", "0000:07:00.0"})
                s.set_getmlnxinfo(address, "srv#fw-16.35.2000.bin");
            s.set_getmlnxinfo("0000:06:00.0", answer, exit_status, wait_ms);
        };
    };
    const std::string three = report({{}, {.bus = "0000:06"}, {.bus = "0000:07"}});
    std::vector<Dev> many(51, Dev {.action = "Nothing"}); // no limit of fifty
    many.push_back({.bus = "0000:61", .psid = "MT_UNKNOWN", .action = "Nothing"});
    for (const Case &c : std::vector<Case> {
        {"type after its version", std::regex_replace(one, std::regex("(<type value=\"ROM\"/>)(.*1002\"/>)"), "$2$1"),
         0, {burn("0000:05")}, {"read_FW_cur_version: Error Wrong image type\n"}},
        // "0x15B3" and a venid item whose last attribute holds 8086 match no board; items after the last device: none.
        {"as handed over", report({{.venid = "0x15B3"}, {.bus = "0000:06", .venid = "15b3\" other=\"8086"},
                                   {.bus = "0000:07"}}, R"(<venid value="8086"/><action value="rewrite"/>)"),
         2, {burn("0000:07")}, {"For 0000:05:00.0 no matching firmware file in XML\n",
                                "For 0000:06:00.0 no matching firmware file in XML\n"}},
        {"self-closing device", std::regex_replace(one, std::regex("<device>"), "<device/>$&"), 0, {burn("0000:05")}},
        {"bus items after the action", std::regex_replace(one, std::regex("(<busnumber[^>]*>)(.*</fw_item>)"), "$2$1"),
         2, {}, {k_update + "No bus address for device 1 (eth2)\n"}},
        {"truncated", one.substr(0, one.find("</devices>")), 2, {}, {k_update + "Failed to parse report.xml\n"}},
        // Only a regular file (or a link to one) is read: a FIFO would block the run.
        {"FIFO", std::nullopt, 2, {}, {k_update + "Failed to open report.xml\n"},
         [](sim::SimServer &s) { ASSERT_EQ(mkfifo((s.package_dir() + "/report.xml").c_str(), 0600), 0); }},
        {"control characters", report({{.bus = "0000:06&#10;[INFO]", .id = "eth9&#10;&#9;&#13;[INFO]"},
                                       {.bus = "0000:06"}}), 2, {burn("0000:06")},
         {k_update + "Invalid bus address \"0000:06\\n[INFO]:00.0\" for device 1 (eth9\\n\\t\\x0d[INFO])\n"}},
        // Only a device that asks for a burn needs a PCI address; the second one's lookup fails alone.
        {"not asked for", report({{.bus = "0000:05;touch pwned", .action = "Nothing"},
                                  {.bus = "0000:06&#10;[INFO]", .psid = "MT_UNKNOWN", .action = "Nothing"}}),
         0, {}, {"For 0000:06\\n[INFO]:00.0 no matching firmware file in XML\n"}, code_named()},
        // A lower-case burn word asks for a burn; "05" is an address without its domain.
        {"actions", report({{.bus = "05", .action = "upgrade-now"}, {.bus = "0000:06", .action = "downgrade"},
                            {.bus = "0000:07", .action = "Upgrade"}, {.bus = "0000:08", .action = ""}}),
         0, {burn("05"), burn("0000:06")}},
        {"no action item", report({{.action = std::nullopt}}), 0, {}},
        // The newest image by the numbers, the first of equal ones, a code-named one only when newest.
        {"newest", report({{}}), 0, {burn("0000:05", "fw-first.bin")}, {}, [](sim::SimServer &s) {
             s.set_catalog({{.rom = "16.9.1000", .fwFile = "fw-16.9.bin"}, {.fwFile = "fw-first.bin"},
                            {.rom = "16.10.500", .fwFile = "Tamaro-CX5"}, {.fwFile = "fw-second.bin"}}, true);
         }},
        {"code-named", three, 0, {resolve("0000:05"), resolve("0000:06"), resolve("0000:07"), burn("0000:05"),
         burn("0000:06"), burn("0000:07")}, {}, code_named("server#fw-16.35.2000.bin more text")},
        {"code-named, resolution failed", three, 2, {resolve("0000:05"), burn("0000:05"), resolve("0000:06")},
         {"command failed: ./getmlnxinfo imgfile 0000:06:00.0 > data", no_image}, code_named("server#x.bin", 3)},
        // A signal while getmlnxinfo answers ends the run by that signal, once the answer file is removed.
        {"interrupted resolution", report({{.bus = "0000:06"}}), 128 + SIGINT, {resolve("0000:06")}, {},
         code_named("srv#fw-16.35.2000.bin", 0, 500), "", SIGINT},
        {"terminated resolution", report({{.bus = "0000:06"}}), 128 + SIGTERM, {resolve("0000:06")}, {},
         code_named("srv#fw-16.35.2000.bin", 0, 500), "", SIGTERM},
        {"no image file", report({{}}), 2, {}, {k_update + "No image file in the catalog for device 1 (eth2)\n"},
         [](sim::SimServer &s) { s.set_catalog({{.fwFile = std::nullopt}}, true); }},
        {"no catalog entry", report({{}, {.bus = "0000:06", .psid = "MT_UNKNOWN"}}), 2, {burn("0000:05")},
         {"For 0000:06:00.0 no matching firmware file in XML\n"}},
        {"no catalog entry, alone", report({{.psid = "MT_UNKNOWN", .action = "Nothing"}}), 2, {},
         {k_update + "Error at read_NIC_FW_xml_file\n"}},
        {"more than fifty devices", report(many), 0, {}, {"For 0000:61:00.0 no matching firmware file in XML\n"}},
        // An entry that the log cannot take (a full disk) goes to standard error, after one notice for the run.
        {"log on a full disk", report({{}, {.bus = "0000:06"}}), 0,
         {"/usr/bin/mokutil --sb-state", burn("0000:05"), burn("0000:06")}, {}, [](sim::SimServer &s) {
             s.set_mokutil("SecureBoot disabled"); // nothing else on standard error
             std::filesystem::create_symlink("/dev/full", s.package_dir() + "/mstflint.log");
         }, "rovan: cannot write mstflint.log: No space left on device\n"
            R"((\[INFO\]      \[[^\]\n]+\] MAC b8cef6000000 Upgrade SUCCESS\n\n){2})"},
        // The live board is checked before the burn (the installed version after it: upgrade_run_test).
        {"another board", report({{}}), 2, {},
         {k_update + "0000:05:00.0 is board MT_0000000999, the report says MT_0000000080; not flashed\n"},
         [](sim::SimServer &s) { s.add_flash_device({.address = "0000:05:00.0", .psid = "MT_0000000999"}); }},
        {"no answer", report({{}}), 2, {},
         {k_update + "0000:05:00.0 is board no answer, the report says MT_0000000080; not flashed\n"},
         [](sim::SimServer &s) { s.add_flash_device({.address = "0000:05:00.0", .query_fails = true}); }},
    }) {
        SCOPED_TRACE(c.name);
        sim::SimServer server;
        for (const std::string bus : {"0000:05", "0000:06", "0000:07"})
            server.add_flash_device({.address = bus + ":00.0"});
        server.set_catalog({{}}, true);
        if (c.change)
            c.change(server);
        if (c.xml)
            server.write_package_file("report.xml", *c.xml);
        const pid_t pid = server.start({"-u", "report.xml"});
        if (c.signal != 0) {
            ASSERT_TRUE(wait_until([&] { return !commands(server).empty(); }));
            ASSERT_EQ(kill(c.signal == SIGINT ? -pid : pid, c.signal), 0);
        }
        const sim::Result r = server.finish(pid);
        EXPECT_EQ(std::pair(r.status, r.term_signal), std::pair(c.status, c.signal)) << r.err;
        EXPECT_TRUE(c.err.empty() || std::regex_match(r.err, std::regex(c.err))) << r.err;
        const Calls calls = commands(server); // the burns side by side, in any order
        EXPECT_TRUE(std::ranges::is_permutation(calls, as_calls(c.calls))) << ::testing::PrintToString(calls);
        for (const std::string &entry : c.logged)
            EXPECT_NE(server.log().find("] " + entry), std::string::npos) << entry << server.log();
        for (const std::string noise : {"Firmware Flashed", "Selecting", "several minutes"})
            EXPECT_EQ((r.out + server.log()).find(noise), std::string::npos) << noise << r.out << server.log();
        for (const std::string &call : c.calls)
            EXPECT_TRUE(!call.starts_with("./getmlnxinfo") || r.out.find(call + " > data") != std::string::npos);
        for (const auto &entry : fs::directory_iterator(server.package_dir())) // what a report ran, an answer file
            EXPECT_FALSE(entry.path().filename() == "pwned" || entry.path().filename().string().starts_with("data"));
    }
}

// -d in turn over one server: each complete port value for value, bytes XML cannot carry as "?"; a report replaced
// whole or not at all, through a link only where the kernel would follow it in a world-writable sticky directory.
TEST(DiscoveryReport, HoldsEachCompletePortValueForValueAndIsReplacedWholeOrNotAtAll)
{
    sim::SimServer server;
    const std::string dir = server.package_dir(), file = dir + "/reports/fleet.xml", earlier = "<earlier report/>\n";
    const auto fails = [&](const std::string &path) {
        const auto files = std::distance(fs::recursive_directory_iterator(dir), {});
        EXPECT_EQ(server.run({"-d", path}).status, 2) << path;
        EXPECT_EQ(server.read_package_file("reports/fleet.xml"), earlier) << path;
        EXPECT_EQ(std::distance(fs::recursive_directory_iterator(dir), {}), files) << path;
    };
    server.set_catalog({{.rom = "2.42.5000"}, {.rom = "16.35.1012"}});
    server.add_function({.address = "0000:3b:00.0", .vendor = 0x8086, .netif = "eth0"});
    server.write_package_file("reports/fleet.xml", earlier);
    server.write_package_file("mstflint.log", "");
    fails("reports/fleet.xml"); // no Mellanox port
    server.add_port({.address = "0000:03:00.0", .fw_version = std::nullopt});
    fails("reports/fleet.xml"); // no port with a readable version
    server.add_port({.address = "0000:04:00.1", .psid = "MT_&<\"'>\x1b[1m\x01", .base_mac = "b8\xc3"},
                    {.device = 0x1015, .subsystem_device = 0x00af, .netif = "ib\xff"});
    server.add_port({.address = "0000:05:00.0", .fw_version = "2.40.7000", .base_mac = "b8c1"});
    const mode_t mask = umask(027); // the run inherits it; the test's later files keep the one it had
    const int status = server.run({"-d"}).status;
    umask(mask);
    ASSERT_EQ(status, 0) << server.log();
    const std::string report = dir + "/nicdiscovery.xml", whole = server.read_package_file("nicdiscovery.xml");
    EXPECT_EQ(std::system(("xmllint --noout --schema '" ROVAN_SOURCE_DIR "/docs/discovery-report.xsd' '" + report +
                           "'").c_str()), 0);
    EXPECT_EQ(whole, expected_report({
        {"ib?", "1015", "00AF", "b8?", "", "0000:04", "00", "1", "MT_&amp;&lt;&quot;'&gt;?[1m?", "", "16.35.2000",
         "Nothing"},
        {"0000:05:00.0", "1017", "0007", "b8c1", "ConnectX-5 EN", "0000:05", "00", "0", "MT_0000000080", "16.35.1012",
         "2.40.7000", "upgrade"}}));
    EXPECT_EQ(fs::status(report).permissions(), fs::perms(0640)) << "a new file's mode, as the umask leaves it";
    const std::string cut = " of 0000:04:00.1 holds bytes that XML cannot carry; each is written as \"?\"";
    const std::string logged = error("For 0000:04:00.1 no matching firmware file in XML") +
                               error("Report item device_id" + cut) + error("Report item macaddress" + cut) +
                               error("Report item firmware_id" + cut) + error("deviceId:Writing Interface Name");
    EXPECT_EQ(log_without_times(server), logged);
    EXPECT_EQ(commands(server), Calls {}) << "an upgrade is only requested in the report";
    fails("reports");
    EXPECT_NE(server.log().find("] xml_discovery_report: Failed to write reports"), std::string::npos) << server.log();
    // Through a link the link stays, and its target is replaced by a rename: a reader of the old file keeps it whole.
    fs::permissions(file, fs::perms(0604));
    fs::create_hard_link(file, dir + "/held.xml");
    fs::create_symlink("reports/fleet.xml", dir + "/link.xml");
    ASSERT_EQ(server.run({"-d", "link.xml"}).status, 0) << server.log();
    EXPECT_TRUE(fs::is_symlink(dir + "/link.xml"));
    EXPECT_EQ(server.read_package_file("reports/fleet.xml"), whole);
    EXPECT_EQ(server.read_package_file("held.xml"), earlier) << "rewritten in place";
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0604)) << "the replaced report's mode";

    if (geteuid() != 0)
        GTEST_SKIP() << "SKIPPED links of other users: they need root";
    const std::string shared = dir + "/shared", link = shared + "/nic.xml";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms(01777));
    ASSERT_EQ(chown(shared.c_str(), 65534, 65534), 0);
    fs::create_symlink("../target.xml", link);
    for (const auto &[owner, followed] : {std::pair(0, true), std::pair(65534, true), std::pair(65533, false)}) {
        SCOPED_TRACE(owner);
        server.write_package_file("target.xml", earlier);
        server.write_package_file("mstflint.log", "");
        ASSERT_EQ(lchown(link.c_str(), owner, owner), 0);
        EXPECT_EQ(server.run({"-d", "shared/nic.xml"}).status, followed ? 0 : 2);
        EXPECT_EQ(server.read_package_file("target.xml") == earlier, !followed);
        EXPECT_EQ(log_without_times(server), logged + (followed ? "" : error("xml_discovery_report: Failed to write "
                  "shared/nic.xml: the link shared/nic.xml lies in a world-writable sticky directory and belongs "
                  "neither to the user running rovan nor to the directory's owner")));
    }
}
