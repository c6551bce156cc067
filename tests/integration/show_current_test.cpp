// Whole runs of -c: the table of each port, the catalog images that belong to it and the order of its versions.
#include <gtest/gtest.h>

#include "support.h"

using namespace support;

namespace {

using Versions = std::vector<std::string>;

const std::vector<std::pair<std::string, std::string>> k_ports = {{"0000:05:00.0", "16.35.2000"}, {"0000:06:00.0", "-1.1.2"}};

// What -c prints for the ports (the second one's version with a sign), the available versions in the order given.
std::string blocks(const std::string &name, const Versions &available)
{
    std::string text;
    for (const auto &[address, installed] : k_ports) {
        text += " PCI-ID              \t\tNIC\n15B3-1017-15B3-0007 \t" + name + " \n\n     (Installed)           "
                "(Available)\n     Image      Version      Image        Version     \t\tInterface\n" + std::string(72, '-') +
                "\n      ROM       " + installed + "    ROM\t\t" + (available.empty() ? "Nothing\t\t\t" : "");
        for (const std::string &v : available) // "%10s"
            text += (&v == &available[0] ? "" : std::string(31, ' ') + "\t\t") +
                    std::string(10 - std::min<size_t>(10, v.size()), ' ') + v + "\t\t" + address + "\n";
        text += available.empty() ? address + "\n\n" : "\n";
    }
    return text;
}

sim::SimServer &add_ports(sim::SimServer &server)
{
    for (const auto &[address, installed] : k_ports)
        server.add_port({.address = address, .fw_version = installed, .base_mac = "b8cef600" + address.substr(5, 2)});
    return server;
}

} // namespace

// Every image of the port's board in numeric order, under the first one's name.
TEST(ShowCurrent, ShowsTheCatalogImagesOfEachPortsBoard)
{
    struct Case { std::string what; std::vector<sim::CatalogEntry> entries; std::string name; Versions shown; std::string xml {}; };
    std::vector<sim::CatalogEntry> many = {{.rom = "2.42.5000"}, {.name = "Second", .rom = "2.9.1000"}, {.rom = "123.456.78901"}};
    Versions sorted = {"2.9.1000", "2.42.5000", "123.456.78901"};
    for (int i = 59; i >= 0; --i) // no limit of fifty
        sorted.insert(sorted.begin() + 2, *many.emplace_back(sim::CatalogEntry {.rom = "16." + std::to_string(i) + ".0"}).rom);
    const std::string no_match = "[ERROR]    For 0000:05:00.0 no matching firmware file in XML\n\n";
    for (const Case &c : std::vector<Case> {
             {"numeric order", many, "ConnectX-5 EN", sorted},
             {"lower-case PSID", {{.psid = "mt_0000000080"}}, "", {}},
             {"no subdevid", {{.subdevid = std::nullopt}}, "", {}},
             {"catalog subsystem IDs", {{.subvenid = "1590", .subdevid = "00AB"}}, "ConnectX-5 EN", {"16.35.2000"}},
             {"another board first", {{.name = "Other", .psid = "MT_0000000011"}, {.name = "Mine", .rom = "16.36.1000"}},
              "Mine", {"16.36.1000"}},
             {"carried from the entry before", {{.name = "First"}, {.name = "2nd", .venid = {}, .devid = {}, .psid = {},
              .rom = "16.36.1000"}}, "First", {"16.35.2000", "16.36.1000"}},
             {"comment after the root", {}, "Good", {"16.35.2000"},
              R"(<NICFWData><NIC name="Good" venid="15B3" devid="1017" subvenid="15B3" PSID="MT_0000000080" )"
              R"(subdevid="0007" rom="16.35.2000"/></NICFWData><!-- > -->)"}}) {
        SCOPED_TRACE(c.what);
        sim::SimServer server;
        c.xml.empty() ? add_ports(server).set_catalog(c.entries) : add_ports(server).set_catalog_text(c.xml);
        const sim::Result r = server.run({"-c"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.substr(std::min(r.out.find(" PCI-ID"), r.out.size())), blocks(c.name, c.shown));
        EXPECT_EQ(log_without_times(server), c.shown.empty() ? no_match + std::regex_replace(no_match,
                                                                std::regex("05:"), "06:") : "");
    }
}

// A catalog cut short (a package copied in part) is none: whatever it held before the cut, each mode ends as
// without a catalog, and -d writes no report (here it would offer the older image as a downgrade).
TEST(ShowCurrent, ACatalogCutShortEndsEveryModeAsAMissingOne)
{
    sim::SimServer server;
    add_ports(server).set_catalog({{.rom = "16.34.1000"}, {.rom = "16.36.1000"}});
    const std::string whole = server.read_package_file("nic_fw/NICFWData.xml");
    for (const std::string mode : {"-c", "-s", "-d"}) {
        SCOPED_TRACE(mode);
        std::string shown[2];
        for (const bool cut : {false, true}) {
            cut ? server.set_catalog_text(whole.substr(0, whole.find("16.36"))) : server.remove_catalog();
            server.remove_package_file("mstflint.log");
            const sim::Result r = server.run({mode});
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(log_without_times(server), "[ERROR]    Unable to open nic_fw/NICFWData.xml\n\n");
            EXPECT_FALSE(server.package_file_exists("nicdiscovery.xml"));
            shown[cut] = std::regex_replace(r.out + "|" + r.err, std::regex("/tmp/data\\w+"), "/tmp/D");
        }
        EXPECT_EQ(shown[1], shown[0]);
    }
}
