// The catalog's index against the matching rule walked attribute by attribute, over catalogs of
// every attribute order and carry-over, cut short anywhere.

#include <gtest/gtest.h>

#include <random>

#include "discovery/catalog.h"

namespace {

std::string shown(const std::vector<XMLFW_INFO> &entries)
{
    std::string text;
    for (const XMLFW_INFO &e : entries)
        for (const opt_text *f : {&e.pxmlName, &e.pxmlVenId, &e.pxmlDevId, &e.pxmlSubVenId, &e.pxmlSubDevId, &e.pxmlRom,
                                  &e.pxmlFwImage, &e.pxmlPSID})
            text += (*f ? "\"" + **f + "\"" : "-") + (f == &e.pxmlPSID ? "\n" : ",");
    return text;
}

} // namespace

TEST(Catalog, IndexAnswersAsTheRuleWalkedAttributeByAttribute)
{
    std::mt19937 rng(17);
    const auto pick = [&](const std::vector<std::string> &from) { return from[rng() % from.size()]; };
    // With "0007-A" and subsystem vendor 0007 a key can be split two ways, one of them venid "15B3-1017".
    const std::vector<std::string> psids = {"A", "a", "0007-A"};
    size_t matched = 0;
    for (int round = 0; round < 1000; ++round) {
        std::string xml = "<r>";
        for (int e = rng() % 10; e > 0; --e) {
            std::vector<std::string> names = {"name", "venid", "devid", "subvenid", "PSID", "subdevid", "rom", "fwFile"};
            names.resize(rng() % 3 ? 8 : rng() % 9); // mostly whole entries, some carried over from the one before
            if (rng() % 3 == 0)
                std::shuffle(names.begin(), names.end(), rng);
            xml += "<e";
            for (const std::string &n : names)
                xml += " " + n + "=\"" +
                       (n == "venid" ? pick({"15B3", "15B3", "15b3", "15B3-1017"}) : n == "devid" ? pick({"1017", "0007"})
                        : n == "PSID" ? pick(psids) : n == "name" || n == "rom" || n == "fwFile" ? std::to_string(rng() % 9)
                        : pick({"0007", "x"})) + "\"";
            xml += rng() % 4 ? "/>" : "><c/></e>";
        }
        xml += "</r>";
        const parsed_catalog catalog = parse_catalog(rng() % 4 ? xml : xml.substr(0, rng() % xml.size()));
        for (int lookup = 0; lookup < 6; ++lookup) {
            nic_info nic;
            nic.ven_id = 0x15b3, nic.dev_id = 0x1017, nic.sub_ven_id = rng() % 2 ? 0x15b3 : 7, nic.sub_dev_id = 7;
            const std::string key = catalog_key(nic, pick(psids));
            const std::vector<XMLFW_INFO> walked = walk_catalog(catalog, key, nic);
            EXPECT_EQ(shown(match_catalog(catalog, key, nic)), shown(walked)) << key << "\n" << xml;
            matched += walked.size() > 1;
        }
    }
    EXPECT_GT(matched, 100u) << "too few lookups found several entries to compare";
    // Without any "subvenid" before it an entry never matches, whatever else it holds.
    nic_info nic;
    nic.ven_id = 0x15b3, nic.dev_id = 0x1017, nic.sub_dev_id = 7;
    const parsed_catalog lacking = parse_catalog("<e venid=\"15B3\" devid=\"1017\" PSID=\"A\" subdevid=\"7\"/>");
    EXPECT_TRUE(match_catalog(lacking, catalog_key(nic, "A"), nic).empty());
}
