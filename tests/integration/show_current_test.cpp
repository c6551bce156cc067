// Whole runs of -c: the table of each port and the order of its versions.
#include <gtest/gtest.h>

#include <regex>

#include "sim_server.h"

namespace {

using Versions = std::vector<std::string>;

void add_adapter(sim::SimServer &server, const std::string &address, const std::string &installed = "16.35.2000")
{
    server.add_function({.address = address});
    server.add_flash_device({.address = address, .fw_version = installed, .base_mac = "b8cef6" + address.substr(5, 2)});
}

// The block that -c prints for one port, with the available versions in the order given.
std::string block(const std::string &address, const std::string &installed, const std::string &name,
                  const Versions &available)
{
    std::string text = " PCI-ID              \t\tNIC\n15B3-1017-15B3-0007 \t" + name + " \n\n     (Installed)     "
                       "      (Available)\n     Image      Version      Image        Version     \t\tInterface\n" +
                       std::string(72, '-') + "\n      ROM       " + installed + "    ROM\t\t" +
                       (available.empty() ? "Nothing\t\t\t" + address + "\n" : "");
    for (const std::string &v : available)
        text += (&v == &available[0] ? "" : std::string(31, ' ') + "\t\t") +
                std::string(10 - std::min<size_t>(10, v.size()), ' ') + v + "\t\t" + address + "\n";
    return text + "\n";
}

// Everything from the first block on: the blocks come after the inventory's messages.
std::string blocks(const sim::Result &r)
{
    return r.out.substr(std::min(r.out.find(" PCI-ID"), r.out.size()));
}

bool logged_error(const std::string &log, const std::string &event)
{
    return std::regex_match(log, std::regex("\\[ERROR\\]     \\[[^\\]\n]+\\] " + event + "\n\n"));
}

} // namespace

TEST(ShowCurrent, ListsEachPortsVersionsWholeInNumericOrderUnderTheFirstEntrysName)
{
    sim::SimServer server;
    add_adapter(server, "0000:05:00.0");
    add_adapter(server, "0000:06:00.0", "-1.1.2"); // each field prints with its sign
    server.set_catalog({{.rom = "2.42.5000"}, {.name = "Second", .rom = "2.9.1000"}, {.rom = "123.456.78901"},
                        {.rom = "2.10.700"}, {.rom = "16.35.2000"}});
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 0) << r.err;
    const Versions sorted = {"2.9.1000", "2.10.700", "2.42.5000", "16.35.2000", "123.456.78901"};
    EXPECT_EQ(blocks(r), block("0000:05:00.0", "16.35.2000", "ConnectX-5 EN", sorted) +
                             block("0000:06:00.0", "-1.1.2", "ConnectX-5 EN", sorted));
    EXPECT_EQ(server.tool_calls().size(), 2u) << "one query for each port and nothing else";
    EXPECT_EQ(server.log(), "");
}

TEST(Catalog, MatchesTheAdaptersKeyExactlyAndCollectsEveryImageOfIt)
{
    struct Case {
        std::string what;
        std::vector<sim::CatalogEntry> entries;
        std::string name;  // of the port's first image
        Versions available;
        std::string xml {}; // the catalog text instead of the entries
    };
    Versions sixty;
    std::vector<sim::CatalogEntry> sixty_descending;
    for (int i = 0; i < 60; ++i) {
        sixty.push_back("16." + std::to_string(i) + ".1000");
        sixty_descending.insert(sixty_descending.begin(), {.rom = sixty.back()});
    }
    const std::string key = "venid=\"15B3\" devid=\"1017\" subvenid=\"15B3\" PSID=\"MT_0000000080\" subdevid=\"0007\"";
    const std::vector<Case> cases = {
        {"no entries", {}, "", {}},
        {"sixty entries", sixty_descending, "ConnectX-5 EN", sixty},
        {"lower-case vendor", {{.venid = "15b3"}}, "", {}},
        {"lower-case PSID", {{.psid = "mt_0000000080"}}, "", {}},
        {"other device", {{.devid = "1015"}}, "", {}},
        {"no subdevid", {{.subdevid = std::nullopt}}, "", {}},
        {"catalog subsystem IDs", {{.subvenid = "1590", .subdevid = "00AB"}}, "ConnectX-5 EN", {"16.35.2000"}},
        {"another board first", {{.name = "Other", .psid = "MT_0000000011"}, {.name = "Mine", .rom = "16.36.1000"}},
         "Mine", {"16.36.1000"}},
        {"no rom", {{.rom = std::nullopt}}, "ConnectX-5 EN", {"0.0.0"}},
        {"attributes carried from the element before", {}, "First", {"16.35.2000", "16.36.1000"},
         "<NICFWData><NIC name=\"First\" " + key + " rom=\"16.35.2000\"/>"
         "<Other name=\"Second\" subvenid=\"15B3\" subdevid=\"0007\" rom=\"16.36.1000\"/></NICFWData>"},
        // A rom before any accepted entry is passed over; the third element's rom replaces the second's.
        {"rom before subdevid", {}, "Early", {"0.0.0", "0.0.0", "2.1.0"},
         "<NICFWData><NIC rom=\"9.9.9\" name=\"Early\" " + key + "/><NIC name=\"Late\" " + key +
             " rom=\"16.35.2000\"/><NIC rom=\"2.1.0\" name=\"Late\" " + key + "/></NICFWData>"},
        {"malformed after the first entry", {}, "Good", {"16.35.2000"},
         "<NICFWData><NIC name=\"Good\" " + key + " rom=\"16.35.2000\"/>\n<NIC name=\"Broken\" venid=\"15B3\n"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        sim::SimServer server;
        add_adapter(server, "0000:05:00.0");
        c.xml.empty() ? server.set_catalog(c.entries) : server.set_catalog_text(c.xml);
        sim::Result r = server.run({"-c"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(blocks(r), block("0000:05:00.0", "16.35.2000", c.name, c.available));
        const bool logged = logged_error(server.log(), "For 0000:05:00.0 no matching firmware file in XML");
        EXPECT_TRUE(c.available.empty() ? logged : server.log().empty()) << server.log();
    }
}

TEST(Catalog, MissingCatalogEndsTheRun)
{
    sim::SimServer server;
    add_adapter(server, "0000:05:00.0");
    server.remove_catalog();
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(blocks(r), "");
    EXPECT_TRUE(logged_error(server.log(), "Unable to open nic_fw/NICFWData.xml")) << server.log();
}
