// Whole runs of the run lock and the burn history: a lock another user planted or would hold, an unfinished burn,
// a history that cannot be written. (A second run while one burns: upgrade_run_test.)
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support.h"

using namespace support;
namespace fs = std::filesystem;

namespace {

// A port whose newer image a silent run burns, after the Secure Boot query tool's call.
void add_burnable_port(sim::SimServer &server)
{
    server.set_mokutil("SecureBoot disabled");
    server.add_port({.address = "0000:05:00.0", .fw_version = "16.35.1000"});
    server.add_image({"fw-16.35.2000.bin", "MT_0000000080", "16.35.2000"});
    server.set_catalog({{}});
}

// The command run as uid and gid 65534.
sim::Result as_nobody(const sim::SimServer &server, std::vector<std::string> command)
{
    command.insert(command.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups"});
    return server.run(command, "", {}, "/usr/bin/setpriv");
}

} // namespace

// No other user can hold the lock (root's file, mode 0600) or plant one: a lock path that is not root's own
// regular file of one link refuses every run before anything runs, with the reason.
TEST(RunLock, NoOtherUserCanHoldOrPlantIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "SKIPPED: acting as another user needs root";
    sim::SimServer server;
    add_burnable_port(server);
    const std::string run = server.root() + "/run", lock = run + "/rovan.lock", other = server.package_dir() + "/other";
    fs::permissions(server.root(), fs::perms(0755));
    fs::permissions(run, fs::perms(01777)); // as open as /run/lock, so that another user can plant a file
    server.write_package_file("other", "root's\n");
    if (as_nobody(server, {"touch", lock}).status != 0)
        GTEST_SKIP() << "SKIPPED: uid 65534 cannot reach " << run;
    for (const auto &[plant, reason] : std::vector<std::pair<std::function<void()>, std::string>> {
             {[] {}, "owned by uid 65534, not by root"}, {[&] { fs::create_hard_link(other, lock); }, "has 2 links"},
             {[&] { fs::create_symlink(other, lock); }, "a symbolic link"},
             {[&] { fs::create_directory(lock); }, "Is a directory"}}) {
        SCOPED_TRACE(reason);
        plant();
        server.clear_tool_calls();
        const sim::Result r = server.run({"-s"});
        EXPECT_EQ(std::pair(r.status, r.err), std::pair(4, "rovan: cannot lock " + lock + ": " + reason + "\n"));
        EXPECT_EQ(server.tool_calls(), Calls {});
        EXPECT_EQ(server.read_package_file("other"), "root's\n");
        fs::remove_all(lock);
    }
    fs::permissions(run, fs::perms(0755));
    ASSERT_EQ(server.run({"-c"}).status, 0);
    EXPECT_EQ(fs::status(lock).permissions(), fs::perms(0600));
    EXPECT_NE(as_nobody(server, {"flock", "-n", "-s", lock, "true"}).status, 0) << "another user holds root's lock";
}

// A burn that started and never ended is reported by the next run, on standard error and in the log, and by that one
// only, even after a record cut short. Lines that are no records, and a record without its image, are passed over.
// A later burn is preceded by a run-start, from which the next run reads.
TEST(RunLock, UnfinishedBurnIsReportedOnce)
{
    sim::SimServer server;
    add_burnable_port(server);
    const std::string history = "../var/lib/rovan/history.jsonl";
    const std::string keys = R"("pid":4242,"address":"0000:05:00.0","psid":"MT_1","mac":"b8cef6000510",)"
                             R"("image":"./nic_fw/fw.bin","from":"16.32.1010","to":"16.35.2000")";
    const std::string start = R"({"event":"burn-start","time":"2026-12-07T21:59:53Z",)" + keys + "}\n";
    server.write_package_file(history, start + R"({"event":"burn-end","time":"2026-12-07T22:00:00Z",)" + keys +
        R"(,"outcome":"success","tool_status":0,"seconds":7})" + "\nnot json\n[1]\n" +
        std::regex_replace(start, std::regex(R"("image":"[^"]*",)"), "") + start + R"({"event":"burn-e)");
    const std::string warning = "rovan: WARNING: the burn of ./nic_fw/fw.bin into 0000:05:00.0 started "
                                "2026-12-07T21:59:53Z by pid 4242 did not finish; check the adapter with "
                                "'rovan -c' before rebooting\n";
    EXPECT_EQ(server.run({"-c"}).err, warning);
    EXPECT_EQ(log_without_times(server), "[WARNING]  " + warning + "\n");
    server.remove_package_file("mstflint.log");
    EXPECT_EQ(server.run({"-c"}).err, "");
    EXPECT_EQ(server.log(), "");
    EXPECT_TRUE(server.read_package_file(history).ends_with(
        keys + R"(,"outcome":"interrupted","tool_status":null,"seconds":null})" + "\n"));
    EXPECT_EQ(server.run({"-s"}).status, 0);
    EXPECT_TRUE(std::regex_search(server.read_package_file(history), std::regex(R"(null\}\n\{"event":"run-start","time)"
        R"(":"[^"]+","pid":\d+\}\n\{"event":"burn-start"[^\n]+\n\{"event":"burn-end"[^\n]+\n$)")));
}

// A history that cannot be written (a FIFO or a link at its path, neither waited on nor followed; a file where its
// directory belongs) costs the burning run one notice, never the burn.
TEST(RunLock, AnUnwritableHistoryCostsANoticeNotTheBurn)
{
    for (const auto &[plant, reason] : std::vector<std::pair<std::function<void(const std::string &)>, std::string>> {
             {[](const std::string &dir) { ASSERT_EQ(mkfifo((dir + "/history.jsonl").c_str(), 0644), 0); },
              "Not a regular file"},
             {[](const std::string &dir) { fs::create_symlink("/dev/zero", dir + "/history.jsonl"); },
              "Not a regular file"},
             {[](const std::string &dir) { fs::remove(dir), std::ofstream(dir) << "where the directory belongs"; },
              "Not a directory"}}) {
        sim::SimServer server;
        add_burnable_port(server);
        server.set_run_timeout(10);
        const std::string dir = server.root() + "/var/lib/rovan";
        fs::create_directories(dir);
        plant(dir);
        const sim::Result r = server.run({"-s"});
        EXPECT_EQ(std::pair(r.status, r.err), std::pair(0, "rovan: the burn history cannot be written: " + reason + "\n"));
        EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "16.35.2000");
    }
}
