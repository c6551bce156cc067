#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "globals.h"
#include "report/fw_items.h"

// The version and action items of a complete record, and the flash they request (bit 1 of flags).
TEST(FwItems, VersionAndActionFollowTheNumericOrderOfTheImages)
{
    using triple = std::array<uint32_t, 3>;
    struct item_case {
        triple installed;
        std::vector<triple> images;
        std::string version, action;
    };
    const std::vector<item_case> cases = {
        {{2, 42, 5000}, {{16, 35, 1012}, {2, 42, 5000}}, "16.35.1012", "upgrade"},
        {{2, 9, 1000}, {{2, 9, 1000}, {2, 10, 500}, {2, 9, 2000}}, "2.10.500", "upgrade"},
        {{2, 42, 5000}, {{2, 42, 5001}}, "2.42.5001", "upgrade"},
        {{2, 42, 5000}, {{2, 40, 7000}, {2, 42, 5000}}, "2.42.5000", "rewrite"},
        {{2, 42, 5000}, {{1, 99, 9999}, {2, 41, 9999}}, "2.41.9999", "downgrade"},
        {{2, 42, 5000}, {}, "", "Nothing"},
    };
    for (const item_case &c : cases) {
        SCOPED_TRACE(c.version + " " + c.action);
        nic_info nic;
        nic.flags = 1;
        nic.uCurROMmaj = c.installed[0];
        nic.uCurROMmin = c.installed[1];
        nic.uCurROMrel = c.installed[2];
        for (const triple &image : c.images) {
            nic.uFwROMmaj.push_back(image[0]);
            nic.uFwROMmin.push_back(image[1]);
            nic.uFwROMrel.push_back(image[2]);
        }
        nic.fw_count = static_cast<int>(c.images.size());
        g_ninfo = {nic};
        std::string version = "stale", action = "stale";
        build_XML_FW_item_version("ROM", version, 0);
        recommend_XML_FW_action("ROM", action, 0);
        EXPECT_EQ(version, c.version);
        EXPECT_EQ(action, c.action);
        EXPECT_EQ((g_ninfo[0].flags & 2) != 0, c.action == "upgrade" || c.action == "rewrite");
        EXPECT_EQ(g_ninfo[0].uFwROMmaj, nic.uFwROMmaj) << "the record's catalog order is left alone";
    }
}
