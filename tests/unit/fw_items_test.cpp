#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <libxml/xmlwriter.h>

#include "globals.h"
#include "report/fw_items.h"

namespace {

struct image {
    uint32_t maj, min, rel;
};

// Makes g_ninfo hold one complete record with the installed version and images.
void one_record(image installed, const std::vector<image> &images)
{
    nic_info nic;
    nic.flags = 1;
    nic.psid = "MT_0000000080";
    nic.uCurROMmaj = installed.maj;
    nic.uCurROMmin = installed.min;
    nic.uCurROMrel = installed.rel;
    for (const image &img : images) {
        nic.uFwROMmaj.push_back(img.maj);
        nic.uFwROMmin.push_back(img.min);
        nic.uFwROMrel.push_back(img.rel);
        nic.pxmlName.emplace_back("ConnectX-5");
        nic.pxmlFwImage.emplace_back("fw.bin");
    }
    nic.fw_count = static_cast<int>(images.size());
    g_ninfo = {nic};
    g_nNics = 1;
}

std::string version_item()
{
    std::string value = "stale";
    build_XML_FW_item_version("ROM", value, 0);
    return value;
}

std::string action_item()
{
    std::string value = "stale";
    recommend_XML_FW_action("ROM", value, 0);
    return value;
}

bool flash_requested()
{
    return (g_ninfo[0].flags & 2) != 0;
}

// What write_XML_FW_item writes for record 0, as text.
std::string fw_item_text()
{
    xmlBufferPtr buffer = xmlBufferCreate();
    xmlTextWriterPtr writer = xmlNewTextWriterMemory(buffer, 0);
    xmlTextWriterStartDocument(writer, nullptr, "UTF-8", nullptr);
    xmlTextWriterStartElement(writer, reinterpret_cast<const xmlChar *>("device"));
    write_XML_FW_item(&writer, 0);
    xmlTextWriterEndDocument(writer);
    xmlFreeTextWriter(writer);
    std::string text(reinterpret_cast<const char *>(xmlBufferContent(buffer)));
    xmlBufferFree(buffer);
    return text;
}

} // namespace

TEST(FwItemVersion, IsTheHighestImageInNumericOrder)
{
    one_record({2, 42, 5000}, {{2, 42, 5000}, {16, 35, 1012}});
    EXPECT_EQ(version_item(), "16.35.1012");
    one_record({2, 42, 5000}, {{16, 35, 1012}, {2, 42, 5000}});
    EXPECT_EQ(version_item(), "16.35.1012");
    one_record({2, 9, 1000}, {{2, 9, 1000}, {2, 10, 500}, {2, 9, 2000}});
    EXPECT_EQ(version_item(), "2.10.500");
}

TEST(FwItemVersion, IsEmptyWithoutCatalogImages)
{
    one_record({2, 42, 5000}, {});
    EXPECT_EQ(version_item(), "");
}

TEST(FwItemVersion, LeavesTheCatalogOrderOfTheRecordAlone)
{
    one_record({1, 0, 0}, {{3, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    version_item();
    EXPECT_EQ(g_ninfo[0].uFwROMmaj, (std::vector<uint32_t>{3, 1, 2}));
}

TEST(FwItemActiveVersion, IsTheInstalledVersion)
{
    one_record({2, 42, 5000}, {{16, 35, 1012}});
    std::string value;
    build_XML_FW_item_active_version("ROM", value, 0);
    EXPECT_EQ(value, "2.42.5000");
}

TEST(FwItemAction, UpgradeWhenAnImageIsNewerAndRequestsTheFlash)
{
    one_record({2, 40, 7000}, {{2, 42, 5000}, {2, 40, 7000}});
    EXPECT_EQ(action_item(), "upgrade");
    EXPECT_TRUE(flash_requested());
}

TEST(FwItemAction, UpgradeComparesMajorThenMinorThenRelease)
{
    one_record({2, 42, 5000}, {{2, 43, 0}});
    EXPECT_EQ(action_item(), "upgrade");
    one_record({2, 42, 5000}, {{2, 42, 5000}, {16, 35, 1012}});
    EXPECT_EQ(action_item(), "upgrade");
    one_record({2, 42, 5000}, {{2, 42, 5001}});
    EXPECT_EQ(action_item(), "upgrade");
    one_record({2, 42, 5000}, {{1, 99, 9999}});
    EXPECT_EQ(action_item(), "downgrade");
}

TEST(FwItemAction, RewriteWhenTheInstalledVersionIsTheHighestImage)
{
    one_record({2, 42, 5000}, {{2, 40, 7000}, {2, 42, 5000}});
    EXPECT_EQ(action_item(), "rewrite");
    EXPECT_TRUE(flash_requested());
}

TEST(FwItemAction, DowngradeWhenEveryImageIsOlderLeavesTheFlashUnrequested)
{
    one_record({2, 42, 5000}, {{2, 40, 7000}});
    EXPECT_EQ(action_item(), "downgrade");
    EXPECT_FALSE(flash_requested());
}

TEST(FwItemAction, NothingWithoutCatalogImagesLeavesTheFlashUnrequested)
{
    one_record({2, 42, 5000}, {});
    EXPECT_EQ(action_item(), "Nothing");
    EXPECT_FALSE(flash_requested());
}

TEST(FwItemAction, NoActionForAnIncompleteRecordOrAnotherImageType)
{
    one_record({2, 40, 7000}, {{2, 42, 5000}});
    std::string value = "stale";
    recommend_XML_FW_action("BOOT", value, 0);
    EXPECT_EQ(value, "");
    EXPECT_FALSE(flash_requested());

    g_ninfo[0].flags = 0;
    EXPECT_EQ(action_item(), "");
    EXPECT_FALSE(flash_requested());
}

TEST(WriteFwItem, WritesOneFwItemOnlyForACompleteRecord)
{
    one_record({2, 40, 7000}, {{2, 42, 5000}});
    const std::string complete = fw_item_text();
    EXPECT_NE(complete.find("<fw_item><type value=\"ROM\"/>"), std::string::npos) << complete;
    EXPECT_EQ(complete.find("<fw_item>"), complete.rfind("<fw_item>"));
    EXPECT_TRUE(flash_requested());

    one_record({2, 40, 7000}, {{2, 42, 5000}});
    g_ninfo[0].flags = 0;
    EXPECT_EQ(fw_item_text().find("fw_item"), std::string::npos);
    EXPECT_FALSE(flash_requested());
}
