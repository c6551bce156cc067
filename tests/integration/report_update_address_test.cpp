// rovan-sim -u with bus addresses that a report may carry: nothing read
// from a report reaches a shell or the flash tool unless it is a PCI address.

#include <filesystem>

#include "report_update_fixture.h"

using namespace report_test;

namespace {

using Calls = std::vector<std::vector<std::string>>;

class ReportAddress : public ReportUpdate {
protected:
    void SetUp() override
    {
        add_device("0000:05:00.0");
        add_default_image();
    }
    bool pwned() const { return std::filesystem::exists(std::filesystem::path(server.package_dir()) / "pwned"); }
    // Every stand-in call but the Secure Boot query made before any mode runs.
    Calls calls_after_boot_check() const
    {
        Calls calls;
        for (const auto &call : server.tool_calls()) {
            if (!call.empty() && call[0].find("mokutil") == std::string::npos)
                calls.push_back(call);
        }
        return calls;
    }
};

} // namespace

TEST_F(ReportAddress, ShellSyntaxInTheBusNumberRunsNothing)
{
    ReportDevice d;
    d.busnumber = "0000:05;touch pwned";
    const sim::Result r = update({d});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(calls_after_boot_check().empty());
    EXPECT_FALSE(pwned());
    EXPECT_TRUE(logged_error("read_discovery_report: Invalid bus address \"0000:05;touch pwned:00.0\" for device 1 (eth2)\n"))
        << server.log();
}

// A code-named image would be resolved through a shell command.
TEST_F(ReportAddress, ShellSyntaxNeverReachesTheImageResolution)
{
    catalog({entry("16.35.2000", "Tamaro")});
    server.set_getmlnxinfo("0000:05:00.0", "srv#fw-16.35.2000.bin");
    for (const auto &[bus, dev, func] : std::vector<std::tuple<std::string, std::string, std::string>> {
             {"0000:05", "00", "0 $(touch pwned)"},
             {"0000:05", "00`touch pwned`", "0"},
             {"0000:05", "00", "0\n"},
             {"0000:05 >pwned", "00", "0"}}) {
        ReportDevice d;
        d.busnumber = bus;
        d.devicenumber = dev;
        d.funcnumber = func;
        const sim::Result r = update({d});
        EXPECT_EQ(r.status, 2) << bus << dev << func;
        EXPECT_TRUE(calls_after_boot_check().empty()) << bus << dev << func;
        EXPECT_FALSE(pwned()) << bus << dev << func;
    }
}

TEST_F(ReportAddress, AnAddressWithoutDomainIsRefused)
{
    ReportDevice d;
    d.busnumber = "05";
    const sim::Result r = update({d});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(burns().empty());
    EXPECT_TRUE(logged_error("read_discovery_report: Invalid bus address \"05:00.0\" for device 1 (eth2)\n"))
        << server.log();
}

TEST_F(ReportAddress, BusItemsAfterTheActionLeaveNoAddress)
{
    const ReportDevice d;
    std::vector<std::string> items = device_items(d);
    std::vector<std::string> fw = fw_items(d);
    // The fw_item first, then the device's own items.
    const std::string element = "        <device>\n            <fw_item>\n" + join(fw) + "            </fw_item>\n" +
                                join(items) + "        </device>\n";
    const sim::Result r = update_text(report_text(element));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(burns().empty());
    EXPECT_TRUE(logged_error("read_discovery_report: No bus address for device 1 (eth2)\n")) << server.log();
}

// Only the refused device fails; the others are burned.
TEST_F(ReportAddress, ARefusedAddressFailsOnlyItsDevice)
{
    add_device("0000:06:00.0");
    ReportDevice bad;
    bad.device_id = "eth9";
    bad.busnumber = "0000:06:00";
    ReportDevice good;
    good.busnumber = "0000:06";
    const sim::Result r = update({bad, good});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(burns(), Calls {burn_call("0000:06:00.0", "fw-16.35.2000.bin")});
    EXPECT_TRUE(logged_error("read_discovery_report: Invalid bus address \"0000:06:00:00.0\" for device 1 (eth9)\n"))
        << server.log();
}
