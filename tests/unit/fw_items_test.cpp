// The report's version and action items.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

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
        nic.flags = nic_complete;
        nic.current = {c.installed[0], c.installed[1], c.installed[2]};
        for (const triple &image : c.images)
            nic.images.push_back({{image[0], image[1], image[2]}, {}, {}});
        const std::vector<catalog_image> images = nic.images;
        std::string version = "stale", action = "stale";
        build_XML_FW_item_version("ROM", version, nic);
        recommend_XML_FW_action("ROM", action, nic);
        EXPECT_EQ(version, c.version);
        EXPECT_EQ(action, c.action);
        ASSERT_EQ(nic.images.size(), images.size());
        for (size_t i = 0; i < images.size(); ++i)
            EXPECT_EQ(nic.images[i].version, images[i].version) << "the record's catalog order is left alone";
    }
}
