// The report's version and action items.
#include <gtest/gtest.h>

#include "report/fw_items.h"

// The version and action items of a complete record.
TEST(FwItems, VersionAndActionFollowTheNumericOrderOfTheImages)
{
    struct item_case {
        fw_version installed;
        std::vector<fw_version> images;
        std::string version, action;
    };
    for (const item_case &c : std::vector<item_case> {
             {{2, 42, 5000}, {{16, 35, 1012}, {2, 42, 5000}}, "16.35.1012", "upgrade"},
             {{2, 9, 1000}, {{2, 9, 1000}, {2, 10, 500}, {2, 9, 2000}}, "2.10.500", "upgrade"},
             {{2, 42, 5000}, {{2, 42, 5001}}, "2.42.5001", "upgrade"},
             {{2, 42, 5000}, {{2, 40, 7000}, {2, 42, 5000}}, "2.42.5000", "rewrite"},
             {{2, 42, 5000}, {{1, 99, 9999}, {2, 41, 9999}}, "2.41.9999", "downgrade"},
             {{2, 42, 5000}, {}, "", "Nothing"}}) {
        SCOPED_TRACE(c.version + " " + c.action);
        nic_info nic;
        nic.flags = nic_complete;
        nic.current = c.installed;
        for (const fw_version &image : c.images)
            nic.images.push_back({image, {}, {}});
        std::string version = "stale", action = "stale";
        build_XML_FW_item_version("ROM", version, nic);
        recommend_XML_FW_action("ROM", action, nic);
        EXPECT_EQ(version, c.version);
        EXPECT_EQ(action, c.action);
        ASSERT_EQ(nic.images.size(), c.images.size());
        for (size_t i = 0; i < c.images.size(); ++i)
            EXPECT_EQ(nic.images[i].version, c.images[i]) << "the record's catalog order is left alone";
    }
}
