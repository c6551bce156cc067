#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim_server.h"

namespace {

sim::PciFunction function_at(const std::string &address, unsigned vendor = 0x15b3, unsigned pci_class = 0x020000)
{
    sim::PciFunction fn;
    fn.address = address;
    fn.vendor = vendor;
    fn.pci_class = pci_class;
    return fn;
}

sim::FlashDevice device_at(const std::string &address, const std::string &mac = "b8cef6000000")
{
    sim::FlashDevice dev;
    dev.address = address;
    dev.base_mac = mac;
    return dev;
}

// One Mellanox function with its flash device and a catalog entry for it.
void add_adapter(sim::SimServer &server, const std::string &address, const std::string &mac)
{
    server.add_function(function_at(address));
    server.add_flash_device(device_at(address, mac));
}

// The queries that reached a flash tool.
std::vector<std::vector<std::string>> flash_calls(const sim::SimServer &server)
{
    std::vector<std::vector<std::string>> calls;
    for (const auto &call : server.tool_calls())
        if (call[0].ends_with("flint") && call.back() == "q")
            calls.push_back(call);
    return calls;
}

size_t count_of(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + part.size()))
        ++n;
    return n;
}

// The lines "[i] address vendor" of the adapter list.
std::vector<std::string> listed(const std::string &out)
{
    std::vector<std::string> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
        if (line.size() > 2 && line[0] == '[' && std::isdigit(static_cast<unsigned char>(line[1])))
            lines.push_back(line);
    return lines;
}

// The query-error file named on the console, read from the server's /tmp.
std::string query_error_text(const sim::SimServer &server, const std::string &out)
{
    const std::string intro = "please check ";
    size_t at = out.find(intro);
    if (at == std::string::npos)
        return "<no query-error file named>";
    at += intro.size();
    const std::string path = out.substr(at, out.find('\n', at) - at);
    EXPECT_EQ(path.rfind(server.root() + "/tmp/data", 0), 0u) << path;
    std::ifstream in(path);
    if (!in)
        return "<query-error file missing>";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool contains_nocase(std::string text, std::string part)
{
    auto lower = [](std::string &s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    };
    lower(text);
    lower(part);
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(Enumeration, NoNetworkFunctionIsReportedAndTheDisplayStillSucceeds)
{
    sim::SimServer server;
    server.add_function(function_at("0000:02:00.0", 0x8086, 0x010802));
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("NO Interface Found\n"), std::string::npos);
    EXPECT_NE(r.err.find("FWUPG_ERROR: get_interface_list filed RC = 1\n"), std::string::npos);
    EXPECT_NE(r.out.find("List of Network Adapters detected on the Server.................\n\nIf PSID or "
                         "FW_Version is not found for some interfaces, please check "),
              std::string::npos);
    EXPECT_TRUE(listed(r.out).empty());
    EXPECT_EQ(server.tmp_files().size(), 1u);
    EXPECT_EQ(query_error_text(server, r.out), "");
}

TEST(Enumeration, ListsOneEntryPerDeviceInAddressOrder)
{
    sim::SimServer server;
    for (const char *address : {"0000:81:00.0", "0000:05:00.1", "0000:05:00.0"})
        server.add_function(function_at(address, 0x8086));
    server.add_function(function_at("0000:0a:00.0", 0x8086, 0x0c0600));
    server.add_function(function_at("0000:0b:00.0", 0x8086, 0x028000));
    server.add_function(function_at("0000:0c:00.0", 0x8086, 0x020700));
    server.add_function(function_at("0000:06:00.0", 0x8086, 0x010802));
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = listed(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0], "[0] 0000:05:00.0 Intel Corporation");
    EXPECT_EQ(lines[1], "[1] 0000:0a:00.0 Intel Corporation");
    EXPECT_EQ(lines[2], "[2] 0000:0b:00.0 Intel Corporation");
    EXPECT_EQ(lines[3], "[3] 0000:0c:00.0 Intel Corporation");
    EXPECT_EQ(lines[4], "[4] 0000:81:00.0 Intel Corporation");
}

TEST(Enumeration, ListsDevicesOfHigherPciDomains)
{
    sim::SimServer server;
    add_adapter(server, "0100:02:00.0", "b8cef6000100");
    add_adapter(server, "0000:05:00.0", "b8cef6000500");
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = listed(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0], "[0] 0000:05:00.0 Mellanox Technologies");
    EXPECT_EQ(lines[1], "[1] 0100:02:00.0 Mellanox Technologies");
    EXPECT_NE(r.out.find("\nMellanox card info for 0100:02:00.0 = FW_VERSION 16.35.2000, BUS_INFO 0100:02:00.0, "
                         "PSID MT_0000000080\n0100:02:00.0\n"),
              std::string::npos);
}

TEST(Inventory, OnlyNonMellanoxAdaptersAreNamedAndNotQueried)
{
    sim::SimServer server;
    server.add_function(function_at("0000:03:00.0", 0x8086));
    server.add_function(function_at("0000:04:00.0", 0x8086));
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Interface 0000:03:00.0 is not Mellanox one.\nInterface 0000:04:00.0 is not Mellanox one.\n"),
              std::string::npos);
    EXPECT_EQ(r.out.find("PCI-ID"), std::string::npos);
    EXPECT_TRUE(flash_calls(server).empty());
    EXPECT_EQ(server.log(), "");
}

TEST(Inventory, VendorMissingFromTheIdDatabaseCountsAsMellanox)
{
    sim::SimServer server;
    server.set_pci_ids("8086  Intel Corporation\n");
    add_adapter(server, "0000:05:00.0", "b8cef6000500");
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = listed(r.out);
    ASSERT_EQ(lines.size(), 1u);
    // The fallback wording differs between libpci versions; the ID stands in each.
    EXPECT_TRUE(contains_nocase(lines[0], "15b3")) << lines[0];
    EXPECT_FALSE(contains_nocase(lines[0], "Mellanox")) << lines[0];
    EXPECT_NE(r.out.find("Mellanox card info for 0000:05:00.0"), std::string::npos);
    EXPECT_NE(r.out.find(" PCI-ID"), std::string::npos);
}

TEST(Inventory, UnreadableIdDatabaseStillFindsMellanox)
{
    sim::SimServer server;
    server.set_pci_ids(std::nullopt);
    add_adapter(server, "0000:05:00.0", "b8cef6000500");
    server.add_function(function_at("0000:06:00.0", 0x8086));
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = listed(r.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(contains_nocase(lines[0], "15b3")) << lines[0];
    EXPECT_TRUE(contains_nocase(lines[1], "8086")) << lines[1];
    EXPECT_NE(r.out.find("Mellanox card info for 0000:05:00.0"), std::string::npos);
    EXPECT_NE(r.out.find("Interface 0000:06:00.0 is not Mellanox one.\n"), std::string::npos);
}

TEST(Inventory, QueriesEachLabelWithThePackagesTool)
{
    sim::SimServer server;
    add_adapter(server, "0000:05:00.0", "b8cef6000500");
    server.run({"-c"});
    const std::vector<std::string> query = {"./nic_fw/mstflint", "-d", "0000:05:00.0", "q"};
    const auto calls = flash_calls(server);
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), query), 3);
}

TEST(Inventory, QueriesWithTheInstalledToolUnderSecureBoot)
{
    sim::SimServer server;
    server.set_mokutil("SecureBoot enabled");
    server.set_mst(true);
    server.set_installed_flint(true);
    add_adapter(server, "0000:05:00.0", "b8cef6000500");
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::vector<std::string> query = {"/usr/bin/flint", "-d", "0000:05:00.0", "q"};
    const auto calls = flash_calls(server);
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), query), 3);
}

TEST(Inventory, PrintsTheCardInfoTheIdsAndTheCatalogKey)
{
    sim::SimServer server;
    sim::PciFunction fn = function_at("0000:05:00.0");
    fn.subsystem_vendor = 0x1590;
    fn.subsystem_device = 0x7;
    server.add_function(fn);
    server.add_flash_device(device_at("0000:05:00.0"));
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nMellanox card info for 0000:05:00.0 = FW_VERSION 16.35.2000, BUS_INFO 0000:05:00.0, "
                         "PSID MT_0000000080\n"
                         "0000:05:00.0\n"
                         "DEVICE INFO---------->15b3 1017 1590 7\n"
                         "pciIdString-------------->15B3-1017-1590-0007-MT_0000000080\n\n"),
              std::string::npos)
        << r.out;
}

TEST(Inventory, FirstLineCarryingTheLabelWins)
{
    sim::SimServer server;
    server.add_function(function_at("0000:05:00.0"));
    sim::FlashDevice dev = device_at("0000:05:00.0");
    dev.extra_query_lines = "Board PSID note: XYZ\n";
    server.add_flash_device(dev);
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Cut five characters from the start of the line: " PSID note: XYZ", then the first word.
    EXPECT_NE(r.out.find("pciIdString-------------->15B3-1017-15B3-0007-PSID\n"), std::string::npos) << r.out;
}

TEST(Inventory, SecondDeviceOfOneAdapterIsSkipped)
{
    sim::SimServer server;
    add_adapter(server, "0000:05:00.0", "b8cef6000510");
    add_adapter(server, "0000:06:00.0", "b8cef6000510");
    add_adapter(server, "0000:07:00.0", "b8cef6000510");
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(r.out, "Skipping interface 0000:06:00.0 as it is the second device of Mellanox adapter with "
                              "PSID MT_0000000080.\n"),
              1u);
    // Once for each earlier device of the same adapter.
    EXPECT_EQ(count_of(r.out, "Skipping interface 0000:07:00.0 as it is the second device of Mellanox adapter with "
                              "PSID MT_0000000080.\n"),
              2u);
    EXPECT_EQ(count_of(r.out, "Mellanox card info for"), 1u);
    EXPECT_EQ(count_of(r.out, " PCI-ID"), 1u);
}

TEST(Inventory, DevicesWithoutBaseMacAreNeverDuplicates)
{
    sim::SimServer server;
    for (const char *address : {"0000:05:00.0", "0000:06:00.0"}) {
        server.add_function(function_at(address));
        sim::FlashDevice dev = device_at(address);
        dev.base_mac = std::nullopt;
        server.add_flash_device(dev);
    }
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Skipping interface"), std::string::npos);
    EXPECT_EQ(count_of(r.out, " PCI-ID"), 2u);
    const std::string errors = query_error_text(server, r.out);
    EXPECT_EQ(count_of(errors, "\n\nFWUPG_ERROR: get_firmware_info filed RC = 1\n"), 2u) << errors;
    EXPECT_EQ(errors.find("PSID or FW_Version is not found"), std::string::npos);
}

TEST(Inventory, DeviceWithoutPsidIsLeftIncomplete)
{
    sim::SimServer server;
    server.add_function(function_at("0000:05:00.0"));
    sim::FlashDevice dev = device_at("0000:05:00.0");
    dev.psid = std::nullopt;
    server.add_flash_device(dev);
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("Mellanox card info"), std::string::npos);
    EXPECT_EQ(r.out.find(" PCI-ID"), std::string::npos);
    const std::string errors = query_error_text(server, r.out);
    EXPECT_EQ(count_of(errors, "FWUPG_ERROR: get_firmware_info filed RC = 1\n"), 1u) << errors;
    EXPECT_NE(errors.find("\n\nFWUPG_ERROR: PSID or FW_Version is not found for 0000:05:00.0 interface\n"),
              std::string::npos)
        << errors;
}

TEST(Inventory, DeviceThatTheToolCannotOpenGetsThreeQueryErrors)
{
    sim::SimServer server;
    server.add_function(function_at("0000:05:00.0"));
    sim::FlashDevice dev = device_at("0000:05:00.0");
    dev.query_fails = true;
    server.add_flash_device(dev);
    add_adapter(server, "0000:06:00.0", "b8cef6000600");
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0);
    const std::string errors = query_error_text(server, r.out);
    EXPECT_EQ(count_of(errors, "FWUPG_ERROR: get_firmware_info filed RC = 1\n"), 3u) << errors;
    EXPECT_EQ(count_of(errors, "PSID or FW_Version is not found for 0000:05:00.0 interface\n"), 1u);
    EXPECT_EQ(errors.find("0000:06:00.0"), std::string::npos);
    EXPECT_EQ(count_of(r.out, " PCI-ID"), 1u);
    EXPECT_NE(r.out.find("Mellanox card info for 0000:06:00.0"), std::string::npos);
}

TEST(Inventory, ToolThatCannotRunLeavesEveryDeviceIncomplete)
{
    sim::SimServer server;
    add_adapter(server, "0000:05:00.0", "b8cef6000500");
    server.write_package_file("nic_fw/mstflint", "not a program\n");
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find(" PCI-ID"), std::string::npos);
    const std::string errors = query_error_text(server, r.out);
    EXPECT_EQ(count_of(errors, "FWUPG_ERROR: get_firmware_info filed RC = 1\n"), 3u) << errors;
    EXPECT_EQ(count_of(errors, "PSID or FW_Version is not found for 0000:05:00.0 interface\n"), 1u);
}

TEST(Inventory, BoardWithoutCatalogEntryIsCompleteWithoutImages)
{
    sim::SimServer server;
    add_adapter(server, "0000:05:00.0", "b8cef6000500");
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ROM\t\tNothing\t\t\t0000:05:00.0\n"), std::string::npos) << r.out;
    EXPECT_EQ(count_of(server.log(), "[ERROR]    "), 1u);
    EXPECT_NE(server.log().find("] For 0000:05:00.0 no matching firmware file in XML\n"), std::string::npos)
        << server.log();
}

TEST(Inventory, QueryErrorFileStaysForTheOperator)
{
    sim::SimServer server;
    server.run({"-c"});
    sim::Result second = server.run({"-c"});
    ASSERT_EQ(second.status, 0);
    EXPECT_EQ(server.tmp_files().size(), 2u);
}

TEST(Inventory, UnreadablePciIdFileEndsTheRun)
{
    sim::SimServer server;
    add_adapter(server, "0000:05:00.0", "b8cef6000500");
    const std::string path = server.root() + "/sys/bus/pci/devices/0000:05:00.0/subsystem_device";
    ASSERT_TRUE(std::filesystem::remove(path));
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ERROR: could not open " + path + " (errno=2), "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\n\nFWUPG_ERROR: RC = 1\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("DEVICE INFO"), std::string::npos);
}

TEST(Inventory, GoesOnWithoutTheQueryErrorFile)
{
    sim::SimServer server;
    add_adapter(server, "0000:05:00.0", "b8cef6000500");
    std::filesystem::remove_all(server.root() + "/tmp");
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Not able to open this " + server.root() + "/tmp/dataXXXXXX file\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(" PCI-ID"), std::string::npos);
}
