// The burn history read in-process. (Its records: the whole runs of upgrade_run_test.)
#include <gtest/gtest.h>

#include <sys/resource.h>

#include "core/burn_history.h"
#include "support.h"

namespace fs = std::filesystem;

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
