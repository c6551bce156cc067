// The burn history's records of a burn that succeeds, fails or leaves the old firmware, in-process.
#include <gtest/gtest.h>

#include <csignal>

#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <sys/stat.h>

#include "fake_tools.h"
#include "flash/flash_exec.h"
#include "support.h"

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

TEST(BurnHistory, RecordsEachBurnBeforeAndAfter)
{
    // signal: raised as the tool starts, after the start record; held back until the end record is written.
    struct Case { int exit_code; std::string reported, outcome; int signal = 0; };
    for (const Case &c : {Case {0, "16.35.2000", "success"}, Case {3, "16.35.2000", "failed"},
                          Case {0, "16.32.1010", "not-verified"}, Case {0, "16.35.2000", "success", SIGTERM}}) {
        SCOPED_TRACE(c.outcome);
        const support::scratch_dir dir;
        const std::string path = dir.path + "/rovan/history.jsonl";
        test_run run;
        run.ctx.history = burn_history(path);
        run.tools.on_burn = [&](const std::vector<std::string> &) {
            if (c.signal)
                raise(c.signal);
            return burn_outcome {.started = true, .exited = true, .exit_code = c.exit_code};
        };
        run.tools.query_output["0000:05:00.0"] = {"FW Version:            " + c.reported + "\n"};
        nic_info nic;
        nic.pbus_info = "0000:05:00.0";
        nic.pcurrent_mac = "b8:ce:f6:00:05:10";
        nic.current = {16, 32, 1010};
        nic.images = {{{16, 35, 2000}, "fw.bin", "X"}};
        nic.psid = "MT_0000000222";
        nic.flags = nic_flash_requested;
        // The modes are the files' own, whatever the umask.
        const mode_t umask_before = umask(077);
        do_update_firmware(run.ctx, nic, image_choice::first);
        umask(umask_before);
        EXPECT_EQ(run.ctx.outcome.deferred_signal, c.signal);

        EXPECT_EQ(fs::status(dir.path + "/rovan").permissions(), fs::perms(0755));
        EXPECT_EQ(fs::status(path).permissions(), fs::perms(0644));
        std::istringstream in(support::read_text(path));
        std::vector<json> records;
        for (std::string line; std::getline(in, line);)
            records.push_back(json::parse(line));
        ASSERT_EQ(records.size(), 2u);
        const json &start = records[0], &end = records[1];
        json expected = {{"event", "burn-start"}, {"time", start["time"]}, {"pid", getpid()},
                         {"address", "0000:05:00.0"}, {"psid", "MT_0000000222"}, {"mac", "b8cef6000510"},
                         {"image", "./nic_fw/fw.bin"}, {"from", "16.32.1010"}, {"to", "16.35.2000"}};
        EXPECT_EQ(start, expected);
        EXPECT_TRUE(std::regex_match(start["time"].get<std::string>(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
        expected.update(json {{"event", "burn-end"}, {"time", end["time"]}, {"outcome", c.outcome},
                              {"tool_status", c.exit_code}, {"seconds", end["seconds"]}});
        EXPECT_EQ(end, expected);
        EXPECT_TRUE(end["seconds"].is_number());
    }
}

// Bytes this process has read so far.
static long long bytes_read()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value && key != "rchar:") {
    }
    return value;
}

// Whatever its length, the history is read in pieces (a line of 64 MiB, a hole, is passed over unkept) and only
// from its last run-start: a burn-start before that has its end.
TEST(BurnHistory, ReadsInBoundedMemoryFromTheLastRunStart)
{
    const auto start = [](int pid) {
        return R"({"event":"burn-start","time":"t","pid":)" + std::to_string(pid) +
               R"(,"address":"a","psid":"","mac":"","image":"","from":"","to":""})" "\n";
    };
    for (const bool marked : {false, true}) {
        SCOPED_TRACE(marked);
        const support::scratch_dir dir;
        const std::string path = dir.path + "/history.jsonl";
        std::ofstream(path) << start(1);
        fs::resize_file(path, fs::file_size(path) + (64 << 20));
        std::ofstream(path, std::ios::app) << "\n" << (marked ? R"({"event":"run-start","time":"t","pid":2})" "\n" : "")
                                           << start(2);
        rusage before {}, after {};
        getrusage(RUSAGE_SELF, &before);
        const long long read_before = bytes_read();
        const std::optional<std::vector<burn_record>> found = burn_history(path).unfinished();
        const long long read = bytes_read() - read_before;
        getrusage(RUSAGE_SELF, &after);
        ASSERT_TRUE(found);
        std::vector<long long> pids;
        for (const burn_record &burn : *found)
            pids.push_back(burn.pid);
        EXPECT_EQ(pids, (marked ? std::vector<long long> {2} : std::vector<long long> {1, 2}));
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024) << "KiB";
        EXPECT_LT(read, marked ? 1 << 20 : 1 << 30);
    }
}
