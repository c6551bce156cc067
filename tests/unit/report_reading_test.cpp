#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "globals.h"
#include "report/report_update.h"

namespace {

using reader_ptr = std::unique_ptr<xmlTextReader, decltype(&xmlFreeTextReader)>;

reader_ptr reader_for(const std::string &xml)
{
    return reader_ptr(xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), "report.xml", nullptr, 0),
                      &xmlFreeTextReader);
}

// Reads a report text in the two passes of -u; firmware_id keeps the PSIDs.
std::vector<nic_info> read_report(const std::string &xml)
{
    int count = 0;
    {
        reader_ptr reader = reader_for(xml);
        while (xmlTextReaderRead(reader.get()) == 1)
            read_num_device_elements(reader.get(), &count);
    }
    std::vector<nic_info> records(static_cast<size_t>(count));
    firmware_id.assign(static_cast<size_t>(count), "");
    reader_ptr reader = reader_for(xml);
    int idx = 0;
    while (xmlTextReaderRead(reader.get()) == 1)
        process_node(reader.get(), idx < count ? &records[static_cast<size_t>(idx)] : nullptr, &idx);
    return records;
}

const std::string header = R"(<?xml version="1.0" encoding="UTF-8"?>
<valtrix_rom_discovery version="2.0.0.0">
    <type value="MELLANOX_NIC"/>
    <version value="1.0.0"/>
    <devices>
)";
const std::string footer = "    </devices>\n</valtrix_rom_discovery>\n";

std::string device(const std::string &bus, const std::string &psid, const std::string &action,
                   const std::string &items = "")
{
    return "<device><device_id value=\"eth-" + bus + "\"/><venid value=\"15B3\"/><devid value=\"1017\"/>"
           "<subvenid value=\"15b3\"/><subdevid value=\"0007\"/><macaddress value=\"b8cef6000000\"/>"
           "<product_id value=\"ConnectX-5\"/><busnumber value=\"0000:" + bus + "\"/><devicenumber value=\"00\"/>"
           "<funcnumber value=\"0\"/><slotnumber value=\"\"/>" + items +
           "<fw_item><type value=\"ROM\"/><firmware_id value=\"" + psid + "\"/><version value=\"16.35.2000\"/>"
           "<active_version value=\"16.34.1002\"/><action value=\"" + action + "\"/></fw_item></device>\n";
}

} // namespace

TEST(ReportReading, FillsOneRecordPerDevice)
{
    const auto records = read_report(header + device("05", "MT_1", "upgrade") + device("06", "MT_2", "Nothing") + footer);
    ASSERT_EQ(records.size(), 2u);
    const nic_info &first = records[0];
    EXPECT_EQ(first.pinterfacename, "eth-05");
    EXPECT_EQ(first.ven_id, 0x15B3);
    EXPECT_EQ(first.dev_id, 0x1017);
    EXPECT_EQ(first.sub_ven_id, 0x15B3);
    EXPECT_EQ(first.sub_dev_id, 0x0007);
    EXPECT_EQ(first.pcurrent_mac, "b8cef6000000");
    ASSERT_EQ(first.pxmlName.size(), 1u);
    EXPECT_EQ(first.pxmlName[0], "ConnectX-5");
    EXPECT_EQ(first.pPort, "");
    EXPECT_EQ(first.pbus_info, "0000:05:00.0");
    EXPECT_EQ(first.uCurROMmaj, 16u);
    EXPECT_EQ(first.uCurROMmin, 34u);
    EXPECT_EQ(first.uCurROMrel, 1002u);
    EXPECT_EQ(first.flags, 3);
    EXPECT_EQ(records[1].pbus_info, "0000:06:00.0");
    EXPECT_EQ(records[1].flags, 1);
    EXPECT_EQ(firmware_id, (std::vector<std::string> {"MT_1", "MT_2"}));
}

TEST(ReportReading, TheLastAttributeOfAnItemDecides)
{
    const std::string xml = header + device("05", "MT_1", "Nothing", "<venid value=\"15b3\" other=\"8086\"/>") + footer;
    const auto records = read_report(xml);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].ven_id, 0x8086);
}

TEST(ReportReading, ItemsAfterTheLastDeviceAreIgnored)
{
    const std::string xml = header + device("05", "MT_1", "Nothing") +
                            "<venid value=\"8086\"/><firmware_id value=\"MT_X\"/><action value=\"upgrade\"/>" + footer;
    const auto records = read_report(xml);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].ven_id, 0x15B3);
    EXPECT_EQ(records[0].flags & 2, 0);
    EXPECT_EQ(firmware_id[0], "MT_1");
}

TEST(ReportReading, ASelfClosingDeviceIsCountedButKeepsTheIndex)
{
    const auto records = read_report(header + "<device/>" + device("05", "MT_1", "upgrade") + footer);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].pbus_info, "0000:05:00.0");
    EXPECT_FALSE(records[1].pbus_info);
}

// Without a type item of its own the header's MELLANOX_NIC is still current.
TEST(ReportReading, InstalledVersionNeedsARomType)
{
    const std::string xml = header + "<device><active_version value=\"16.34.1002\"/></device>" + footer;
    const auto records = read_report(xml);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].uCurROMmaj, 0u);
    EXPECT_EQ(records[0].flags & 1, 0);
}

TEST(ReadFwCurVersion, NaLeavesTheRecordAlone)
{
    nic_info rec;
    read_FW_cur_version(&rec, "ROM", "n/a");
    EXPECT_EQ(rec.uCurROMmaj, 0u);
    EXPECT_EQ(rec.flags, 0);
}

TEST(ReadFwCurVersion, OtherImageTypesAreLoggedAndNotStored)
{
    FILE *log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    pmstflint_fout = log;
    nic_info rec;
    read_FW_cur_version(&rec, "MELLANOX_NIC", "16.35.2000");
    pmstflint_fout = nullptr;
    EXPECT_EQ(rec.uCurROMmaj, 0u);
    EXPECT_EQ(rec.flags, 0);

    std::rewind(log);
    std::string text;
    for (int c; (c = std::fgetc(log)) != EOF;)
        text.push_back(static_cast<char>(c));
    std::fclose(log);
    EXPECT_EQ(text.rfind("[ERROR]     [", 0), 0u) << text;
    EXPECT_NE(text.find("] read_FW_cur_version: Error Wrong image type\n\n"), std::string::npos) << text;
}
