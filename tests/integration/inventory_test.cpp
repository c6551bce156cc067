// Whole runs of the inventory (enumeration, queries, the query-error file) and of -c's table of each port's images.
#include <gtest/gtest.h>

#include <csignal>

#include "support.h"

using namespace support;

namespace {

const std::string k_failed = "\n\nFWUPG_ERROR: get_firmware_info filed RC = 1\n@\n\n";
const std::string k_three_failed = k_failed + k_failed + k_failed;
const std::string k_not_found = "\n\nFWUPG_ERROR: PSID or FW_Version is not found for ";

// A Mellanox function whose subsystem vendor differs from its vendor, so that the two cannot be mixed up.
void add_mellanox(sim::SimServer &server, const sim::FlashDevice &dev)
{
    server.add_port(dev, {.subsystem_vendor = 0x1590});
}

// The lines that a complete record of add_mellanox prints.
std::string card(const std::string &address, const std::string &psid = "MT_0000000080")
{
    return "\nMellanox card info for " + address + " = FW_VERSION 16.35.2000, BUS_INFO " + address + ", PSID " + psid +
           "\n" + address + "\nDEVICE INFO---------->15b3 1017 1590 7\npciIdString-------------->15B3-1017-1590-0007-" +
           psid + "\n\n";
}

// The text after the query-error file's name up to the first table, "|", then that file with "@" for unit,line.
std::string shown(const sim::Result &r)
{
    const size_t at = r.out.find("please check ") + 13, end = r.out.find('\n', at);
    const std::string path = r.out.substr(at, end - at);
    const std::string file = std::filesystem::exists(path) ? read_text(path) : "<file missing>";
    return r.out.substr(end + 2, r.out.find(" PCI-ID") - end - 2) + "|" +
           std::regex_replace(file, std::regex("\n[^\n,]+,[0-9]+\n"), "\n@\n");
}

// What -c prints for a port, installed and name as given, the available versions in the order given.
std::string table(const std::string &address, const std::string &installed, const std::string &name,
                  const std::vector<std::string> &available)
{
    std::string text = " PCI-ID              \t\tNIC\n15B3-1017-15B3-0007 \t" + name +
                       " \n\n     (Installed)           (Available)\n     Image      Version      Image        Version"
                       "     \t\tInterface\n" + std::string(72, '-') + "\n      ROM       " + installed +
                       "    ROM\t\t" + (available.empty() ? "Nothing\t\t\t" : "");
    for (const std::string &v : available) // "%10s"
        text += (&v == &available[0] ? "" : std::string(31, ' ') + "\t\t") +
                std::string(10 - std::min<size_t>(10, v.size()), ' ') + v + "\t\t" + address + "\n";
    return text + (available.empty() ? address + "\n\n" : "\n");
}

} // namespace

// Network functions in numeric address order whatever the domain's width, the lowest function of each device, each
// Mellanox one queried: a hung query ends at the time limit, or at once by a signal to the run.
TEST(Inventory, ListsEachNetworkDeviceOnceInAddressOrderAndEndsHungQueries)
{
    sim::SimServer server;
    server.add_function({.address = "0000:06:00.0", .pci_class = 0x010802, .vendor = 0x8086}); // storage
    server.remove_catalog();
    const sim::Result none = server.run({"-c"});
    EXPECT_EQ(none.status, 0) << "the catalog is read only for a Mellanox function";
    EXPECT_NE(none.out.find("NO Interface Found\nList of Network Adapters detected on the Server.................\n\n"),
              std::string::npos) << none.out;
    EXPECT_NE(none.err.find("\n\nFWUPG_ERROR: get_interface_list filed RC = 1\n"), std::string::npos) << none.err;
    EXPECT_EQ(shown(none), "|<file missing>") << "an empty query-error file is removed at the end";

    server.set_catalog({});
    // Domains by number, one past four digits; 10000:02:01.0 is no function of 10000:02:00.0's device.
    for (const auto &[address, pci_class] : std::vector<std::pair<std::string, unsigned>> {{"0000:0b:00.0", 0x028000},
             {"0000:05:00.1", 0x020000}, {"0000:05:00.0", 0x020000}, {"0000:0a:00.0", 0x0c0600},
             {"10000:02:01.0", 0x020000}, {"ffff:01:00.0", 0x020000}})
        server.add_function({.address = address, .pci_class = pci_class, .vendor = 0x8086});
    add_mellanox(server, {.address = "0100:02:00.0", .query_ms = 30000});
    add_mellanox(server, {.address = "10000:02:00.0", .base_mac = "b8cef6000001"});
    const sim::Result r = server.run({"-c"}, "", {{"ROVAN_QUERY_TIMEOUT", "1"}});
    EXPECT_NE(r.out.find(".\n[0] 0000:05:00.0 Intel Corporation\n[1] 0000:0a:00.0 Intel Corporation\n"
                         "[2] 0000:0b:00.0 Intel Corporation\n[3] 0100:02:00.0 Mellanox Technologies\n"
                         "[4] ffff:01:00.0 Intel Corporation\n[5] 10000:02:00.0 Mellanox Technologies\n"
                         "[6] 10000:02:01.0 Intel Corporation\n\nIf PSID"),
              std::string::npos) << r.out;
    EXPECT_EQ(shown(r), "Interface 0000:05:00.0 is not Mellanox one.\nInterface 0000:0a:00.0 is not Mellanox "
              "one.\nInterface 0000:0b:00.0 is not Mellanox one.\nInterface ffff:01:00.0 is not Mellanox one.\n" +
              card("10000:02:00.0") + "Interface 10000:02:01.0 is not Mellanox one.\n|FWUPG_ERROR: no answer from the "
              "flash tool for 0100:02:00.0 within 1 s\n" + k_three_failed + k_not_found + "0100:02:00.0 interface\n");
    EXPECT_EQ(server.tool_calls().size(), 2u) << "queries of the Mellanox functions only";
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        const size_t earlier = server.query_pids("0100:02:00.0").size();
        const pid_t pid = server.start({"-c"});
        ASSERT_TRUE(wait_until([&] { return server.query_pids("0100:02:00.0").size() >= earlier + 2; }));
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(pid, sig), 0);
        EXPECT_EQ(server.finish(pid).term_signal, sig);
        EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(10)); // not after the 30-s query
    }
    EXPECT_EQ(server.query_pids("0100:02:00.0").size(), 8u) << "per run one query: the tool and its helper";
    // No tool process outlived its query (a zombie left to its new parent counts as gone).
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (pid_t pid : server.query_pids("0100:02:00.0")) {
        std::string stat;
        std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
        EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << stat;
    }
}

// Each function queried with the tool Secure Boot chose, printed in address order. The tool of an adapter shown as
// two devices (05, 06) refuses a query while the other runs: a failed query is run again alone, its lines counting.
TEST(Inventory, QueriesEachFunctionWithTheChosenToolAndPrintsInAddressOrder)
{
    sim::SimServer server;
    server.set_mokutil("SecureBoot enabled");
    server.set_mst(true);
    server.set_installed_flint(true);
    server.set_pci_ids(std::nullopt); // libpci names the vendor by its ID, each version in its own words
    for (const char *address : {"0000:05:00.0", "0000:06:00.0", "0000:07:00.0"})
        add_mellanox(server, {.address = address, .base_mac = "b8cef6000510", .query_ms = address[6] == '7' ? 0 : 500,
                              .one_query_per_adapter = address[6] != '7'});
    // Never skipped without a base MAC; the PSID is "PSID", cut five characters into the note.
    for (const char *address : {"0000:08:00.0", "0000:09:00.0"})
        add_mellanox(server, {.address = address, .base_mac = {}, .extra_query_lines = "Board PSID note: XYZ\n"});
    add_mellanox(server, {.address = "0000:0a:00.0", .psid = std::nullopt});
    add_mellanox(server, {.address = "0000:0b:00.0", .query_fails = true});
    sim::Result r = server.run({"-c"});
    EXPECT_TRUE(std::regex_search(r.out, std::regex("\\[0\\] 0000:05:00\\.0 [^\n]*15b3", std::regex::icase))) << r.out;
    const Calls calls = server.tool_calls();
    ASSERT_EQ(calls.size(), 4u + 7u + 5u) << "Secure Boot's four, a query each, again the refused and 08 to 0b";
    EXPECT_EQ(Calls(calls.end() - 4, calls.end()), as_calls({"/usr/bin/flint -d 0000:08:00.0 q", "/usr/bin/flint -d "
              "0000:09:00.0 q", "/usr/bin/flint -d 0000:0a:00.0 q", "/usr/bin/flint -d 0000:0b:00.0 q"}));
    EXPECT_TRUE(calls.end()[-5][2] == "0000:05:00.0" || calls.end()[-5][2] == "0000:06:00.0") << "the refused one";
    // A skip line for each earlier device of the same adapter.
    const std::string skip = " as it is the second device of Mellanox adapter with PSID MT_0000000080.\n",
                      cards = card("0000:05:00.0") + "Skipping interface 0000:06:00.0" + skip + "Skipping interface "
                              "0000:07:00.0" + skip + "Skipping interface 0000:07:00.0" + skip +
                              card("0000:08:00.0", "PSID") + card("0000:09:00.0", "PSID") + "|";
    EXPECT_EQ(shown(r), cards + k_three_failed + k_not_found + "0000:0a:00.0 interface\n" + k_three_failed +
                                    k_not_found + "0000:0b:00.0 interface\n");

    // Without the query-error file its lines are dropped and the build goes on.
    std::filesystem::remove_all(server.root() + "/tmp");
    r = server.run({"-c"});
    EXPECT_NE(r.out.find("Not able to open this " + server.root() + "/tmp/dataXXXXXX file\n"), std::string::npos);
    EXPECT_EQ(shown(r), cards + "<file missing>");

    const std::string path = server.root() + "/sys/bus/pci/devices/0000:05:00.0/subsystem_device";
    ASSERT_TRUE(std::filesystem::remove(path));
    r = server.run({"-c"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::regex_replace(r.err, std::regex("inventory\\.cpp,[0-9]+"), "@"),
              "ERROR: could not open " + path + " (errno=2), @\n\n\nFWUPG_ERROR: RC = 1\n@\n\n"
              "rovan: cannot read the PCI IDs of 0000:05:00.0 in sysfs\n");
}

// Each port's board's images in numeric order under the first entry's name (an entry is one at its subdevid, takes
// what it lacks from the one before, and the port's subsystem IDs stand in for its own). A catalog cut short (a
// package copied in part) is none: whatever it held before the cut, each mode ends as without a catalog.
TEST(ShowCurrent, ShowsTheCatalogImagesOfEachPortsBoardAndEveryModeTakesACatalogCutShortForNone)
{
    sim::SimServer server;
    server.add_port({.address = "0000:05:00.0"});
    server.add_port({.address = "0000:06:00.0", .fw_version = "-1.1.2", .psid = "MT_B"}); // printed with a sign
    server.add_port({.address = "0000:07:00.0", .psid = "MT_C"});
    std::vector<sim::CatalogEntry> entries = {{.psid = "MT_B", .subdevid = std::nullopt},
        {.name = "First", .subvenid = "1590", .psid = "MT_C", .subdevid = "00AB"},
        {.name = "2nd", .venid = {}, .devid = {}, .psid = {}, .rom = "16.36.1000"}, {.rom = "2.42.5000"},
        {.name = "Second", .rom = "2.9.1000"}, {.rom = "123.456.78901"}};
    std::vector<std::string> sorted = {"2.9.1000", "2.42.5000", "123.456.78901"};
    for (int i = 59; i >= 0; --i) // after another board's entry, no limit of fifty
        sorted.insert(sorted.begin() + 2,
                      *entries.emplace_back(sim::CatalogEntry {.rom = "16." + std::to_string(i) + ".0"}).rom);
    server.set_catalog(entries);
    const sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(std::min(r.out.find(" PCI-ID"), r.out.size())),
              table("0000:05:00.0", "16.35.2000", "ConnectX-5 EN", sorted) + table("0000:06:00.0", "-1.1.2", "", {}) +
              table("0000:07:00.0", "16.35.2000", "First", {"16.35.2000", "16.36.1000"}));
    EXPECT_EQ(log_without_times(server), "[ERROR]    For 0000:06:00.0 no matching firmware file in XML\n\n");

    const std::string whole = server.read_package_file("nic_fw/NICFWData.xml");
    server.set_catalog_text(whole + "<!-- > -->");
    EXPECT_EQ(server.run({"-c"}).status, 0) << "markup after the root's end is no cut";
    for (const std::string mode : {"-c", "-s", "-d"}) {
        SCOPED_TRACE(mode);
        std::string shown[2];
        for (const bool cut : {false, true}) {
            cut ? server.set_catalog_text(whole.substr(0, whole.find("123.456"))) : server.remove_catalog();
            server.remove_package_file("mstflint.log");
            const sim::Result got = server.run({mode});
            EXPECT_EQ(got.status, 1);
            EXPECT_EQ(log_without_times(server), "[ERROR]    Unable to open nic_fw/NICFWData.xml\n\n");
            EXPECT_FALSE(server.package_file_exists("nicdiscovery.xml"));
            // The reason on standard error says which it was; all else is alike.
            EXPECT_NE(got.err.find(cut ? "rovan: nic_fw/NICFWData.xml is not well-formed XML\n"
                                   : "rovan: cannot read nic_fw/NICFWData.xml: No such file or directory\n"),
                      std::string::npos) << got.err;
            shown[cut] = std::regex_replace(got.out + "|" + got.err, std::regex("/tmp/data\\w+|rovan: .*NICFWData.*\n"),
                                            "/tmp/D");
        }
        EXPECT_EQ(shown[1], shown[0]);
    }
}
