// A query tool's run: the first line carrying each label whatever and however much the tool prints,
// its time limit; and the batch that runs the queries of many devices side by side.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sys/resource.h>
#include <thread>

#include "discovery/query_batch.h"
#include "fake_tools.h"

namespace {

using Lines = std::vector<std::optional<std::string>>;
const std::vector<std::string> k_labels = {"FW Version", "PSID"};

query_lines run_script(const std::string &script, int time_limit_s = 20)
{
    return run_query_tool("/bin/sh", {"sh", "-c", script}, k_labels, time_limit_s);
}

long peak_rss_kib()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

TEST(QueryTool, KeepsTheFirstLineCarryingEachLabelWhateverTheToolPrints)
{
    const std::string x4k(4096, 'x');
    const std::vector<std::pair<std::string, Lines>> cases = {
        {"printf 'Image: FS4\\nFW Version: 1\\npsid: a\\nPSID: b'", {"FW Version: 1\n", "psid: a\n"}},
        {"printf 'FW Version: 2\\n' >&2; printf 'PSID: last'", {"FW Version: 2\n", "PSID: last"}},
        {"printf 'PS'; printf 'ID: split\\n'", {std::nullopt, "PSID: split\n"}},
        // A line is kept up to 4 KiB; a label past that, even across the tool's writes, still counts.
        {"head -c 3000000 /dev/zero | tr '\\0' x; printf ' ps'; sleep 0.1; printf 'id\\nFW Version: 3\\n'",
         {"FW Version: 3\n", x4k + "\n"}},
        {"exit 3", {std::nullopt, std::nullopt}}};
    for (const auto &[script, lines] : cases) {
        const query_lines out = run_script(script);
        EXPECT_TRUE(out.started && !out.timed_out && !out.interrupted) << script;
        EXPECT_EQ(out.lines, lines) << script;
    }
    const query_lines missing = run_query_tool("/nonexistent/tool", {"tool"}, k_labels, 20);
    EXPECT_TRUE(missing.started) << "a program that cannot be run answers nothing, as the shell's 'not found' did";
    EXPECT_EQ(missing.lines, Lines(2));
}

TEST(QueryTool, MemoryDoesNotGrowWithTheToolsOutput)
{
    const long before = peak_rss_kib();
    const query_lines out = run_script("head -c 100000000 /dev/zero | tr '\\0' x; echo; echo 'FW Version: 4'");
    EXPECT_EQ(out.lines, Lines({"FW Version: 4\n", std::nullopt}));
    EXPECT_LT(peak_rss_kib() - before, 16 * 1024);
}

TEST(QueryTool, AQueryStillRunningAtTheLimitIsEndedWithItsProcessGroup)
{
    const std::string pid_file = testing::TempDir() + "query-tool-child-" + std::to_string(getpid());
    const auto start = std::chrono::steady_clock::now();
    const query_lines out = run_script("echo 'FW Version: 5'; sleep 30 & echo $! >" + pid_file + "; wait", 1);
    EXPECT_TRUE(out.timed_out);
    EXPECT_EQ(out.lines, Lines(2)) << "a query that timed out counts as no answer";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    // The tool's own child went with it (a zombie left to its new parent counts as gone).
    std::ifstream pid_text(pid_file);
    std::string pid, stat;
    ASSERT_TRUE(std::getline(pid_text, pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::getline(std::ifstream("/proc/" + pid + "/stat"), stat);
    EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << stat;
    std::remove(pid_file.c_str());
}

TEST(QueryBatch, QueriesDevicesSideBySideAtMostSixteenAndOneDevicesFunctionsInTurn)
{
    test_run run;
    std::vector<std::string> addresses;
    for (int device = 0; device < 40; ++device) {
        for (int function = 0; function < 2; ++function) {
            addresses.push_back("0000:" + std::to_string(10 + device) + ":00." + std::to_string(function));
            run.tools.query_output[addresses.back()] = {"FW Version: " + addresses.back() + "\n"};
        }
    }
    std::mutex mutex;
    std::map<std::string, int> running_on_device;
    int running = 0, most = 0, most_on_one_device = 0;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    run.tools.on_query = [&](const std::string &address) {
        const std::string device = address.substr(0, address.find('.'));
        {
            std::lock_guard<std::mutex> lock(mutex);
            most = std::max(most, ++running);
            most_on_one_device = std::max(most_on_one_device, ++running_on_device[device]);
        }
        // The first queries wait until sixteen run at once (or never will), later ones a moment.
        const auto fewer_than_sixteen_yet = [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return most < 16;
        };
        while (fewer_than_sixteen_yet() && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        --running_on_device[device];
    };
    query_batch batch(run.ctx, addresses);
    for (size_t i = 0; i < addresses.size(); ++i)
        EXPECT_EQ(batch.answer(i)->fw_version.value, addresses[i]);
    EXPECT_EQ(most, 16);
    EXPECT_EQ(most_on_one_device, 1);
}
