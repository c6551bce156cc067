// A query tool's run (the first line with each label, a flood of output, the time limit) and the batch of queries.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sys/resource.h>
#include <thread>

#include "discovery/query_batch.h"
#include "fake_tools.h"

using Lines = std::vector<std::optional<std::string>>;
const std::vector<std::string> k_labels = {"FW Version", "PSID"};

TEST(QueryTool, KeepsTheFirstLineOfEachLabelFromAnyOutputAndEndsAHungToolWithItsProcessGroup)
{
    const auto peak_rss_kib = [] { rusage usage {}; getrusage(RUSAGE_SELF, &usage); return usage.ru_maxrss; };
    const long before = peak_rss_kib();
    const std::vector<std::pair<std::string, Lines>> cases = {
        {"printf 'Image: FS4\\nFW Version: 1\\npsid: a\\nPSID: b'", {"FW Version: 1\n", "psid: a\n"}},
        {"printf 'FW Version: 2\\n' >&2; printf 'PSID: last'", {"FW Version: 2\n", "PSID: last"}},
        {"printf 'PS'; printf 'ID: split\\n'", {std::nullopt, "PSID: split\n"}},
        // A line is kept up to 4 KiB; a label past that, even across the tool's writes, still counts.
        {"head -c 100000000 /dev/zero | tr '\\0' x; printf ' ps'; sleep 0.1; printf 'id\\nFW Version: 3\\n'",
         {"FW Version: 3\n", std::string(4096, 'x') + "\n"}},
        {"printf 'PSID: refused\\n'; exit 3", {std::nullopt, "PSID: refused\n"}},
        {"/nonexistent/tool", Lines(2)}}; // a program that cannot be run answers nothing, as the shell's "not found"
    for (const auto &[script, lines] : cases) {
        const query_lines out = run_query_tool(script.starts_with("/") ? script : "/bin/sh", {"sh", "-c", script},
                                               k_labels, 20);
        EXPECT_TRUE(out.started && !out.timed_out && !out.interrupted) << script;
        EXPECT_EQ(out.lines, lines) << script;
        EXPECT_EQ(out.exit_failed, script.starts_with("/") || script.ends_with("exit 3")) << script;
    }
    EXPECT_LT(peak_rss_kib() - before, 16 * 1024) << "memory grew with the tool's output";

    const std::string pid_file = testing::TempDir() + "query-tool-child-" + std::to_string(getpid());
    const auto start = std::chrono::steady_clock::now();
    const query_lines out =
        run_query_tool("/bin/sh", {"sh", "-c", "sleep 30 & echo $! >" + pid_file + "; echo 'PSID'; wait"}, k_labels, 1);
    EXPECT_TRUE(out.timed_out && out.lines == Lines(2)) << "a query that timed out counts as no answer";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    std::string pid, stat;
    ASSERT_TRUE(std::getline(std::ifstream(pid_file), pid));
    std::remove(pid_file.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::getline(std::ifstream("/proc/" + pid + "/stat"), stat);
    EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << "the tool's child outlived it: " << stat;
}

TEST(QueryBatch, QueriesDevicesSideBySideAtMostSixteenAndOneDevicesFunctionsInTurn)
{
    test_run run;
    std::vector<std::string> addresses;
    for (int i = 0; i < 80; ++i) { // 40 devices of two functions each
        addresses.push_back("0000:" + std::to_string(10 + i / 2) + ":00." + std::to_string(i % 2));
        run.tools.query_output[addresses.back()] = {"FW Version: " + addresses.back() + "\n", "PSID: P\n",
                                                    "Base MAC: M\n"};
    }
    std::mutex mutex;
    std::condition_variable started;
    std::map<std::string, int> running_on_device;
    int running = 0, most = 0, most_on_one_device = 0;
    run.tools.on_query = [&](const std::string &address) {
        std::unique_lock<std::mutex> lock(mutex);
        most = std::max(most, ++running);
        most_on_one_device = std::max(most_on_one_device, ++running_on_device[address.substr(0, 7)]);
        started.notify_all();
        // Each waits until sixteen have run at once (or a while), then a moment more with the lock released.
        started.wait_for(lock, std::chrono::seconds(1), [&] { return most >= 16; });
        started.wait_for(lock, std::chrono::milliseconds(5), [] { return false; });
        --running, --running_on_device[address.substr(0, 7)];
    };
    query_batch batch(run.ctx, addresses);
    for (size_t i = 0; i < addresses.size(); ++i)
        EXPECT_EQ(batch.answer(i)->fw_version.value, addresses[i]);
    EXPECT_EQ(std::pair(most, most_on_one_device), std::pair(16, 1));
}
