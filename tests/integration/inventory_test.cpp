// Whole runs of the inventory: enumeration, queries, second devices, the query-error file and fatal conditions.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "sim_server.h"

namespace {

using Calls = std::vector<std::vector<std::string>>;
const auto npos = std::string::npos;
const std::string k_query_failed = "\n\nFWUPG_ERROR: get_firmware_info filed RC = 1\n@\n\n";

std::string not_found(const std::string &address)
{
    return "\n\nFWUPG_ERROR: PSID or FW_Version is not found for " + address + " interface\n";
}

// A Mellanox function whose subsystem vendor differs from its vendor, so that the two cannot be mixed up.
void add_mellanox(sim::SimServer &server, const sim::FlashDevice &dev)
{
    server.add_function({.address = dev.address, .subsystem_vendor = 0x1590});
    server.add_flash_device(dev);
}

void add_other(sim::SimServer &server, const std::string &address, unsigned pci_class = 0x020000)
{
    server.add_function({.address = address, .pci_class = pci_class, .vendor = 0x8086});
}

// The lines that a complete record of add_mellanox prints.
std::string card(const std::string &address, const std::string &psid = "MT_0000000080")
{
    return "\nMellanox card info for " + address + " = FW_VERSION 16.35.2000, BUS_INFO " + address + ", PSID " + psid +
           "\n" + address + "\nDEVICE INFO---------->15b3 1017 1590 7\npciIdString-------------->15B3-1017-1590-0007-" +
           psid + "\n\n";
}

// What the inventory prints after naming the query-error file, up to the first table.
std::string messages(const sim::Result &r)
{
    const size_t from = r.out.find('\n', r.out.find("please check ")) + 2;
    return r.out.substr(from, r.out.find(" PCI-ID") - from);
}

// The query-error file named on the console, with its unit-and-line references blanked to "@".
std::string query_errors(const sim::SimServer &server, const sim::Result &r)
{
    const size_t at = r.out.find("please check ") + 13;
    const std::string path = r.out.substr(at, r.out.find('\n', at) - at);
    EXPECT_TRUE(path.starts_with(server.root() + "/tmp/data")) << r.out;
    std::ifstream in(path);
    std::string text;
    std::getline(in, text, '\0');
    return in.is_open() ? std::regex_replace(text, std::regex("\n[^\n,]+,[0-9]+\n"), "\n@\n") : "<file missing>";
}

// No tool process may outlive its query (a zombie left to its new parent counts as gone).
void expect_gone(const std::vector<pid_t> &pids)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (pid_t pid : pids) {
        std::string stat;
        std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
        EXPECT_TRUE(stat.empty() || stat.find(") Z ") != npos) << stat;
    }
}

} // namespace

TEST(Inventory, WithoutMellanoxFunctionNeitherToolNorCatalogIsUsed)
{
    sim::SimServer server;
    add_other(server, "0000:02:00.0", 0x010802); // storage: no network function at all
    server.remove_catalog();
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("NO Interface Found\nList of Network Adapters detected on the Server.................\n\n"
                         "If PSID or FW_Version is not found for some interfaces, please check "),
              npos) << r.out;
    EXPECT_NE(r.err.find("\n\nFWUPG_ERROR: get_interface_list filed RC = 1\n"), npos) << r.err;
    EXPECT_EQ(query_errors(server, r), "");
    EXPECT_EQ(server.tmp_files().size(), 1u) << "the query-error file stays for the operator";

    add_other(server, "0000:03:00.0");
    r = server.run({"-c"});
    EXPECT_EQ(messages(r), "Interface 0000:03:00.0 is not Mellanox one.\n");
    EXPECT_TRUE(server.tool_calls().empty());
    EXPECT_EQ(server.log(), "");
}

TEST(Inventory, ListsEachNetworkDeviceOnceInAddressOrderInEveryPciDomain)
{
    sim::SimServer server;
    const std::vector<std::pair<std::string, unsigned>> functions = {
        {"0000:81:00.0", 0x020000}, {"0000:05:00.1", 0x020000}, {"0000:05:00.0", 0x020000}, {"0000:0a:00.0", 0x0c0600},
        {"0000:0b:00.0", 0x028000}, {"0000:0c:00.0", 0x020700}, {"0000:06:00.0", 0x010802}};
    for (const auto &[address, pci_class] : functions)
        add_other(server, address, pci_class);
    add_mellanox(server, {.address = "0100:02:00.0"});
    // A domain past four digits, with a second device that its first ten characters do not tell apart.
    add_mellanox(server, {.address = "10000:02:00.0", .base_mac = "b8cef6000001"});
    add_other(server, "10000:02:01.0");
    sim::Result r = server.run({"-c"});
    EXPECT_NE(r.out.find(".\n[0] 0000:05:00.0 Intel Corporation\n[1] 0000:0a:00.0 Intel Corporation\n"
                         "[2] 0000:0b:00.0 Intel Corporation\n[3] 0000:0c:00.0 Intel Corporation\n"
                         "[4] 0000:81:00.0 Intel Corporation\n[5] 0100:02:00.0 Mellanox Technologies\n"
                         "[6] 10000:02:00.0 Mellanox Technologies\n[7] 10000:02:01.0 Intel Corporation\n\nIf PSID"),
              npos) << r.out;
    EXPECT_EQ(messages(r), "Interface 0000:05:00.0 is not Mellanox one.\nInterface 0000:0a:00.0 is not Mellanox one.\n"
                           "Interface 0000:0b:00.0 is not Mellanox one.\nInterface 0000:0c:00.0 is not Mellanox one.\n"
                           "Interface 0000:81:00.0 is not Mellanox one.\n" + card("0100:02:00.0") +
                           card("10000:02:00.0") + "Interface 10000:02:01.0 is not Mellanox one.\n");
}

TEST(Inventory, VendorNamedOnlyByItsIdCountsAsMellanox)
{
    for (const bool readable : {true, false}) {
        SCOPED_TRACE(readable ? "database without 15b3" : "no database");
        sim::SimServer server;
        server.set_pci_ids(readable ? std::optional<std::string>("8086  Intel Corporation\n") : std::nullopt);
        add_mellanox(server, {.address = "0000:05:00.0"});
        add_other(server, "0000:06:00.0");
        sim::Result r = server.run({"-c"});
        // Each libpci words its fallback in its own way; the vendor ID stands in all of them.
        const std::string listed = "\\[0\\] 0000:05:00\\.0 [^\n]*15b3[^\n]*\n\\[1\\] 0000:06:00\\.0 [^\n]*(intel|8086)";
        EXPECT_TRUE(std::regex_search(r.out, std::regex(listed, std::regex::icase))) << r.out;
        EXPECT_EQ(messages(r), card("0000:05:00.0") + "Interface 0000:06:00.0 is not Mellanox one.\n");
    }
}

TEST(Inventory, QueriesOnceWithTheChosenToolAndTakesTheFirstLineCarryingEachLabel)
{
    for (const bool secure_boot : {false, true}) {
        SCOPED_TRACE(secure_boot ? "Secure Boot" : "no Secure Boot");
        sim::SimServer server;
        if (secure_boot) {
            server.set_mokutil("SecureBoot enabled");
            server.set_mst(true);
            server.set_installed_flint(true);
        }
        add_mellanox(server, {.address = "0000:05:00.0", .extra_query_lines = "Board PSID note: XYZ\n"});
        sim::Result r = server.run({"-c"});
        const Calls calls = server.tool_calls();
        ASSERT_EQ(calls.size(), secure_boot ? 5u : 1u);
        const std::string tool = secure_boot ? "/usr/bin/flint" : "./nic_fw/mstflint";
        EXPECT_EQ(calls.back(), std::vector<std::string>({tool, "-d", "0000:05:00.0", "q"}));
        // The cut falls five characters into "Board PSID note: XYZ", so the PSID is "PSID".
        EXPECT_EQ(messages(r), card("0000:05:00.0", "PSID"));
    }
}

TEST(Inventory, SkipsTheSecondDeviceOfOneAdapterButNeverOneWithoutBaseMac)
{
    sim::SimServer server;
    // The first answers last: the lines still come in address order.
    for (const char *address : {"0000:05:00.0", "0000:06:00.0", "0000:07:00.0"})
        add_mellanox(server, {.address = address, .base_mac = "b8cef6000510", .query_ms = address[6] == '5' ? 300 : 0});
    for (const char *address : {"0000:08:00.0", "0000:09:00.0"})
        add_mellanox(server, {.address = address, .base_mac = std::nullopt});
    sim::Result r = server.run({"-c"});
    const std::string skip = " as it is the second device of Mellanox adapter with PSID MT_0000000080.\n";
    // Once for each earlier device of the same adapter.
    EXPECT_EQ(messages(r), card("0000:05:00.0") + "Skipping interface 0000:06:00.0" + skip +
                               "Skipping interface 0000:07:00.0" + skip + "Skipping interface 0000:07:00.0" + skip +
                               card("0000:08:00.0") + card("0000:09:00.0"));
    EXPECT_EQ(query_errors(server, r), k_query_failed + k_query_failed);
}

TEST(Inventory, DevicesWithoutPsidOrAnAnsweringToolAreLeftIncomplete)
{
    sim::SimServer server;
    add_mellanox(server, {.address = "0000:05:00.0", .psid = std::nullopt, .query_ms = 300});
    add_mellanox(server, {.address = "0000:06:00.0", .query_fails = true});
    add_mellanox(server, {.address = "0000:07:00.0"});
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(messages(r), card("0000:07:00.0"));
    const std::string three_failed = k_query_failed + k_query_failed + k_query_failed;
    EXPECT_EQ(query_errors(server, r),
              k_query_failed + not_found("0000:05:00.0") + three_failed + not_found("0000:06:00.0"));

    // Without the query-error file its lines are dropped and the build goes on.
    std::filesystem::remove_all(server.root() + "/tmp");
    r = server.run({"-c"});
    EXPECT_NE(r.out.find("Not able to open this " + server.root() + "/tmp/dataXXXXXX file\n"), npos) << r.out;
    EXPECT_EQ(messages(r), card("0000:07:00.0"));
    std::filesystem::create_directory(server.root() + "/tmp");

    server.write_package_file("nic_fw/mstflint", "not a program\n");
    r = server.run({"-c"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(messages(r), "");
    EXPECT_EQ(query_errors(server, r), three_failed + not_found("0000:05:00.0") + three_failed +
                                           not_found("0000:06:00.0") + three_failed + not_found("0000:07:00.0"));
}

TEST(Inventory, AHungQueryEndsAtTheLimitAndASignalEndsTheQueriesFirst)
{
    sim::SimServer server;
    server.set_run_timeout(20);
    add_mellanox(server, {.address = "0000:05:00.0", .query_ms = 30000});
    add_mellanox(server, {.address = "0000:06:00.0"});
    sim::Result r = server.run({"-c"}, "", {{"ROVAN_QUERY_TIMEOUT", "1"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(messages(r), card("0000:06:00.0"));
    EXPECT_EQ(query_errors(server, r), "FWUPG_ERROR: no answer from the flash tool for 0000:05:00.0 within 1 s\n" +
                                           k_query_failed + k_query_failed + k_query_failed + not_found("0000:05:00.0"));
    ASSERT_EQ(server.query_pids("0000:05:00.0").size(), 2u) << "the tool and its helper";
    expect_gone(server.query_pids("0000:05:00.0"));

    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        const size_t earlier = server.query_pids("0000:05:00.0").size();
        const pid_t pid = server.start({"-c"});
        for (int i = 0; i < 2000 && server.query_pids("0000:05:00.0").size() < earlier + 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(kill(pid, sig), 0);
        r = server.finish(pid);
        EXPECT_EQ(r.term_signal, sig);
        EXPECT_EQ(server.query_pids("0000:05:00.0").size(), earlier + 2);
        expect_gone(server.query_pids("0000:05:00.0"));
    }
}

TEST(Inventory, UnreadablePciIdFileEndsTheRun)
{
    sim::SimServer server;
    add_mellanox(server, {.address = "0000:05:00.0"});
    const std::string path = server.root() + "/sys/bus/pci/devices/0000:05:00.0/subsystem_device";
    ASSERT_TRUE(std::filesystem::remove(path));
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ERROR: could not open " + path + " (errno=2), "), npos) << r.err;
    EXPECT_NE(r.err.find("\n\nFWUPG_ERROR: RC = 1\n"), npos) << r.err;
}
