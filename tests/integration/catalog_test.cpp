#include <gtest/gtest.h>

#include <sstream>

#include "sim_server.h"

namespace {

const std::string k_address = "0000:05:00.0";

void add_adapter(sim::SimServer &server)
{
    sim::PciFunction fn;
    fn.address = k_address;
    server.add_function(fn);
    sim::FlashDevice dev;
    dev.address = k_address;
    server.add_flash_device(dev);
}

sim::CatalogEntry entry(const std::string &rom)
{
    sim::CatalogEntry e;
    e.rom = rom;
    e.fwFile = "fw-" + rom + ".bin";
    return e;
}

// The available versions that -c lists for the one port, in order; the
// name column comes first.
std::vector<std::string> shown(const sim::Result &r)
{
    std::vector<std::string> items;
    const std::string name_intro = "15B3-1017-15B3-0007 \t";
    size_t at = r.out.find(name_intro);
    if (at == std::string::npos)
        return {"<no table>"};
    at += name_intro.size();
    items.push_back(r.out.substr(at, r.out.find(" \n", at) - at));
    std::istringstream lines(r.out.substr(at));
    const std::string row_end = "\t\t" + k_address;
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.ends_with(row_end))
            continue;
        std::string row = line.substr(0, line.size() - row_end.size());
        row.erase(row.find_last_not_of('\t') + 1);
        std::string version = row.substr(row.rfind("\t\t") + 2);
        version.erase(0, version.find_first_not_of(' '));
        items.push_back(version);
    }
    return items;
}

sim::Result run_with_catalog(const std::vector<sim::CatalogEntry> &entries)
{
    sim::SimServer server;
    add_adapter(server);
    server.set_catalog(entries);
    return server.run({"-c"});
}

sim::Result run_with_catalog_text(const std::string &xml, std::string *log = nullptr)
{
    sim::SimServer server;
    add_adapter(server);
    server.set_catalog_text(xml);
    sim::Result r = server.run({"-c"});
    if (log)
        *log = server.log();
    return r;
}

using names = std::vector<std::string>;

} // namespace

TEST(Catalog, EntriesWithTheSameKeyAreAllImagesOfTheBoard)
{
    sim::CatalogEntry second = entry("16.36.1000");
    second.name = "ConnectX-5 EN second";
    sim::Result r = run_with_catalog({entry("16.35.2000"), second, entry("16.34.1000")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(shown(r), (names{"ConnectX-5 EN", "16.34.1000", "16.35.2000", "16.36.1000"}));
}

TEST(Catalog, LowerCaseVendorNeverMatches)
{
    sim::CatalogEntry e = entry("16.36.1000");
    e.venid = "15b3";
    sim::SimServer server;
    add_adapter(server);
    server.set_catalog({e});
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(shown(r), (names{"", "Nothing"}));
    EXPECT_NE(server.log().find("For 0000:05:00.0 no matching firmware file in XML"), std::string::npos);
}

TEST(Catalog, PsidIsComparedWithItsLetterCase)
{
    sim::CatalogEntry e = entry("16.36.1000");
    e.psid = "mt_0000000080";
    EXPECT_EQ(shown(run_with_catalog({e})), (names{"", "Nothing"}));
}

TEST(Catalog, OtherDeviceIdDoesNotMatch)
{
    sim::CatalogEntry e = entry("16.36.1000");
    e.devid = "1015";
    EXPECT_EQ(shown(run_with_catalog({e})), (names{"", "Nothing"}));
}

TEST(Catalog, CatalogsSubsystemIdsDoNotDecide)
{
    sim::CatalogEntry e = entry("16.36.1000");
    e.subvenid = "1590";
    e.subdevid = "00AB";
    EXPECT_EQ(shown(run_with_catalog({e})), (names{"ConnectX-5 EN", "16.36.1000"}));
}

TEST(Catalog, EntryWithoutSubdevidIsNeverCompared)
{
    sim::CatalogEntry without = entry("16.36.1000");
    without.subdevid = std::nullopt;
    EXPECT_EQ(shown(run_with_catalog({without})), (names{"", "Nothing"}));
}

TEST(Catalog, OnlyTheMatchingEntryOfSeveralBoardsIsReturned)
{
    sim::CatalogEntry other = entry("14.32.1010");
    other.name = "Other board";
    other.psid = "MT_0000000011";
    sim::CatalogEntry mine = entry("16.36.1000");
    mine.name = "My board";
    EXPECT_EQ(shown(run_with_catalog({other, mine})), (names{"My board", "16.36.1000"}));
}

TEST(Catalog, MatchingEntryWithoutRomOffersVersionZero)
{
    sim::CatalogEntry e = entry("16.36.1000");
    e.rom = std::nullopt;
    EXPECT_EQ(shown(run_with_catalog({e})), (names{"ConnectX-5 EN", "0.0.0"}));
}

TEST(Catalog, MissingAttributesAreCarriedOverFromTheElementBefore)
{
    const std::string xml = "<?xml version=\"1.0\"?>\n<NICFWData>\n"
                            "<NIC name=\"First\" venid=\"15B3\" devid=\"1017\" subvenid=\"15B3\" PSID=\"MT_0000000080\""
                            " subdevid=\"0007\" rom=\"16.35.2000\" fwFile=\"a.bin\"/>\n"
                            "<Other name=\"Second\" subvenid=\"15B3\" subdevid=\"0007\" rom=\"16.36.1000\""
                            " fwFile=\"b.bin\"/>\n"
                            "</NICFWData>\n";
    EXPECT_EQ(shown(run_with_catalog_text(xml)), (names{"First", "16.35.2000", "16.36.1000"}));
}

TEST(Catalog, RomBeforeSubdevidBelongsToTheEntryAcceptedBefore)
{
    const std::string xml = "<NICFWData>\n"
                            "<NIC rom=\"9.9.9\" name=\"Early\" venid=\"15B3\" devid=\"1017\" subvenid=\"15B3\""
                            " PSID=\"MT_0000000080\" subdevid=\"0007\"/>\n"
                            "<NIC name=\"Late\" venid=\"15B3\" devid=\"1017\" subvenid=\"15B3\" PSID=\"MT_0000000080\""
                            " subdevid=\"0007\" rom=\"16.35.2000\"/>\n"
                            "<NIC rom=\"2.1.0\" name=\"Late\" venid=\"15B3\" devid=\"1017\" subvenid=\"15B3\""
                            " PSID=\"MT_0000000080\" subdevid=\"0007\"/>\n"
                            "</NICFWData>\n";
    // The first rom comes before any accepted entry and is passed over; the
    // third element's rom replaces the second's.
    EXPECT_EQ(shown(run_with_catalog_text(xml)), (names{"Early", "0.0.0", "0.0.0", "2.1.0"}));
}

TEST(Catalog, MalformedCatalogKeepsTheEntriesReadBeforeTheError)
{
    const std::string xml = "<NICFWData>\n"
                            "<NIC name=\"Good\" venid=\"15B3\" devid=\"1017\" subvenid=\"15B3\" PSID=\"MT_0000000080\""
                            " subdevid=\"0007\" rom=\"16.35.2000\" fwFile=\"a.bin\"/>\n"
                            "<NIC name=\"Broken\" venid=\"15B3\n";
    sim::Result r = run_with_catalog_text(xml);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(shown(r), (names{"Good", "16.35.2000"}));
}

TEST(Catalog, MissingCatalogEndsTheRun)
{
    sim::SimServer server;
    add_adapter(server);
    server.remove_catalog();
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find(" PCI-ID"), std::string::npos);
    EXPECT_NE(server.log().find("[ERROR]     ["), std::string::npos) << server.log();
    EXPECT_NE(server.log().find("] Unable to open nic_fw/NICFWData.xml\n"), std::string::npos) << server.log();
}

TEST(Catalog, MissingCatalogIsNotReadWithoutAMellanoxBoard)
{
    sim::SimServer server;
    server.remove_catalog();
    sim::Result r = server.run({"-c"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(server.log(), "");
}
