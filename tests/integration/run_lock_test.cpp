// Whole runs of the run lock and the burn history: a second run refused, an unfinished burn, an unwritable history.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim_server.h"

namespace {

using Args = std::vector<std::string>;

// A port whose newer image a silent run burns; Secure Boot enabled, so that a run's checks call mst and flint.
void add_burnable_port(sim::SimServer &server)
{
    server.set_mokutil("SecureBoot enabled");
    server.set_mst(true);
    server.set_installed_flint(true);
    server.add_function({.address = "0000:05:00.0"});
    server.add_flash_device({.address = "0000:05:00.0", .fw_version = "16.35.1000"});
    server.add_image({"fw-16.35.2000.bin", "MT_0000000080", "16.35.2000"});
    server.set_catalog({{}});
}

// While a run burns, any mode is refused before it runs any tool or opens the log; the lock file stays. A history
// that cannot be written costs the burning run one notice, never the burn.
TEST(RunLock, OneRunAtATime)
{
    sim::SimServer server;
    add_burnable_port(server);
    server.write_package_file("../var/lib/rovan", "a file where the history's directory belongs");
    const std::string lock = server.root() + "/run/rovan.lock";
    server.hold_burns(true);
    const pid_t first = server.start({"-s"});
    for (int tries = 0; tries < 2000 && server.tool_calls().size() < 6; ++tries) // 4 of the Secure Boot check
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(server.tool_calls().back().back(), "b") << "the first run never burned";
    server.remove_package_file("mstflint.log");
    for (const Args &args : std::vector<Args> {{}, {"-s"}, {"-c"}, {"-d"}, {"-u", "nicdiscovery.xml"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        server.clear_tool_calls();
        const sim::Result r = server.run(args);
        EXPECT_EQ(std::pair(r.status, r.err), std::pair(4, "rovan: another run (pid " + std::to_string(first) +
                                                            ") holds " + lock + "; nothing was done\n"));
        EXPECT_EQ(server.tool_calls(), std::vector<Args> {});
        EXPECT_FALSE(server.package_file_exists("mstflint.log"));
    }
    EXPECT_EQ(server.run({"-cy"}).status, 1) << "a command line no mode allows takes no lock";
    server.hold_burns(false);
    const sim::Result burned = server.finish(first);
    EXPECT_EQ(burned.status, 0);
    EXPECT_EQ(burned.err, "rovan: the burn history cannot be written: Not a directory\n");
    EXPECT_TRUE(std::filesystem::exists(lock)) << "the lock file stays";
}

// In a child as uid and gid 65534, opens path with flags and holds a shared lock on it until killed. Answers the
// child and whether it holds the lock.
std::pair<pid_t, bool> hold_as_nobody(const std::string &path, int flags)
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return {-1, false};
    const pid_t pid = fork();
    if (pid == 0) {
        const bool nobody = setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
        const int fd = nobody ? open(path.c_str(), flags, 0644) : -1;
        if (fd >= 0 && flock(fd, LOCK_SH) == 0 && write(ready[1], "y", 1) == 1)
            pause();
        _exit(1);
    }
    close(ready[1]);
    char answer = 0;
    const bool held = pid > 0 && read(ready[0], &answer, 1) == 1;
    close(ready[0]);
    return {pid, held};
}

void end(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// No other user can hold the lock (root's file, mode 0600) or plant one: a lock path that is not root's own
// regular file of one link refuses every run before anything runs, with the reason.
TEST(RunLock, NoOtherUserCanHoldOrPlantIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "SKIPPED: acting as another user needs root";
    namespace fs = std::filesystem;
    sim::SimServer server;
    add_burnable_port(server);
    const std::string run = server.root() + "/run", lock = run + "/rovan.lock";
    fs::permissions(server.root(), fs::perms(0755));
    fs::permissions(run, fs::perms(01777)); // as open as /run/lock, so that another user can plant a file
    server.write_package_file("other", "root's\n");
    const auto [planter, planted] = hold_as_nobody(lock, O_RDWR | O_CREAT);
    if (!planted)
        GTEST_SKIP() << "SKIPPED: uid 65534 cannot reach " << run;
    end(planter);
    const std::pair<std::function<void()>, std::string> plantings[] = {
        {[] {}, "owned by uid 65534, not by root"},
        {[&] { fs::create_hard_link(server.package_dir() + "/other", lock); }, "has 2 links"},
        {[&] { fs::create_symlink(server.package_dir() + "/other", lock); }, "a symbolic link"},
        {[&] { fs::create_directory(lock); }, "Is a directory"}};
    for (const auto &[plant, reason] : plantings) {
        SCOPED_TRACE(reason);
        plant();
        server.clear_tool_calls();
        const sim::Result r = server.run({"-s"});
        EXPECT_EQ(std::pair(r.status, r.err), std::pair(4, "rovan: cannot lock " + lock + ": " + reason + "\n"));
        EXPECT_EQ(server.tool_calls(), std::vector<Args> {});
        EXPECT_EQ(server.read_package_file("other"), "root's\n");
        fs::remove_all(lock);
    }
    fs::permissions(run, fs::perms(0755));
    ASSERT_EQ(server.run({"-c"}).status, 0);
    EXPECT_EQ(fs::status(lock).permissions(), fs::perms(0600));
    const auto [holder, held] = hold_as_nobody(lock, O_RDONLY);
    EXPECT_FALSE(held) << "another user holds root's lock";
    EXPECT_EQ(server.run({"-c"}).status, 0);
    end(holder);
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
    EXPECT_EQ(std::regex_replace(server.log(), std::regex(R"(^(\[WARNING\]  ) \[.{24}\] )"), "$1"),
              "[WARNING]  " + warning + "\n");
    server.remove_package_file("mstflint.log");
    EXPECT_EQ(server.run({"-c"}).err, "");
    EXPECT_EQ(server.log(), "");
    EXPECT_TRUE(server.read_package_file(history).ends_with(
        keys + R"(,"outcome":"interrupted","tool_status":null,"seconds":null})" + "\n"));
    EXPECT_EQ(server.run({"-s"}).status, 0);
    EXPECT_TRUE(std::regex_search(server.read_package_file(history), std::regex(R"(null\}\n\{"event":"run-start","time)"
        R"(":"[^"]+","pid":\d+\}\n\{"event":"burn-start"[^\n]+\n\{"event":"burn-end"[^\n]+\n$)")));
}

// A FIFO or a link at the history's path is neither waited on nor followed: one notice, and the burn goes on.
TEST(RunLock, HistoryThatIsNoRegularFile)
{
    for (const bool fifo : {true, false}) {
        sim::SimServer server;
        add_burnable_port(server);
        server.set_run_timeout(10);
        const std::string path = server.root() + "/var/lib/rovan/history.jsonl";
        std::filesystem::create_directories(server.root() + "/var/lib/rovan");
        if (fifo)
            ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
        else
            std::filesystem::create_symlink("/dev/zero", path);
        const sim::Result r = server.run({"-s"});
        EXPECT_EQ(std::pair(r.status, r.err), std::pair(0, std::string("rovan: the burn history cannot be written: "
                                                                         "Not a regular file\n")));
        EXPECT_EQ(server.device_fw_version("0000:05:00.0"), "16.35.2000");
    }
}

} // namespace
