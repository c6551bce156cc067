// The flash tool's query at the seam: its command line, the labelled values read from its bytes, the batch.
#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <map>

#include "discovery/query_batch.h"
#include "fake_tools.h"

TEST(CutLabelledValue, CutsAtTheLabelsLengthPlusOneAndEndsAtTheFirstBlank)
{
    const std::vector<std::tuple<std::string, std::string, std::optional<std::string>, bool>> cases = {
        {"Base MAC:       b8cef6000510        4\n", "Base MAC", "b8cef6000510", true},
        {"Base MAC:\tb8cef6000510\t4\n", "Base MAC", "b8cef6000510", true},
        {"psid:  MT_1\r\n", "PSID", "MT_1", true},
        {"PSID: MT_2", "PSID", "MT_2", true},
        // Counted from the start of the line, wherever the label stands.
        {"Dev FW Version: 1.2.3\n", "FW Version", "ion:", true},
        // Nothing after the separator gives an empty value; a line end alone counts as text.
        {"PSID:\n", "PSID", "", true},
        {"PSID:     \n", "PSID", "", true},
        {"PSID:   ", "PSID", "", false},
        {"PSID:", "PSID", "", false},
        {"Image type:            FS4\n", "PSID", std::nullopt, false}};
    for (const auto &[line, label, value, text] : cases) {
        bool had_text = !text;
        EXPECT_EQ(cut_labelled_value(line, label, &had_text), value) << line;
        EXPECT_EQ(had_text, text) << line;
    }
}

// The tool's bytes go through the query's own reading: the first line carrying each label, wherever the
// stream split it; a line past 4 KiB still counts; a status other than 0 is noted; at the time limit, no
// answer. How the tool ended gives the reason a query went unanswered (127 or not run: a missing tool).
TEST(QueryFlashDevice, RunsTheChosenToolAndReadsItsOutput)
{
    struct row {
        bool installed;
        fake_program program;
        opt_text version, psid, mac;
        bool exit_failed = false;
        std::optional<int> status = 0;
        result_unqueried why {};
    };
    const std::string flood = std::string(100000, 'x');
    const std::string at = "0000:05:00.0";
    for (const row &r : std::vector<row> {
             {false, {.out = "Image type: FS4\nFW Version:   16.35.2000\npsid: a b\nPSID: MT_2\nBase MAC: b8ce  4\n"},
              "16.35.2000", "a", "b8ce"},
             {true, {.out = "PSID: MT_1\n", .err = "FW Version: 1.2.3", .status = 3}, "1.2.3", "MT_1", std::nullopt,
              true, 3, {at, unqueried_cause::status, 3}},
             {false, {.out = flood + " psid\nPSID: MT_3\n"}, std::nullopt, std::nullopt, std::nullopt},
             {false, {.out = "PSID: MT_4\n", .times_out = true}, std::nullopt, std::nullopt, std::nullopt, true,
              128 + SIGKILL, {at, unqueried_cause::timeout}},
             {false, {.exec_error = ENOENT}, std::nullopt, std::nullopt, std::nullopt, true, std::nullopt,
              {at, unqueried_cause::tool_missing}},
             {false, {.status = 127}, std::nullopt, std::nullopt, std::nullopt, true, 127,
              {at, unqueried_cause::tool_missing}},
             {false, {.term_signal = SIGSEGV}, std::nullopt, std::nullopt, std::nullopt, true, 128 + SIGSEGV,
              {at, unqueried_cause::status, 128 + SIGSEGV}}}) {
        test_run run;
        run.ctx.boot.installed_tool = r.installed;
        run.tools.on_run = [&](const std::vector<std::string> &) { return r.program; };
        const query_answer answer = query_flash_device(run.ctx, at);
        const std::string tool = r.installed ? "/usr/bin/flint" : "./nic_fw/mstflint";
        EXPECT_EQ(run.tools.calls, std::vector<std::string> {tool + " -d " + at + " q"});
        EXPECT_EQ(answer.fw_version.value, r.version) << r.program.out;
        EXPECT_EQ(answer.psid.value, r.psid) << r.program.out;
        EXPECT_EQ(answer.base_mac.value, r.mac) << r.program.out;
        EXPECT_EQ(answer.exit_failed, r.exit_failed) << r.program.out;
        EXPECT_EQ(answer.timed_out, r.program.times_out);
        EXPECT_EQ(std::pair(answer.exit_status, answer.not_run), std::pair(r.status, r.program.exec_error != 0));
        const result_unqueried why = unqueried_of(at, answer);
        EXPECT_EQ(std::tuple(why.address, why.cause, why.status), std::tuple(at, r.why.cause, r.why.status))
            << r.program.status;
    }
}

TEST(QueryTimeLimit, WholeSecondsOfAtLeastOneElseTheDefault)
{
    const std::vector<std::pair<const char *, int>> cases = {
        {"1", 1}, {"90", 90}, {nullptr, 60}, {"", 60}, {"0", 60}, {"-5", 60}, {"1.5", 60}, {"12s", 60},
        {" 7", 60}, {"99999999999", 60}};
    for (const auto &[text, seconds] : cases)
        EXPECT_EQ(query_time_limit(text), seconds) << (text ? text : "(unset)");
}

// With no worker thread (none could be made), answer() runs the queries itself, one at a time.
TEST(QueryBatch, QueriesDevicesSideBySideAtMostSixteenAndOneDevicesFunctionsInTurn)
{
    for (const size_t workers : {k_parallel_queries, size_t {0}}) {
        test_run run;
        std::vector<pci_address> addresses;
        for (int i = 0; i < 80; ++i) // 40 devices of two functions each
            addresses.push_back({0, static_cast<uint8_t>(0x10 + i / 2), 0, static_cast<uint8_t>(i % 2)});
        const int wanted = workers == 0 ? 1 : 16;
        std::mutex mutex;
        std::condition_variable started;
        std::map<std::string, int> running_on_device;
        int running = 0, most = 0, most_on_one_device = 0;
        run.tools.on_run = [&](const std::vector<std::string> &argv) {
            const std::string &address = argv.at(2);
            std::unique_lock<std::mutex> lock(mutex);
            most = std::max(most, ++running);
            most_on_one_device = std::max(most_on_one_device, ++running_on_device[address.substr(0, 7)]);
            started.notify_all();
            // Each waits until as many as wanted have run at once (or a while), then a moment more unlocked.
            started.wait_for(lock, std::chrono::seconds(1), [&] { return most >= wanted; });
            started.wait_for(lock, std::chrono::milliseconds(5), [] { return false; });
            --running, --running_on_device[address.substr(0, 7)];
            return fake_program {.out = "FW Version: " + address + "\nPSID: P\nBase MAC: M\n"};
        };
        query_batch batch(run.ctx, addresses, workers);
        for (size_t i = 0; i < addresses.size(); ++i)
            EXPECT_EQ(batch.answer(i)->fw_version.value, addresses[i].text());
        EXPECT_EQ(std::pair(most, most_on_one_device), std::pair(wanted, 1));
    }
}
