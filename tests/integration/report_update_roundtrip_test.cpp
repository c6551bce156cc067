// rovan-sim -d writes a report, a deployment manager edits its actions, and
// rovan-sim -u applies it.

#include "report_update_fixture.h"

using namespace report_test;

namespace {

using Calls = std::vector<std::vector<std::string>>;

// Replaces the n-th occurrence (from 0) of what.
std::string replace_nth(std::string text, const std::string &what, const std::string &with, int n)
{
    size_t at = text.find(what);
    for (int i = 0; i < n && at != std::string::npos; ++i)
        at = text.find(what, at + 1);
    if (at != std::string::npos)
        text.replace(at, what.size(), with);
    return text;
}

class ReportRoundTrip : public ReportUpdate {
protected:
    void SetUp() override
    {
        for (const std::string bus : {"05", "06"}) {
            sim::PciFunction fn;
            fn.address = "0000:" + bus + ":00.0";
            fn.netif = "eth" + bus;
            server.add_function(fn);
            sim::FlashDevice dev;
            dev.address = fn.address;
            dev.fw_version = "16.34.1002";
            // Another MAC: another adapter, not the second port of the first.
            dev.base_mac = "b8cef60000" + bus;
            server.add_flash_device(dev);
        }
        add_default_image();
    }
    std::string discover()
    {
        const sim::Result r = server.run({"-d", "report.xml"});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        server.clear_tool_calls();
        return server.read_package_file("report.xml");
    }
};

} // namespace

TEST_F(ReportRoundTrip, AppliesTheWrittenReport)
{
    const std::string report = discover();
    ASSERT_NE(report.find("<action value=\"upgrade\"/>"), std::string::npos) << report;
    const sim::Result r = server.run({"-u", "report.xml"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(burns(), (Calls {burn_call("0000:05:00.0", "fw-16.35.2000.bin"),
                               burn_call("0000:06:00.0", "fw-16.35.2000.bin")}));

    // Burned, the devices now hold the catalog's version.
    EXPECT_NE(discover().find("<action value=\"rewrite\"/>"), std::string::npos);
}

TEST_F(ReportRoundTrip, AnActionChangedToNothingIsLeftAlone)
{
    const std::string report = discover();
    server.write_package_file("report.xml",
                              replace_nth(report, "<action value=\"upgrade\"/>", "<action value=\"Nothing\"/>", 0));
    const sim::Result r = server.run({"-u", "report.xml"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(burns(), Calls {burn_call("0000:06:00.0", "fw-16.35.2000.bin")});
    EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "16.34.1002");
}

TEST_F(ReportRoundTrip, ActionsChangedToEachValue)
{
    const std::string report = discover();
    for (const auto &[action, burned] : std::vector<std::pair<std::string, bool>> {
             {"rewrite", true}, {"downgrade", true}, {"upgrade-now", true}, {"Upgrade", false}, {"Nothing", false}}) {
        server.clear_tool_calls();
        const std::string edited = replace_nth(replace_nth(report, "<action value=\"upgrade\"/>",
                                                           "<action value=\"" + action + "\"/>", 0),
                                               "<action value=\"upgrade\"/>", "<action value=\"Nothing\"/>", 0);
        server.write_package_file("report.xml", edited);
        const sim::Result r = server.run({"-su", "report.xml"});
        EXPECT_EQ(r.status, 0) << action << r.err;
        EXPECT_EQ(burns(), burned ? Calls {burn_call("0000:05:00.0", "fw-16.35.2000.bin")} : Calls {}) << action;
    }
}

// The written bus number carries the domain; a report edited to lose it is refused.
TEST_F(ReportRoundTrip, AnEditedBusNumberMustStayAPciAddress)
{
    const std::string report = discover();
    server.write_package_file("report.xml",
                              replace_nth(report, "<busnumber value=\"0000:05\"/>",
                                          "<busnumber value=\"0000:05|reboot\"/>", 0));
    const sim::Result r = server.run({"-u", "report.xml"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(burns(), Calls {burn_call("0000:06:00.0", "fw-16.35.2000.bin")});
    EXPECT_TRUE(logged_error("read_discovery_report: Invalid bus address \"0000:05|reboot:00.0\" for device 1 (eth05)\n"))
        << server.log();
}
