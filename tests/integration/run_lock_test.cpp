// Whole runs of the run lock and the burn history: a second run refused, unfinished burns reported once,
// a history that cannot be written.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "sim_server.h"

namespace {

using Args = std::vector<std::string>;
const std::vector<Args> k_modes = {{}, {"-s"}, {"-c"}, {"-d"}, {"-u", "nicdiscovery.xml"}};
const Args k_mokutil = {"/usr/bin/mokutil", "--sb-state"};

class RunLock : public ::testing::Test {
protected:
    RunLock() { server.set_mokutil("SecureBoot disabled"); }
    sim::Result run(const Args &args)
    {
        server.remove_package_file("mstflint.log");
        server.clear_tool_calls();
        return server.run(args);
    }
    // A port whose newer image a silent run burns.
    void add_burnable_port()
    {
        server.add_function({.address = "0000:05:00.0"});
        server.add_flash_device({.address = "0000:05:00.0", .fw_version = "16.35.1000"});
        server.add_image({"fw.bin", "MT_0000000080", "16.35.2000"});
        server.set_catalog({{.fwFile = "fw.bin"}});
    }
    // Each mode entry opens the log first, so its presence tells that a mode ran.
    bool mode_ran() const { return server.package_file_exists("mstflint.log"); }
    sim::SimServer server;
};

// While a run burns, a run in any mode is refused at once; after it, runs go on, the lock file left in place.
TEST_F(RunLock, OneRunAtATime)
{
    add_burnable_port();
    const std::string lock = server.root() + "/run/lock/rovan.lock";
    server.hold_burns(true);
    const pid_t first = server.start({"-s"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (server.tool_calls().empty() || server.tool_calls().back().back() != "b") {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the first run never burned";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (const Args &args : k_modes) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const sim::Result r = run(args);
        EXPECT_EQ(r.status, 4);
        EXPECT_EQ(r.err,
                  "rovan: another run (pid " + std::to_string(first) + ") holds " + lock + "; nothing was done\n");
        EXPECT_EQ(server.tool_calls(), std::vector<Args> {k_mokutil});
        EXPECT_FALSE(mode_ran());
    }
    server.hold_burns(false);
    EXPECT_EQ(server.finish(first).status, 0);
    EXPECT_EQ(run({"-c"}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(lock));

    std::filesystem::remove(lock);
    std::filesystem::create_directory(lock);
    const sim::Result r = run({"-c"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "rovan: cannot lock " + lock + ": Is a directory\n");
}

// A burn that started and never ended is reported by the next run, and by that one only.
TEST_F(RunLock, UnfinishedBurnIsReportedOnce)
{
    const std::string history = server.root() + "/var/lib/rovan/history.jsonl";
    const std::string keys = R"("pid":4242,"address":"0000:05:00.0","psid":"MT_1","mac":"b8cef6000510",)"
                             R"("image":"./nic_fw/fw.bin","from":"16.32.1010","to":"16.35.2000")";
    const std::string start = R"({"event":"burn-start","time":"2026-12-07T21:59:53Z",)" + keys + "}\n";
    const std::string ended = R"({"event":"burn-end","time":"2026-12-07T22:00:00Z",)" + keys +
                              R"(,"outcome":"success","tool_status":0,"seconds":7})" + "\n";
    std::filesystem::create_directories(server.root() + "/var/lib/rovan");
    // A finished burn, lines that are no records, a record without its image, then the unfinished burn.
    std::ofstream(history) << start << ended << "not json\n[1]\n"
                           << std::regex_replace(start, std::regex(R"("image":"[^"]*",)"), "") << start;
    const std::string warning = "rovan: WARNING: the burn of ./nic_fw/fw.bin into 0000:05:00.0 started "
                                "2026-12-07T21:59:53Z by pid 4242 did not finish; check the adapter with "
                                "'rovan -c' before rebooting\n";
    add_burnable_port();
    EXPECT_EQ(run({"-c"}).err, warning);
    // After the tag and the 24-character time stamp.
    const size_t at = server.log().find("] " + warning);
    EXPECT_TRUE(at != std::string::npos && server.log().compare(at - 37, 13, "[WARNING]   [") == 0) << server.log();
    EXPECT_EQ(run({"-c"}).err, "");
    EXPECT_EQ(server.log().find("WARNING"), std::string::npos) << server.log();
    std::stringstream records;
    records << std::ifstream(history).rdbuf();
    EXPECT_TRUE(records.str().ends_with(keys + R"(,"outcome":"interrupted","tool_status":null,"seconds":null})" + "\n"))
        << records.str();
}

// A history that cannot be written costs one notice, never the burn.
TEST_F(RunLock, UnwritableHistoryNeverBlocksABurn)
{
    add_burnable_port();
    server.write_package_file("../var/lib/rovan", "a file where the history's directory belongs");
    const sim::Result r = run({"-s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "rovan: the burn history cannot be written: Not a directory\n");
    EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "16.35.2000");
}

} // namespace
