// The event log as every mode entry opens it: appended to, created when
// absent, and fatal to the run when it cannot be opened.

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <regex>

#include "sim_server.h"

namespace {

using Args = std::vector<std::string>;

const std::vector<Args> k_modes = {{}, {"-s"}, {"-c"}, {"-d"}, {"-u", "nicdiscovery.xml"}};

TEST(EventLog, EveryModeStopsWhenTheLogCannotBeOpened)
{
    sim::SimServer server;
    server.set_mokutil("SecureBoot disabled");
    std::filesystem::create_directory(server.package_dir() + "/mstflint.log");
    const std::regex fatal(R"(FWUPG_ERROR: could not open mstflint\.log \(21\), mstflint,[0-9]+\n)");
    for (const Args &args : k_modes) {
        sim::Result r = server.run(args);
        EXPECT_EQ(r.status, 1) << ::testing::PrintToString(args);
        EXPECT_TRUE(std::regex_match(r.err, fatal)) << ::testing::PrintToString(args) << r.err;
        EXPECT_TRUE(r.out.ends_with(std::string(98, '#') + "\n\n") || r.out.ends_with("SecureBoot is disabled.\n"))
            << ::testing::PrintToString(args) << ": nothing after the log failure\n" << r.out;
    }
}

TEST(EventLog, EveryModeAppendsToTheLog)
{
    sim::SimServer server;
    for (const Args &args : k_modes) {
        const std::string earlier = "[INFO]      [Mon Jan  1 00:00:00 2024] an earlier run\n" + server.log();
        server.write_package_file("mstflint.log", earlier);
        server.run(args);
        EXPECT_TRUE(server.log().starts_with(earlier)) << ::testing::PrintToString(args);
    }
}

TEST(EventLog, FirstModeRunCreatesTheLog)
{
    sim::SimServer server;
    EXPECT_FALSE(server.package_file_exists("mstflint.log"));
    server.run({"-c"});
    EXPECT_TRUE(server.package_file_exists("mstflint.log"));
}

// One port with a newer image, so that the upgrade asks once.
void add_upgradable_port(sim::SimServer &server)
{
    server.add_function({"0000:05:00.0"});
    sim::FlashDevice dev;
    dev.address = "0000:05:00.0";
    dev.fw_version = "16.34.1000";
    server.add_flash_device(dev);
    server.add_image({"fw-16.35.2000.bin", "MT_0000000080", "16.35.2000"});
    server.set_catalog({sim::CatalogEntry {}});
}

TEST(EventLog, PromptExchangeIsLoggedWithTimeAndRunsAppend)
{
    sim::SimServer server;
    add_upgradable_port(server);
    const std::regex exchange(R"(\[INFO\]      \[[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}\] )"
                              R"(Would you like to flash the firmware\?\n y/n/q \(y\): n\n\n\n)");
    server.run({}, "n\n");
    const std::string first = server.log();
    EXPECT_EQ(std::distance(std::sregex_iterator(first.begin(), first.end(), exchange), std::sregex_iterator()), 1)
        << first;
    server.run({}, "n\n");
    const std::string both = server.log();
    EXPECT_TRUE(both.starts_with(first));
    EXPECT_EQ(std::distance(std::sregex_iterator(both.begin(), both.end(), exchange), std::sregex_iterator()), 2)
        << both;
    EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "16.34.1000") << "the operator said no";
}

} // namespace
