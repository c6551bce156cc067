// The discovery report: what -d writes, where, and what is left when it cannot be written; which devices -u
// burns from a report, with which image, the exit status, the log entries, and that nothing in it reaches a shell.
#include <gtest/gtest.h>

#include <csignal>

#include <sys/stat.h>

#include "support.h"

using namespace support;
namespace fs = std::filesystem;

namespace {

const std::string k_psid = "MT_0000000080", k_update = "read_discovery_report: ";
const std::string k_all_failed = k_update + "Error at read_NIC_FW_xml_file\n";
const std::string k_no_match = "For 0000:05:00.0 no matching firmware file in XML\n";

using Dev = sim::ReportDevice;
std::string report(const std::vector<Dev> &devs, const std::string &after = "")
{
    return sim::discovery_report(devs, after);
}

// A device of the default board, installed 16.34.1002, changed as given.
void add_device(sim::SimServer &s, const std::string &bus, const std::function<void(sim::FlashDevice &)> &change = {})
{
    sim::FlashDevice dev {.address = bus + ":00.0", .fw_version = "16.34.1002"};
    if (change)
        change(dev);
    s.add_flash_device(dev);
}

std::string burn(const std::string &bus, const std::string &image = "fw-16.35.2000.bin")
{
    return "mstflint -s -y -d " + bus + ":00.0 -i ./nic_fw/" + image + " b";
}

std::string resolve(const std::string &bus) { return "./getmlnxinfo imgfile " + bus + ":00.0"; }

bool answer_left(const sim::SimServer &server)
{
    return std::ranges::any_of(std::filesystem::directory_iterator(server.package_dir()),
                               [](const auto &e) { return e.path().filename().string().starts_with("data"); });
}

// A report (none written when absent), the exit status, the calls but queries, an entry the log must hold, a
// change to the server of devices 05, 06 and 07 and the default catalog, and when given, all of standard error.
struct Case { std::string name; std::optional<std::string> xml; int status; std::vector<std::string> calls;
              std::string logged = {}; std::function<void(sim::SimServer &)> change = {}; std::string err = {}; };

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

// A bus address is rebuilt from three report items and, for a code-named image, goes into a shell command:
// neither shell syntax nor control characters in them reach a shell or forge a log entry. Only lower-case actions
// ask for a burn; of the board's images the newest by the numbers is burned, the first of equal ones, a code-named
// one only when newest (resolved through ./getmlnxinfo as it is planned, before the burns; a failure ends the run,
// the devices before it still burned); the run fails when a device that asked was not flashed. No case shows a "Selecting" entry or a waiting
// notice, runs a command of the report, or leaves an answer file; each getmlnxinfo command is shown as it runs.
TEST(ReportUpdate, ReadsReportsAsHandedOverAndBurnsWhatIsAskedFor)
{
    const std::string one = report({Dev {}});
    const auto invalid = [](const std::string &address, const std::string &label = "eth2") {
        return k_update + "Invalid bus address \"" + address + "\" for device 1 (" + label + ")\n";
    };
    const auto code_named = [](sim::SimServer &s) {
        s.set_catalog({{.fwFile = "Tamaro-CX5"}}, true);
        s.set_getmlnxinfo("0000:05:00.0", "srv#fw-16.35.2000.bin");
    };
    std::vector<Dev> many;
    std::vector<std::string> many_burned;
    for (int i = 10; i < 62; ++i) // decimal digits read as hexadecimal bus numbers
        many_burned.push_back(burn(many.emplace_back(Dev {.bus = "0000:" + std::to_string(i)}).bus));
    const std::string three = report({{.psid = "MT_PLAIN"}, {.bus = "0000:06"}, {.bus = "0000:07", .psid = "MT_PLAIN"}});
    const auto resolving = [](const std::string &answer, int exit_status) {
        return [=](sim::SimServer &s) {
            for (const std::string bus : {"0000:05", "0000:07"})
                add_device(s, bus, [](sim::FlashDevice &d) { d.psid = "MT_PLAIN"; });
            s.set_catalog({{.fwFile = "Tamaro-CX5"}, {.psid = "MT_PLAIN", .fwFile = "fw-plain.bin"}}, true);
            s.add_image({"fw-resolved.bin", k_psid, "16.35.2000"});
            s.set_getmlnxinfo("0000:06:00.0", answer, exit_status);
        };
    };
    const std::vector<std::string> resolved = {burn("0000:05", "fw-plain.bin"), resolve("0000:06")};
    for (const Case &c : std::vector<Case> {
        {"type after its version", std::regex_replace(one, std::regex("(<type value=\"ROM\"/>)(.*1002\"/>)"), "$2$1"), 0,
         {burn("0000:05")}, "read_FW_cur_version: Error Wrong image type\n"},
        {"0x prefix", report({{.venid = "0x15B3"}}), 2, {}, k_no_match},
        {"last attribute decides", report({{.venid = "15b3\" other=\"8086"}}), 2, {}, k_no_match},
        {"items after the last device", report({{}}, R"(<venid value="8086"/><action value="rewrite"/>)"), 0,
         {burn("0000:05")}},
        {"self-closing device", std::regex_replace(one, std::regex("<device>"), "<device/>$&"), 0, {burn("0000:05")}},
        {"bus items after the action", std::regex_replace(one, std::regex("(<busnumber[^>]*>)(.*</fw_item>)"), "$2$1"),
         2, {}, k_update + "No bus address for device 1 (eth2)\n"},
        {"truncated", one.substr(0, one.find("</devices>")), 2, {}, k_update + "Failed to parse report.xml\n"},
        {"no devices", report({}), 2, {}, k_all_failed},
        {"missing", std::nullopt, 2, {}, k_update + "Failed to open report.xml\n"},
        // Only a regular file (or a link to one) is read: a FIFO would block the run.
        {"FIFO", std::nullopt, 2, {}, k_update + "Failed to open report.xml\n", [&](sim::SimServer &s) {
             s.set_run_timeout(10);
             ASSERT_EQ(mkfifo((s.package_dir() + "/report.xml").c_str(), 0600), 0);
         }},
        {"busnumber", report({{.bus = "0000:05;touch pwned"}}), 2, {}, invalid("0000:05;touch pwned:00.0"), code_named},
        {"devicenumber", report({{.devnum = "00`touch pwned`"}}), 2, {}, invalid("0000:05:00`touch pwned`.0"), code_named},
        {"control characters", report({{.bus = "0000:06&#10;[INFO]", .id = "eth9&#10;&#9;&#13;[INFO]"}, {.bus = "0000:06"}}),
         2, {burn("0000:06")}, invalid("0000:06\\n[INFO]:00.0", "eth9\\n\\t\\x0d[INFO]")},
        // Asking for no burn, a device is looked up whatever its address: the second one's lookup fails alone.
        {"not asked for", report({{.bus = "0000:05;touch pwned", .action = "Nothing"},
                                  {.bus = "0000:06&#10;[INFO]", .psid = "MT_UNKNOWN", .action = "Nothing"}}),
         0, {}, "For 0000:06\\n[INFO]:00.0 no matching firmware file in XML\n", code_named},
        {"actions that ask", report({{.action = "rewrite"}, {.bus = "0000:06", .action = "downgrade"},
                                     {.bus = "0000:07", .action = "upgrade-now"}}),
         0, {burn("0000:05"), burn("0000:06"), burn("0000:07")}, "MAC b8cef6000000 Upgrade SUCCESS\n"},
        {"actions that do not", report({{.action = "Upgrade"}, {.bus = "0000:06", .action = "Nothing"},
                                        {.bus = "0000:07", .action = ""}}), 0, {}},
        {"no action item", report({{.action = std::nullopt}}), 0, {}},
        {"newest", report({{}}), 0, {burn("0000:05", "fw-first.bin")}, "",
         [](sim::SimServer &s) { s.set_catalog({{.rom = "16.9.1000", .fwFile = "fw-16.9.bin"}, {.fwFile = "fw-first.bin"},
                                                 {.rom = "16.10.500", .fwFile = "fw-16.10.bin"}, {.fwFile = "fw-second.bin"}}, true); }},
        {"code-named older", report({{}}), 0, {burn("0000:05", "fw-plain.bin")}, "",
         [](sim::SimServer &s) { s.set_catalog({{.fwFile = "fw-plain.bin"}, {.rom = "16.20.1000", .fwFile = "Tamaro-CX5"}}, true); }},
        {"code-named", three, 0, {resolved[0], resolved[1], burn("0000:06", "fw-resolved.bin"),
         burn("0000:07", "fw-plain.bin")}, "", resolving("server#fw-resolved.bin more text", 0)},
        {"code-named, no image", three, 2, resolved, k_update + "Error in finding the image for Tamaro/Kestrel2\n",
         resolving("0", 0)},
        {"code-named, resolution failed", three, 2, resolved,
         "command failed: ./getmlnxinfo imgfile 0000:06:00.0 > data", resolving("server#fw-resolved.bin", 3)},
        {"no image file", report({{}}), 2, {}, k_update + "No image file in the catalog for device 1 (eth2)\n",
         [](sim::SimServer &s) { s.set_catalog({{.fwFile = std::nullopt}}, true); }},
        {"first burn fails", report({{}, {.bus = "0000:06"}, {.bus = "0000:07"}}), 2,
         {burn("0000:05"), burn("0000:06"), burn("0000:07")}, "Upgrade failed\n ./nic_fw/" + burn("0000:05") + "\n",
         [](sim::SimServer &s) { add_device(s, "0000:05", [](sim::FlashDevice &d) { d.burn_exit = 1; }); }},
        {"no catalog entry", report({{}, {.bus = "0000:06", .psid = "MT_UNKNOWN"}}), 2, {burn("0000:05")},
         "For 0000:06:00.0 no matching firmware file in XML\n"},
        {"no catalog entry, alone", report({{.psid = "MT_UNKNOWN", .action = "Nothing"}}), 2, {}, k_all_failed},
        {"address without domain", report({{.bus = "05"}}), 0, {burn("05")}},
        // An entry that the log cannot take (a full disk) goes to standard error, after one notice for the run.
        {"log on a full disk", report({{}, {.bus = "0000:06"}}), 0,
         {"/usr/bin/mokutil --sb-state", burn("0000:05"), burn("0000:06")}, "",
         [](sim::SimServer &s) {
             s.set_mokutil("SecureBoot disabled"); // nothing else on standard error
             std::filesystem::create_symlink("/dev/full", s.package_dir() + "/mstflint.log");
         }, "rovan: cannot write mstflint.log: No space left on device\n"
            R"((\[INFO\]      \[[^\]\n]+\] MAC b8cef6000000 Upgrade SUCCESS\n\n){2})"},
        {"more than fifty devices", report(many), 0, many_burned, "", [&](sim::SimServer &s) {
             for (const Dev &d : many)
                 add_device(s, d.bus);
         }},
        // The live board is checked before the burn (the installed version after it: upgrade_run_test).
        {"another board", report({{}}), 2, {},
         k_update + "0000:05:00.0 is board MT_0000000999, the report says MT_0000000080; not flashed\n",
         [](sim::SimServer &s) { add_device(s, "0000:05", [](sim::FlashDevice &d) { d.psid = "MT_0000000999"; }); }},
        {"no answer", report({{}}), 2, {},
         k_update + "0000:05:00.0 is board no answer, the report says MT_0000000080; not flashed\n",
         [](sim::SimServer &s) { add_device(s, "0000:05", [](sim::FlashDevice &d) { d.query_fails = true; }); }},
    }) {
        SCOPED_TRACE(c.name);
        sim::SimServer server;
        for (const std::string bus : {"0000:05", "0000:06", "0000:07"})
            add_device(server, bus);
        server.set_catalog({{}}, true);
        if (c.change)
            c.change(server);
        if (c.xml)
            server.write_package_file("report.xml", *c.xml);
        const sim::Result r = server.run({"-u", "report.xml"});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(c.err.empty() || std::regex_match(r.err, std::regex(c.err))) << r.err;
        Calls calls = commands(server), expected = as_calls(c.calls);
        std::ranges::sort(calls); // the burns side by side, after every code-named image is resolved
        std::ranges::sort(expected);
        EXPECT_EQ(calls, expected);
        EXPECT_TRUE(c.logged.empty() || server.log().find("] " + c.logged) != std::string::npos) << server.log();
        for (const std::string noise : {"Firmware Flashed", "Selecting", "several minutes"})
            EXPECT_EQ((r.out + server.log()).find(noise), std::string::npos) << noise << r.out << server.log();
        for (const std::string &call : c.calls)
            EXPECT_TRUE(!call.starts_with("./getmlnxinfo") || r.out.find(call + " > data") != std::string::npos);
        EXPECT_FALSE(server.package_file_exists("pwned") || answer_left(server));
    }
}

// A signal while getmlnxinfo answers (^C reaches it too) ends the run by that signal, with the answer file gone.
TEST(ReportUpdate, ASignalDuringImageResolutionEndsTheRunWithoutItsAnswerFile)
{
    for (const auto &[sig, to_group] : {std::pair {SIGINT, true}, std::pair {SIGTERM, false}}) {
        sim::SimServer server;
        add_device(server, "0000:05");
        server.set_catalog({{.fwFile = "Tamaro-CX5"}}, true);
        server.set_getmlnxinfo("0000:05:00.0", "srv#fw-16.35.2000.bin", 0, 500);
        server.write_package_file("report.xml", report({{}}));
        const pid_t pid = server.start({"-u", "report.xml"});
        ASSERT_TRUE(wait_until([&] { return !commands(server).empty(); }));
        ASSERT_EQ(kill(to_group ? -pid : pid, sig), 0);
        EXPECT_EQ(server.finish(pid).term_signal, sig);
        EXPECT_EQ(commands(server), as_calls({resolve("0000:05")}));
        EXPECT_FALSE(answer_left(server));
    }
}

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
        EXPECT_EQ(log_without_times(server), error("deviceId:Writing Interface Name") + (followed ? "" : error(
                  "xml_discovery_report: Failed to write shared/nic.xml: the link shared/nic.xml lies in a world-"
                  "writable sticky directory and belongs neither to the user running rovan nor to the directory's owner")));
        EXPECT_TRUE(fs::is_symlink(link));
    }
}
