// rovan-sim -u: which devices a report makes it burn, with which image, and
// the exit status.

#include <algorithm>

#include "report_update_fixture.h"

using namespace report_test;

namespace {

using Calls = std::vector<std::vector<std::string>>;

class ReportUpdateRun : public ReportUpdate {
protected:
    void SetUp() override
    {
        add_device("0000:05:00.0");
        add_default_image();
    }
};

} // namespace

TEST_F(ReportUpdateRun, BurnsTheDeviceWithTheCatalogImage)
{
    const sim::Result r = update({ReportDevice {}});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(burns(), Calls {burn_call("0000:05:00.0", "fw-16.35.2000.bin")});
    EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "16.35.2000");
    EXPECT_TRUE(logged("[INFO]     ", "MAC b8cef6000000 Upgrade SUCCESS\n")) << server.log();
}

TEST_F(ReportUpdateRun, SilentFormBurnsAlike)
{
    const sim::Result r = update({ReportDevice {}}, "-su");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(burns(), Calls {burn_call("0000:05:00.0", "fw-16.35.2000.bin")});
}

// The run is silent: the console shows only the banner and what the tools print.
TEST_F(ReportUpdateRun, PrintsNoMessagesOfItsOwn)
{
    const sim::Result r = update({ReportDevice {}});
    EXPECT_EQ(r.out.find("Firmware Flashed"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Selecting"), std::string::npos) << r.out;
    EXPECT_EQ(server.log().find("Selecting"), std::string::npos) << server.log();
    EXPECT_EQ(server.log().find("several minutes"), std::string::npos) << server.log();
}

TEST_F(ReportUpdateRun, ActionsThatAskForFlashing)
{
    for (const std::string action : {"upgrade", "rewrite", "downgrade", "upgrade-now"}) {
        server.clear_tool_calls();
        ReportDevice d;
        d.action = action;
        const sim::Result r = update({d});
        EXPECT_EQ(r.status, 0) << action << r.err;
        EXPECT_EQ(burns(), Calls {burn_call("0000:05:00.0", "fw-16.35.2000.bin")}) << action;
    }
}

TEST_F(ReportUpdateRun, ActionsThatDoNotAskForFlashing)
{
    for (const std::string action : {"Nothing", "Upgrade", "REWRITE", ""}) {
        server.clear_tool_calls();
        ReportDevice d;
        d.action = action;
        const sim::Result r = update({d});
        EXPECT_EQ(r.status, 0) << action << r.err;
        EXPECT_TRUE(burns().empty()) << action;
    }
    EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "16.34.1002");
}

TEST_F(ReportUpdateRun, ReorderedItemsReadTheSame)
{
    const ReportDevice d;
    std::vector<std::string> items = device_items(d);
    std::reverse(items.begin(), items.end());
    std::vector<std::string> fw = fw_items(d);
    std::reverse(fw.begin(), fw.end());
    const sim::Result r = update_text(report_text(device_element(items, fw)));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(burns(), Calls {burn_call("0000:05:00.0", "fw-16.35.2000.bin")});
}

TEST_F(ReportUpdateRun, LowerCaseHexadecimalIdsMatch)
{
    ReportDevice d;
    d.venid = "15b3";
    d.subvenid = "15b3";
    const sim::Result r = update({d});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(burns().size(), 1u);
}

TEST_F(ReportUpdateRun, HexadecimalIdsWithPrefixMatchNothing)
{
    ReportDevice d;
    d.venid = "0x15B3";
    const sim::Result r = update({d});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(burns().empty());
    EXPECT_TRUE(logged_error("For 0000:05:00.0 no matching firmware file in XML\n")) << server.log();
}

TEST_F(ReportUpdateRun, AMissingReportFlashesNothing)
{
    const sim::Result r = server.run({"-u", "missing.xml"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(burns().empty());
    EXPECT_TRUE(logged_error("read_discovery_report: Failed to open missing.xml\n")) << server.log();
}

TEST_F(ReportUpdateRun, ATruncatedReportFlashesNothing)
{
    const std::string whole = report_text({ReportDevice {}});
    const sim::Result r = update_text(whole.substr(0, whole.find("    </devices>")));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(burns().empty());
    EXPECT_TRUE(logged_error("read_discovery_report: Failed to parse report.xml\n")) << server.log();
}

TEST_F(ReportUpdateRun, AReportWithoutDevicesFails)
{
    const sim::Result r = update_text(report_text(std::string()));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(burns().empty());
    EXPECT_TRUE(logged_error("read_discovery_report: Error at read_NIC_FW_xml_file\n")) << server.log();
}

TEST_F(ReportUpdateRun, ADeviceAskedForWithoutCatalogEntryFailsTheRun)
{
    add_device("0000:06:00.0");
    ReportDevice unknown;
    unknown.busnumber = "0000:06";
    unknown.psid = "MT_UNKNOWN";
    const sim::Result r = update({ReportDevice {}, unknown});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(burns(), Calls {burn_call("0000:05:00.0", "fw-16.35.2000.bin")});
    EXPECT_TRUE(logged_error("For 0000:06:00.0 no matching firmware file in XML\n")) << server.log();
    EXPECT_FALSE(logged_error("read_discovery_report: Error at read_NIC_FW_xml_file\n")) << server.log();
}

// Not asked for, such a device only counts toward "every device failed".
TEST_F(ReportUpdateRun, ADeviceNotAskedForWithoutCatalogEntry)
{
    add_device("0000:06:00.0");
    ReportDevice unknown;
    unknown.busnumber = "0000:06";
    unknown.psid = "MT_UNKNOWN";
    unknown.action = "Nothing";
    sim::Result r = update({ReportDevice {}, unknown});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(burns().size(), 1u);

    server.clear_tool_calls();
    r = update({unknown});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(burns().empty());
    EXPECT_TRUE(logged_error("read_discovery_report: Error at read_NIC_FW_xml_file\n")) << server.log();
}

TEST_F(ReportUpdateRun, ACatalogEntryWithoutImageFileIsNotBurned)
{
    sim::CatalogEntry e;
    e.fwFile.reset();
    catalog({e});
    const sim::Result r = update({ReportDevice {}});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(burns().empty());
    EXPECT_TRUE(logged_error("read_discovery_report: No image file in the catalog for device 1 (eth2)\n")) << server.log();
}

TEST_F(ReportUpdateRun, ReadsMoreThanFiftyDevicesWithLongPsids)
{
    const std::string psid = "MT_" + std::string(600, 'Q');
    sim::CatalogEntry e = entry("16.35.2000", "fw-long.bin");
    e.psid = psid;
    catalog({e});
    std::vector<ReportDevice> devices;
    for (int i = 0; i < 52; ++i) {
        char bus[16];
        std::snprintf(bus, sizeof bus, "0000:%02x", 0x10 + i);
        sim::FlashDevice dev;
        dev.address = std::string(bus) + ":00.0";
        dev.psid = psid;
        dev.fw_version = "16.34.1002";
        server.add_flash_device(dev);
        ReportDevice d;
        d.busnumber = bus;
        d.psid = psid;
        devices.push_back(d);
    }
    const sim::Result r = update(devices);
    EXPECT_EQ(r.status, 0) << r.err;
    const Calls burned = burns();
    ASSERT_EQ(burned.size(), 52u);
    EXPECT_EQ(burned[51], burn_call("0000:43:00.0", "fw-long.bin"));
    EXPECT_EQ(server.device_fw_version("0000:43:00.0"), "16.35.2000");
}

TEST_F(ReportUpdateRun, BurnsTheNewestOfSeveralImagesListedOldestFirst)
{
    catalog({entry("16.9.1000", "fw-16.9.bin"), entry("16.10.500", "fw-16.10.bin"),
             entry("16.35.2000", "fw-16.35.bin")});
    const sim::Result r = update({ReportDevice {}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(burns(), Calls {burn_call("0000:05:00.0", "fw-16.35.bin")});
    EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "16.35.2000");
}

// Versions compare field by field, not as digit strings.
TEST_F(ReportUpdateRun, NewestIsChosenByTheNumbersOfEachField)
{
    catalog({entry("16.10.500", "fw-16.10.bin"), entry("16.9.1000", "fw-16.9.bin")});
    const sim::Result r = update({ReportDevice {}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(burns(), Calls {burn_call("0000:05:00.0", "fw-16.10.bin")});
}

TEST_F(ReportUpdateRun, OfEqualVersionsTheFirstInCatalogOrderIsBurned)
{
    catalog({entry("16.20.1000", "fw-old.bin"), entry("16.35.2000", "fw-first.bin"),
             entry("16.35.2000", "fw-second.bin")});
    const sim::Result r = update({ReportDevice {}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(burns(), Calls {burn_call("0000:05:00.0", "fw-first.bin")});
}

class ReportUpdateBurns : public ReportUpdate {
protected:
    // Devices at buses 05, 06, 07...; the ones listed fail their burn.
    std::vector<ReportDevice> devices(int count, const std::vector<int> &failing)
    {
        add_default_image();
        std::vector<ReportDevice> list;
        for (int i = 0; i < count; ++i) {
            const std::string bus = "0000:0" + std::to_string(5 + i);
            const bool fails = std::find(failing.begin(), failing.end(), i) != failing.end();
            add_device(bus + ":00.0", fails ? 1 : 0);
            ReportDevice d;
            d.busnumber = bus;
            list.push_back(d);
        }
        return list;
    }
    Calls expected_burns(int count) const
    {
        Calls calls;
        for (int i = 0; i < count; ++i)
            calls.push_back(burn_call("0000:0" + std::to_string(5 + i) + ":00.0", "fw-16.35.2000.bin"));
        return calls;
    }
};

TEST_F(ReportUpdateBurns, AFailedBurnAmongSuccessfulOnes)
{
    const sim::Result r = update(devices(3, {1}));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(burns(), expected_burns(3));
    EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "16.35.2000");
    EXPECT_EQ(server.device_fw_version("0000:06:00.0"), "16.34.1002");
    EXPECT_EQ(server.device_fw_version("0000:07:00.0"), "16.35.2000");
    EXPECT_TRUE(logged_error("Upgrade failed\n \n")) << server.log();
}

TEST_F(ReportUpdateBurns, OnlyTheLastBurnFailing)
{
    const sim::Result r = update(devices(2, {1}));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(burns(), expected_burns(2));
}

TEST_F(ReportUpdateBurns, OnlyTheFirstBurnFailing)
{
    const sim::Result r = update(devices(3, {0}));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(burns(), expected_burns(3));
    EXPECT_EQ(server.device_fw_version("0000:07:00.0"), "16.35.2000");
    // One failed device of three is not every device.
    EXPECT_FALSE(logged_error("read_discovery_report: Error at read_NIC_FW_xml_file\n")) << server.log();
}
