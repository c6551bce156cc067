// The catalog's index against the rule walked attribute by attribute over random catalogs; cut short, none is read.
#include <gtest/gtest.h>

#include <random>

#include "discovery/catalog.h"

TEST(Catalog, IndexAnswersAsTheRuleWalkedAttributeByAttribute)
{
    const auto shown = [](const std::vector<XMLFW_INFO> &entries) {
        std::string text;
        for (const XMLFW_INFO &e : entries)
            for (const opt_text &f : {e.pxmlName, e.pxmlVenId, e.pxmlDevId, e.pxmlSubVenId, e.pxmlSubDevId, e.pxmlRom,
                                      e.pxmlFwImage, e.pxmlPSID})
                text += f.value_or("-") + ",";
        return text;
    };
    std::mt19937 rng(17);
    // With "0007-A" and subsystem vendor 0007 a key can be split two ways, one of them venid "15B3-1017".
    const std::vector<std::string> psids = {"A", "a", "0007-A"};
    const std::vector<std::pair<std::string, std::vector<std::string>>> attributes = {{"name", psids},
        {"venid", {"15B3", "15B3", "15b3", "15B3-1017"}}, {"devid", {"1017", "0007"}}, {"subvenid", psids},
        {"PSID", psids}, {"subdevid", psids}, {"rom", psids}, {"fwFile", psids}};
    nic_info nic;
    nic.ven_id = 0x15b3, nic.dev_id = 0x1017, nic.sub_ven_id = 7, nic.sub_dev_id = 7;
    size_t matched = 0;
    for (int round = 0; round < 1000; ++round) {
        std::string xml = "<r>";
        for (int e = rng() % 10; e > 0; --e) {
            std::vector names(attributes.begin(), attributes.begin() + (rng() % 3 ? 8 : rng() % 9));
            std::shuffle(names.begin(), rng() % 3 ? names.begin() : names.end(), rng);
            xml += "<e";
            for (const auto &[name, values] : names)
                xml += " " + name + "=\"" + values[rng() % values.size()] + "\"";
            xml += rng() % 4 ? "/>" : "><c/></e>";
        }
        // Cut anywhere, even between elements, a catalog is refused whole.
        EXPECT_FALSE(parse_catalog(xml.substr(0, rng() % xml.size()))) << xml;
        const parsed_catalog catalog = *parse_catalog(xml + "</r>");
        for (int lookup = 0; lookup < 6; ++lookup, nic.sub_ven_id ^= 0x15b3 ^ 7) { // 0007 and 15B3 in turn
            const std::string key = catalog_key(nic, psids[rng() % psids.size()]);
            const std::vector<XMLFW_INFO> walked = walk_catalog(catalog, key, nic);
            EXPECT_EQ(shown(match_catalog(catalog, key, nic)), shown(walked)) << key << "\n" << xml;
            matched += walked.size() > 1;
        }
    }
    EXPECT_GT(matched, 100u) << "too few lookups found several entries to compare";
    EXPECT_TRUE(match_catalog(*parse_catalog("<e venid=\"15B3\" devid=\"1017\" PSID=\"A\" subdevid=\"7\"/>"),
                              catalog_key(nic, "A"), nic).empty()) << "without any \"subvenid\" before it, no match";
}
