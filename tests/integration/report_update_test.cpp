// rovan-sim -u: which devices a report makes it burn, with which image, the
// exit status, and that nothing a report carries reaches a shell.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "sim_server.h"

namespace {

using Calls = std::vector<std::vector<std::string>>;
using Items = std::vector<std::pair<std::string, std::string>>;

const std::string k_psid = "MT_0000000080";
const std::string k_update = "read_discovery_report: "; // what the mode's own log entries start with
const std::string k_all_failed = k_update + "Error at read_NIC_FW_xml_file\n";

// One device of a hand-written report; its IDs in lower case, as a hand may write them.
struct Dev {
    std::string bus = "0000:05", psid = k_psid;
    std::optional<std::string> action = "upgrade"; // absent: no action item
    std::string id = "eth2", venid = "15b3", devnum = "00", func = "0";
};

// The device's own items and those of its fw_item, in the writer's order.
std::pair<Items, Items> items_of(const Dev &d)
{
    std::pair<Items, Items> items = {
        {{"device_id", d.id}, {"venid", d.venid}, {"devid", "1017"}, {"subvenid", "15b3"}, {"subdevid", "0007"},
         {"macaddress", "b8cef6000000"}, {"busnumber", d.bus}, {"devicenumber", d.devnum}, {"funcnumber", d.func}},
        {{"type", "ROM"}, {"firmware_id", d.psid}, {"active_version", "16.34.1002"}}};
    if (d.action)
        items.second.emplace_back("action", *d.action);
    return items;
}

std::string text_of(const Items &items)
{
    std::string text;
    for (const auto &[name, value] : items)
        text += "<" + name + " value=\"" + value + "\"/>";
    return text;
}

std::string report(const std::string &devices)
{
    return "<?xml version=\"1.0\"?>\n<valtrix_rom_discovery version=\"2.0.0.0\"><type value=\"MELLANOX_NIC\"/>"
           "<devices>\n" + devices + "</devices></valtrix_rom_discovery>\n";
}

std::string device(const Items &own, const Items &fw)
{
    return "<device>" + text_of(own) + "<fw_item>" + text_of(fw) + "</fw_item></device>\n";
}

std::string report(const std::vector<Dev> &devs)
{
    std::string text;
    for (const Dev &d : devs)
        text += device(items_of(d).first, items_of(d).second);
    return report(text);
}

// A device of the default board, installed 16.34.1002.
void add_device(sim::SimServer &server, const std::string &bus, int burn_exit = 0, const std::string &psid = k_psid)
{
    server.add_flash_device({.address = bus + ":00.0", .fw_version = "16.34.1002", .psid = psid,
                             .burn_exit = burn_exit});
}

sim::CatalogEntry entry(const std::string &rom = "16.35.2000", const std::string &file = "fw-16.35.2000.bin",
                        const std::string &psid = k_psid)
{
    return {.psid = psid, .rom = rom, .fwFile = file.empty() ? std::nullopt : std::optional(file)};
}

void set_catalog(sim::SimServer &server, const std::vector<sim::CatalogEntry> &entries)
{
    server.set_catalog(entries);
    for (const sim::CatalogEntry &e : entries)
        if (e.fwFile)
            server.add_image({*e.fwFile, *e.psid, *e.rom});
}

sim::Result update(sim::SimServer &server, const std::string &xml, const std::string &option = "-u")
{
    server.write_package_file("report.xml", xml);
    return server.run({option, "report.xml"});
}

Calls calls_of(const sim::SimServer &server, const std::string &program = "mstflint")
{
    Calls found = server.tool_calls();
    std::erase_if(found, [&](const auto &call) { return call.at(0) != program; });
    return found;
}

std::vector<std::string> burn_call(const std::string &bus, const std::string &image_file)
{
    return {"mstflint", "-s", "-y", "-d", bus + ":00.0", "-i", "./nic_fw/" + image_file, "b"};
}

// Whether mstflint.log holds an entry of the tag whose text starts with text,
// after the tag's 24-character time stamp in brackets.
bool logged(const sim::SimServer &server, const std::string &text, const std::string &tag = "[ERROR]    ")
{
    const std::string log = "\n" + server.log(), start = "\n" + tag + " [";
    for (size_t at = log.find(start); at != std::string::npos; at = log.find(start, at + 1)) {
        if (log.compare(at + start.size() + 24, text.size() + 2, "] " + text) == 0)
            return true;
    }
    return false;
}

// Files in the working directory whose names start with prefix.
std::vector<std::string> files_named(const sim::SimServer &server, const std::string &prefix)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(server.package_dir()))
        if (const std::string name = e.path().filename().string(); name.starts_with(prefix))
            names.push_back(name);
    return names;
}

} // namespace

// Only the lower-case actions ask for flashing. No prompt, no "Selecting"
// line, no waiting notice: the console shows only what the tool prints.
TEST(ReportUpdate, FlashesOnlyForActionsThatAskForIt)
{
    for (const std::string option : {"-u", "-su"}) {
        sim::SimServer server;
        add_device(server, "0000:05");
        set_catalog(server, {entry()});
        for (const auto &[action, flashed] : std::vector<std::pair<std::optional<std::string>, bool>> {
                 {"upgrade", true}, {"rewrite", true}, {"downgrade", true}, {"upgrade-now", true},
                 {"Nothing", false}, {"Upgrade", false}, {"REWRITE", false}, {"", false}, {std::nullopt, false}}) {
            SCOPED_TRACE(option + " " + action.value_or("(no action item)"));
            server.clear_tool_calls();
            const sim::Result r = update(server, report({Dev {.action = action}}), option);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(calls_of(server), flashed ? Calls {burn_call("0000:05", "fw-16.35.2000.bin")} : Calls {});
            for (const std::string noise : {"Firmware Flashed", "Selecting", "several minutes"})
                EXPECT_EQ((r.out + server.log()).find(noise), std::string::npos) << noise << r.out << server.log();
        }
        EXPECT_TRUE(logged(server, "MAC b8cef6000000 Upgrade SUCCESS\n", "[INFO]     ")) << server.log();
    }
}

TEST(ReportUpdate, ReadsReportsAsHandedOver)
{
    auto [own, fw] = items_of(Dev {});
    const std::string fw_first = "<device><fw_item>" + text_of(fw) + "</fw_item>" + text_of(own) + "</device>";
    const std::string whole = report({Dev {}}), no_match = "For 0000:05:00.0 no matching firmware file in XML\n";
    const std::string one = device(own, fw);
    std::reverse(own.begin(), own.end());
    std::reverse(fw.begin(), fw.end());
    struct Case { std::string name; std::optional<std::string> xml; int status; std::string error; };
    const std::vector<Case> cases = {
        // Reversed, the installed version comes before its type.
        {"reordered", report(device(own, fw)), 0, "read_FW_cur_version: Error Wrong image type\n"},
        {"0x prefix", report({Dev {.venid = "0x15B3"}}), 2, no_match},
        {"last attribute decides", report({Dev {.venid = "15b3\" other=\"8086"}}), 2, no_match},
        {"items after the last device", report(one + "<venid value=\"8086\"/><action value=\"rewrite\"/>"), 0, ""},
        {"self-closing device", report("<device/>" + one), 0, ""}, // the second record has no action item
        {"missing", std::nullopt, 2, k_update + "Failed to open report.xml\n"},
        {"truncated", whole.substr(0, whole.find("</devices>")), 2, k_update + "Failed to parse report.xml\n"},
        {"no devices", report(std::string()), 2, k_all_failed},
        {"bus items after the action", report(fw_first), 2, k_update + "No bus address for device 1 (eth2)\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimServer server;
        add_device(server, "0000:05");
        set_catalog(server, {entry()});
        const sim::Result r = c.xml ? update(server, *c.xml) : server.run({"-u", "report.xml"});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(calls_of(server), c.status ? Calls {} : Calls {burn_call("0000:05", "fw-16.35.2000.bin")});
        EXPECT_TRUE(c.error.empty() || logged(server, c.error)) << server.log();
    }
}

// Only a regular file (or a link to one) is read: a FIFO would block the run, a directory or a device is no
// report.
TEST(ReportUpdate, ReadsOnlyARegularFile)
{
    sim::SimServer server;
    server.set_run_timeout(10);
    const std::string path = server.package_dir() + "/report.xml";
    const std::vector<std::function<void()>> makers = {[&] { std::filesystem::create_directory(path); },
                                                        [&] { std::filesystem::create_symlink("/dev/null", path); },
                                                        [&] { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }};
    for (const auto &make : makers) {
        std::filesystem::remove(path);
        server.remove_package_file("mstflint.log");
        make();
        const sim::Result r = server.run({"-u", "report.xml"});
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(logged(server, k_update + "Failed to open report.xml\n")) << server.log();
    }
}

// Each device fails for its own failure only; the run fails when a device asked for was not flashed.
TEST(ReportUpdate, CountsFailuresPerDevice)
{
    const Dev d5, d6 {.bus = "0000:06"}, d7 {.bus = "0000:07"}, unknown {.bus = "0000:06", .psid = "MT_UNKNOWN"};
    const Dev unknown_left {.bus = "0000:06", .psid = "MT_UNKNOWN", .action = "Nothing"};
    const auto failed = [](const std::string &bus) {
        return "Upgrade failed\n ./nic_fw/mstflint -s -y -d " + bus + ":00.0 -i ./nic_fw/fw-16.35.2000.bin b\n";
    };
    struct Case { std::string name; std::vector<Dev> devs; std::string failing; int status;
                  std::vector<std::string> burned; std::string error; };
    const std::vector<Case> cases = {
        {"last burn fails", {d5, d6}, "0000:06", 2, {"0000:05", "0000:06"}, failed("0000:06")},
        {"first burn fails", {d5, d6, d7}, "0000:05", 2, {"0000:05", "0000:06", "0000:07"}, failed("0000:05")},
        {"no catalog entry", {d5, unknown}, "", 2, {"0000:05"}, "For 0000:06:00.0 no matching firmware file in XML\n"},
        {"no catalog entry, not asked for", {d5, unknown_left}, "", 0, {"0000:05"}, ""},
        {"no catalog entry, alone", {unknown_left}, "", 2, {}, ""},
        {"address without domain", {Dev {.bus = "05"}}, "", 0, {"05"}, ""},
        {"refused address", {Dev {.bus = "0000:06:00", .id = "eth9"}, d6}, "", 2, {"0000:06"},
         k_update + "Invalid bus address \"0000:06:00:00.0\" for device 1 (eth9)\n"},
        // Control characters of a report's values cannot start a log entry of their own.
        {"forged log entry", {Dev {.bus = "0000:06&#10;[INFO]", .id = "eth9&#10;&#9;&#13;[INFO]"}, d6}, "", 2,
         {"0000:06"},
         k_update + "Invalid bus address \"0000:06\\n[INFO]:00.0\" for device 1 (eth9\\n\\t\\x0d[INFO])\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimServer server;
        for (const std::string bus : {"0000:05", "0000:06", "0000:07"})
            add_device(server, bus, bus == c.failing ? 1 : 0);
        set_catalog(server, {entry()});
        const sim::Result r = update(server, report(c.devs));
        EXPECT_EQ(r.status, c.status) << r.err;
        Calls expected;
        for (const std::string &bus : c.burned)
            expected.push_back(burn_call(bus, "fw-16.35.2000.bin"));
        EXPECT_EQ(calls_of(server), expected);
        EXPECT_TRUE(c.error.empty() || logged(server, c.error)) << server.log();
        EXPECT_EQ(logged(server, k_all_failed), c.burned.empty()) << server.log();
    }
}

// An entry that the log cannot take (a full disk) goes to standard error, after one notice for the run.
TEST(ReportUpdate, LogEntriesThatCannotBeWrittenGoToStandardError)
{
    sim::SimServer server;
    add_device(server, "0000:05");
    add_device(server, "0000:06");
    set_catalog(server, {entry()});
    server.set_mokutil("SecureBoot disabled"); // nothing else on standard error
    std::filesystem::create_symlink("/dev/full", server.package_dir() + "/mstflint.log");
    const sim::Result r = update(server, report({Dev {}, Dev {.bus = "0000:06"}}));
    EXPECT_EQ(r.status, 0);
    const std::string success = R"(\[INFO\]      \[[^\]\n]+\] MAC b8cef6000000 Upgrade SUCCESS\n\n)";
    EXPECT_TRUE(std::regex_match(r.err, std::regex("rovan: cannot write mstflint.log: No space left on device\n" +
                                                   success + success)))
        << r.err;
}

TEST(ReportUpdate, ReadsMoreThanFiftyDevicesWithLongPsids)
{
    sim::SimServer server;
    const std::string psid = "MT_" + std::string(600, 'Q');
    set_catalog(server, {entry("16.35.2000", "fw-long.bin", psid)});
    std::vector<Dev> devs;
    Calls expected;
    for (int i = 10; i < 62; ++i) { // decimal digits read as hexadecimal bus numbers
        const std::string bus = "0000:" + std::to_string(i);
        add_device(server, bus, 0, psid);
        devs.push_back({.bus = bus, .psid = psid});
        expected.push_back(burn_call(bus, "fw-long.bin"));
    }
    const sim::Result r = update(server, report(devs));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(calls_of(server), expected);
}

// Of the board's catalog images the newest is burned (by the numbers of each
// field; the first of equal versions); a code-named one only when it is the newest.
TEST(ReportUpdate, BurnsTheNewestOfTheBoardsImages)
{
    struct Case { std::string name; std::vector<sim::CatalogEntry> entries; std::string burned; };
    const std::vector<Case> cases = {
        {"oldest first",
         {entry("16.9.1000", "fw-16.9.bin"), entry("16.10.500", "fw-16.10.bin"), entry("16.35.2000", "fw-16.35.bin")},
         "fw-16.35.bin"},
        {"field by field", {entry("16.10.500", "fw-16.10.bin"), entry("16.9.1000", "fw-16.9.bin")}, "fw-16.10.bin"},
        {"equal versions",
         {entry("16.20.1000", "fw-old.bin"), entry("16.35.2000", "fw-first.bin"), entry("16.35.2000", "fw-second.bin")},
         "fw-first.bin"},
        {"Tamaro newest", {entry("16.20.1000", "fw-plain.bin"), entry("16.35.2000", "Tamaro-CX5")}, "fw-resolved.bin"},
        {"Tamaro older", {entry("16.35.2000", "fw-plain.bin"), entry("16.20.1000", "Tamaro-CX5")}, "fw-plain.bin"},
        {"no image file", {entry("16.35.2000", "")}, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimServer server;
        add_device(server, "0000:05");
        set_catalog(server, c.entries);
        server.add_image({"fw-resolved.bin", k_psid, "16.35.2000"});
        server.set_getmlnxinfo("0000:05:00.0", "srv#fw-resolved.bin");
        const sim::Result r = update(server, report({Dev {}}));
        EXPECT_EQ(r.status, c.burned.empty() ? 2 : 0) << r.err;
        EXPECT_EQ(calls_of(server), c.burned.empty() ? Calls {} : Calls {burn_call("0000:05", c.burned)});
        EXPECT_EQ(logged(server, k_update + "No image file in the catalog for device 1 (eth2)\n"), c.burned.empty());
    }
}

// The code-named image of the middle device is resolved through ./getmlnxinfo;
// a failed resolution ends the run, and burns made before it stand.
TEST(ReportUpdate, ResolvesCodeNamedImages)
{
    const std::string not_found = k_update + "Error in finding the image for Tamaro/Kestrel2\n";
    struct Case { std::string answer; int exit_status; std::string error; };
    const std::vector<Case> cases = {
        {"server#fw-resolved.bin more text", 0, ""},
        {"server#fw-resolved.bin", 0, ""}, // the line end is no part of the name
        {"##server##fw-resolved.bin#rest", 0, ""},
        {"0", 0, not_found},
        {"fw-resolved.bin", 0, not_found},
        {"server#   ", 0, not_found},
        {"server#fw-resolved.bin", 3, "command failed: ./getmlnxinfo imgfile 0000:06:00.0 > data"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.answer + " exit " + std::to_string(c.exit_status));
        sim::SimServer server;
        for (const std::string bus : {"0000:05", "0000:06", "0000:07"})
            add_device(server, bus, 0, bus == "0000:06" ? k_psid : "MT_PLAIN");
        set_catalog(server, {entry("16.35.2000", "Tamaro-CX5"), entry("16.35.2000", "fw-plain.bin", "MT_PLAIN")});
        server.add_image({"fw-resolved.bin", k_psid, "16.35.2000"});
        server.set_getmlnxinfo("0000:06:00.0", c.answer, c.exit_status);
        const sim::Result r = update(server, report({{.bus = "0000:05", .psid = "MT_PLAIN"}, {.bus = "0000:06"},
                                                     {.bus = "0000:07", .psid = "MT_PLAIN"}}));
        EXPECT_EQ(calls_of(server, "./getmlnxinfo"), (Calls {{"./getmlnxinfo", "imgfile", "0000:06:00.0"}}));
        EXPECT_NE(r.out.find("./getmlnxinfo imgfile 0000:06:00.0 > data"), std::string::npos) << r.out;
        EXPECT_EQ(files_named(server, "data"), std::vector<std::string> {});
        EXPECT_EQ(r.status, c.error.empty() ? 0 : 2) << r.err;
        const Calls all = {burn_call("0000:05", "fw-plain.bin"), burn_call("0000:06", "fw-resolved.bin"),
                           burn_call("0000:07", "fw-plain.bin")};
        EXPECT_EQ(calls_of(server), c.error.empty() ? all : Calls {all[0]});
        EXPECT_TRUE(c.error.empty() || (logged(server, c.error) && logged(server, not_found))) << server.log();
    }
}

// A bus address is rebuilt from three report items and, for a code-named
// image, goes into a shell command: shell syntax in any of them runs nothing.
TEST(ReportUpdate, ShellSyntaxInABusAddressRunsNothing)
{
    for (const Dev &d : std::vector<Dev> {{.bus = "0000:05;touch pwned"}, {.bus = "0000:05 >pwned"},
                                          {.bus = "0000:05|touch pwned"}, {.devnum = "00`touch pwned`"},
                                          {.func = "0 $(touch pwned)"}, {.func = "0;touch pwned"}}) {
        const std::string address = d.bus + ":" + d.devnum + "." + d.func;
        SCOPED_TRACE(address);
        sim::SimServer server;
        add_device(server, "0000:05");
        set_catalog(server, {entry("16.35.2000", "Tamaro-CX5")});
        server.set_getmlnxinfo("0000:05:00.0", "srv#fw-16.35.2000.bin");
        const sim::Result r = update(server, report({d}));
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(server.tool_calls(), Calls {});
        EXPECT_EQ(files_named(server, "pwned"), std::vector<std::string> {});
        EXPECT_TRUE(logged(server, k_update + "Invalid bus address \"" + address + "\" for device 1 (eth2)\n"));
    }
}

// The round trip of a deployment: -d writes the report, one action is edited, -u applies it.
TEST(ReportUpdate, AppliesAnEditedDiscoveryReport)
{
    sim::SimServer server;
    for (const std::string bus : {"05", "06"}) {
        server.add_function({.address = "0000:" + bus + ":00.0", .netif = "eth" + bus});
        // Another MAC: another adapter, not the second port of the first.
        server.add_flash_device({.address = "0000:" + bus + ":00.0", .fw_version = "16.34.1002",
                                 .base_mac = "b8cef60000" + bus});
    }
    set_catalog(server, {entry()});
    ASSERT_EQ(server.run({"-d", "report.xml"}).status, 0);
    std::string text = server.read_package_file("report.xml");
    const size_t first = text.find("<action value=\"upgrade\"/>");
    ASSERT_NE(first, std::string::npos) << text;
    text.replace(first, 25, "<action value=\"Nothing\"/>");
    server.clear_tool_calls();
    const sim::Result r = update(server, text);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(calls_of(server), Calls {burn_call("0000:06", "fw-16.35.2000.bin")});
}

// A device is burned only when it is the board the report names, and counts only when the adapter shows the image.
TEST(ReportUpdate, BurnsOnlyTheReportsBoardAndChecksTheBurn)
{
    const std::string not_verified = "MAC b8cef6000000 Upgrade not verified: the adapter reports ";
    struct Case { std::string name; std::function<void(sim::FlashDevice &)> change; bool burned; std::string error; };
    const std::vector<Case> cases = {
        {"another board", [](sim::FlashDevice &d) { d.psid = "MT_0000000999"; }, false,
         k_update + "0000:05:00.0 is board MT_0000000999, the report says MT_0000000080; not flashed\n"},
        {"no answer", [](sim::FlashDevice &d) { d.query_fails = true; }, false,
         k_update + "0000:05:00.0 is board no answer, the report says MT_0000000080; not flashed\n"},
        {"old firmware left", [](sim::FlashDevice &d) { d.burn_keeps_old = true; }, true,
         not_verified + "16.34.1002 after the burn, the image is 16.35.2000\n"},
        {"silent after the burn", [](sim::FlashDevice &d) { d.silent_after_burn = true; }, true,
         not_verified + "no version after the burn, the image is 16.35.2000\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimServer server;
        sim::FlashDevice dev {.address = "0000:05:00.0", .fw_version = "16.34.1002"};
        c.change(dev);
        server.add_flash_device(dev);
        set_catalog(server, {entry()});
        const sim::Result r = update(server, report({Dev {}}));
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(calls_of(server), c.burned ? Calls {burn_call("0000:05", "fw-16.35.2000.bin")} : Calls {});
        EXPECT_TRUE(logged(server, c.error)) << server.log();
        EXPECT_FALSE(logged(server, "MAC b8cef6000000 Upgrade SUCCESS", "[INFO]     ")) << server.log();
    }
}
