// The flash tool's query: a labelled line's value, why a query went unanswered, the time limit, the batch.
#include <gtest/gtest.h>

#include <condition_variable>
#include <map>

#include "discovery/query_batch.h"
#include "fake_tools.h"

TEST(CutLabelledValue, CutsAtTheLabelsLengthPlusOneAndEndsAtTheFirstBlank)
{
    const std::vector<std::tuple<std::string, std::string, std::optional<std::string>, bool>> cases = {
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

// How the tool ended gives why a query went unanswered: a status 127 too means a missing tool. (A status, the
// time limit and a tool that cannot be run: Control.EveryRunEndsWithItsResultDocument.)
TEST(UnqueriedOf, TheToolsEndGivesTheReason)
{
    const std::string at = "0000:05:00.0";
    const std::vector<std::tuple<fake_program, unqueried_cause, int>> cases = {
        {{.out = "PSID: MT_1\n"}, unqueried_cause::no_answer, 0},
        {{.term_signal = SIGSEGV}, unqueried_cause::status, 128 + SIGSEGV},
        {{.status = 127}, unqueried_cause::tool_missing, 0}};
    for (const auto &[program, cause, status] : cases) {
        test_run run;
        run.tools.on_run = [&](const std::vector<std::string> &) { return program; };
        const result_unqueried why = unqueried_of(at, query_flash_device(run.ctx, at));
        EXPECT_EQ(std::tuple(why.address, why.cause, why.status), std::tuple(at, cause, status)) << program.status;
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
        for (int i = 0; i < 80; ++i) // 40 devices of two functions each, one bus number in 40 domains
            addresses.push_back({static_cast<uint32_t>(i / 2), 0x10, 0, static_cast<uint8_t>(i % 2)});
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
