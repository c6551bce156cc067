#include <gtest/gtest.h>

#include "sim_server.h"

namespace {

const std::string k_address = "0000:05:00.0";

void add_adapter(sim::SimServer &server, const std::string &address = k_address,
                 const std::string &mac = "b8cef6000500", const std::string &installed = "16.35.2000")
{
    sim::PciFunction fn;
    fn.address = address;
    server.add_function(fn);
    sim::FlashDevice dev;
    dev.address = address;
    dev.base_mac = mac;
    dev.fw_version = installed;
    server.add_flash_device(dev);
}

std::vector<sim::CatalogEntry> entries_with_roms(const std::vector<std::string> &roms)
{
    std::vector<sim::CatalogEntry> entries;
    for (const auto &rom : roms) {
        sim::CatalogEntry e;
        e.rom = rom;
        e.fwFile = "fw-" + rom + ".bin";
        entries.push_back(e);
    }
    return entries;
}

std::string header(const std::string &ids, const std::string &name)
{
    return " PCI-ID              \t\tNIC\n" + ids + " \t" + name + " \n\n" +
           "     (Installed)           (Available)\n"
           "     Image      Version      Image        Version     \t\tInterface\n" +
           std::string(72, '-') + "\n";
}

std::string first_row(const std::string &installed, const std::string &available, const std::string &ifname)
{
    return "      ROM       " + installed + "    ROM\t\t" + available + "\t\t" + ifname + "\n";
}

std::string further_row(const std::string &available, const std::string &ifname)
{
    return std::string(31, ' ') + "\t\t" + available + "\t\t" + ifname + "\n";
}

// Everything from the first table on: the tables come after the inventory's messages.
std::string tables(const sim::Result &r)
{
    size_t at = r.out.find(" PCI-ID");
    return at == std::string::npos ? std::string() : r.out.substr(at);
}

} // namespace

TEST(ShowCurrent, ListsAvailableVersionsInNumericOrder)
{
    sim::SimServer server;
    add_adapter(server);
    server.set_catalog(entries_with_roms({"2.42.5000", "2.9.1000", "2.10.700", "16.35.2000"}));
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tables(r), header("15B3-1017-15B3-0007", "ConnectX-5 EN") +
                             first_row("16.35.2000", "  2.9.1000", k_address) + further_row("  2.10.700", k_address) +
                             further_row(" 2.42.5000", k_address) + further_row("16.35.2000", k_address) + "\n");
}

TEST(ShowCurrent, PortWithoutCatalogImageShowsNothing)
{
    sim::SimServer server;
    add_adapter(server, k_address, "b8cef6000500", "2.42.5000");
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tables(r), header("15B3-1017-15B3-0007", "") + "      ROM       2.42.5000    ROM\t\tNothing\t\t\t" +
                             k_address + "\n\n");
}

TEST(ShowCurrent, VersionsWiderThanTheColumnStandWhole)
{
    sim::SimServer server;
    add_adapter(server, k_address, "b8cef6000500", "4000000000.1.2");
    server.set_catalog(entries_with_roms({"123.456.78901"}));
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(tables(r).find(first_row("4000000000.1.2", "123.456.78901", k_address)), std::string::npos)
        << tables(r);
}

TEST(ShowCurrent, EachPortOfTwoAdaptersHasItsOwnBlock)
{
    sim::SimServer server;
    add_adapter(server, "0000:05:00.0", "b8cef6000500");
    add_adapter(server, "0000:06:00.0", "b8cef6000600");
    server.set_catalog(entries_with_roms({"16.35.2000"}));
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string block = header("15B3-1017-15B3-0007", "ConnectX-5 EN");
    EXPECT_EQ(tables(r), block + first_row("16.35.2000", "16.35.2000", "0000:05:00.0") + "\n" + block +
                             first_row("16.35.2000", "16.35.2000", "0000:06:00.0") + "\n");
}

TEST(ShowCurrent, ListsMoreThanFiftyImagesInFull)
{
    sim::SimServer server;
    add_adapter(server);
    std::vector<std::string> roms;
    for (int i = 59; i >= 0; --i)
        roms.push_back("16." + std::to_string(i) + ".1000");
    server.set_catalog(entries_with_roms(roms));
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected = header("15B3-1017-15B3-0007", "ConnectX-5 EN") + first_row("16.35.2000", " 16.0.1000", k_address);
    for (int i = 1; i < 60; ++i) {
        std::string text = "16." + std::to_string(i) + ".1000";
        expected += further_row(std::string(10 - text.size(), ' ') + text, k_address);
    }
    EXPECT_EQ(tables(r), expected + "\n");
}

TEST(ShowCurrent, NoMellanoxPortPrintsNoTable)
{
    sim::SimServer server;
    sim::PciFunction fn;
    fn.address = "0000:03:00.0";
    fn.vendor = 0x8086;
    server.add_function(fn);
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(tables(r), "");
}

TEST(ShowCurrent, WritesOnlyTheInventorysEventsToTheLog)
{
    sim::SimServer server;
    add_adapter(server);
    server.set_catalog(entries_with_roms({"16.35.2000"}));
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(server.package_file_exists("mstflint.log"));
    EXPECT_EQ(server.log(), "");
}

TEST(ShowCurrent, ChangesNothingOnTheAdapters)
{
    sim::SimServer server;
    add_adapter(server);
    server.set_catalog(entries_with_roms({"16.36.1000"}));
    server.add_image({"fw-16.36.1000.bin", "MT_0000000080", "16.36.1000"});
    sim::Result r = server.run({"-c"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(server.device_fw_version(k_address), "16.35.2000");
    for (const auto &call : server.tool_calls()) {
        if (call[0].ends_with("flint")) {
            EXPECT_EQ(call.back(), "q");
        }
    }
}
