// rovan-sim -u with code-named catalog images, resolved through ./getmlnxinfo.

#include "report_update_fixture.h"

using namespace report_test;

namespace {

using Calls = std::vector<std::vector<std::string>>;

class ReportTamaro : public ReportUpdate {
protected:
    void SetUp() override
    {
        add_device("0000:05:00.0");
        catalog({entry("16.35.2000", "Tamaro-CX5")});
        server.add_image({"fw-resolved.bin", "MT_0000000080", "16.35.2000"});
    }
    Calls resolutions() const { return calls_of("./getmlnxinfo"); }
    static Calls resolution_of(const std::string &address) { return {{"./getmlnxinfo", "imgfile", address}}; }
};

} // namespace

TEST_F(ReportTamaro, BurnsTheResolvedImage)
{
    server.set_getmlnxinfo("0000:05:00.0", "server#fw-resolved.bin more text");
    const sim::Result r = update({ReportDevice {}});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(resolutions(), resolution_of("0000:05:00.0"));
    EXPECT_NE(r.out.find("./getmlnxinfo imgfile 0000:05:00.0 > data"), std::string::npos) << r.out;
    EXPECT_EQ(burns(), Calls {burn_call("0000:05:00.0", "fw-resolved.bin")});
    EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "16.35.2000");
    EXPECT_TRUE(answer_files().empty());
}

// The line end of an answer without a blank is no part of the name.
TEST_F(ReportTamaro, AnAnswerEndingWithTheNameBurnsThatName)
{
    server.set_getmlnxinfo("0000:05:00.0", "server#fw-resolved.bin");
    const sim::Result r = update({ReportDevice {}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(burns(), Calls {burn_call("0000:05:00.0", "fw-resolved.bin")});
}

TEST_F(ReportTamaro, OnlyTheNewestImageIsResolved)
{
    catalog({entry("16.20.1000", "fw-plain.bin"), entry("16.35.2000", "Tamaro-CX5")});
    server.set_getmlnxinfo("0000:05:00.0", "server#fw-resolved.bin");
    const sim::Result r = update({ReportDevice {}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(burns(), Calls {burn_call("0000:05:00.0", "fw-resolved.bin")});

    server.clear_tool_calls();
    catalog({entry("16.35.2000", "fw-plain.bin"), entry("16.20.1000", "Tamaro-CX5")});
    const sim::Result again = update({ReportDevice {}});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(resolutions().empty());
    EXPECT_EQ(burns(), Calls {burn_call("0000:05:00.0", "fw-plain.bin")});
}

class ReportTamaroFails : public ReportTamaro {
protected:
    // A second, plain device after the code-named one.
    sim::Result update_two()
    {
        add_device("0000:06:00.0");
        sim::CatalogEntry plain = entry("16.35.2000", "fw-plain.bin");
        plain.psid = "MT_PLAIN";
        catalog({entry("16.35.2000", "Tamaro-CX5"), plain});
        sim::FlashDevice dev;
        dev.address = "0000:06:00.0";
        dev.psid = "MT_PLAIN";
        server.add_flash_device(dev);
        ReportDevice second;
        second.busnumber = "0000:06";
        second.psid = "MT_PLAIN";
        return update({ReportDevice {}, second});
    }
    void expect_run_ended(const sim::Result &r)
    {
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(burns().empty());
        EXPECT_TRUE(logged_error("read_discovery_report: Error in finding the image for Tamaro/Kestrel2\n"))
            << server.log();
        EXPECT_TRUE(answer_files().empty());
    }
};

TEST_F(ReportTamaroFails, AnAnswerOfZeroEndsTheRun)
{
    server.set_getmlnxinfo("0000:05:00.0", "0");
    const sim::Result r = update_two();
    expect_run_ended(r);
    EXPECT_EQ(resolutions(), resolution_of("0000:05:00.0"));
}

TEST_F(ReportTamaroFails, AnAnswerWithoutHashEndsTheRun)
{
    server.set_getmlnxinfo("0000:05:00.0", "fw-resolved.bin");
    expect_run_ended(update_two());
}

TEST_F(ReportTamaroFails, AnAnswerWithAnEmptyNameEndsTheRun)
{
    server.set_getmlnxinfo("0000:05:00.0", "server#   ");
    expect_run_ended(update_two());
}

TEST_F(ReportTamaroFails, AFailingCommandEndsTheRun)
{
    server.set_getmlnxinfo("0000:05:00.0", "server#fw-resolved.bin", 3);
    const sim::Result r = update_two();
    expect_run_ended(r);
    const std::string log = server.log();
    EXPECT_NE(log.find("] command failed: ./getmlnxinfo imgfile 0000:05:00.0 > data"), std::string::npos) << log;
}

// Burns made before a failed resolution stand.
TEST_F(ReportTamaroFails, EarlierBurnsStand)
{
    add_device("0000:06:00.0");
    sim::CatalogEntry plain = entry("16.35.2000", "fw-plain.bin");
    plain.psid = "MT_PLAIN";
    catalog({entry("16.35.2000", "Tamaro-CX5"), plain});
    sim::FlashDevice dev;
    dev.address = "0000:06:00.0";
    dev.psid = "MT_PLAIN";
    dev.fw_version = "16.34.1002";
    server.add_flash_device(dev);
    ReportDevice first;
    first.busnumber = "0000:06";
    first.psid = "MT_PLAIN";
    const sim::Result r = update({first, ReportDevice {}});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(burns(), Calls {burn_call("0000:06:00.0", "fw-plain.bin")});
    EXPECT_EQ(server.device_fw_version("0000:06:00.0"), "16.35.2000");
    EXPECT_TRUE(answer_files().empty());
}
