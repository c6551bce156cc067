// The operator prompt: answer codes, the default on Enter, end of input, the exchange
// as a time-stamped event-log entry, and the answers that silent and -y runs give unasked.

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "control/console.h"
#include "globals.h"

namespace {

// Verbatim texts: a "%" in them is no format directive.
const std::string k_prompt = "Flash 100% of %s now?\n";
const std::string k_question = k_prompt + " y/n/q (y):";
// A default that no answer word gives, so that a test sees where the default is taken.
constexpr int k_default = 7;

class Prompt : public ::testing::Test {
protected:
    void SetUp() override
    {
        pmstflint_fout = std::fopen(log_.c_str(), "w");
        ASSERT_NE(pmstflint_fout, nullptr);
    }
    void TearDown() override
    {
        std::fclose(pmstflint_fout);
        pmstflint_fout = nullptr;
        g_iFlag = 0;
        std::remove(log_.c_str());
        std::remove(input_.c_str());
    }
    void feed(const std::string &input)
    {
        std::ofstream(input_, std::ios::binary) << input;
        ASSERT_NE(std::freopen(input_.c_str(), "r", stdin), nullptr);
    }
    static int ask() { return nfwu_yesno(k_prompt, k_default, k_default, k_default, "y"); }
    std::string logged() const
    {
        std::ifstream in(log_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Named after the process: ctest runs each test in a process of its own, side by side.
    const std::string log_ = ::testing::TempDir() + "console_test." + std::to_string(getpid()) + ".log";
    const std::string input_ = log_ + ".input";
};

TEST_F(Prompt, AnswerCodesUntilTheInputEnds)
{
    const std::vector<std::pair<std::string, int>> answers = {
        {"y", 0}, {"yes", 0}, {"Y", 0}, {"Yes", 0}, {"YES", 0}, {"q", 2}, {"Q", 2}, {"Quit", 2}, {"QUIT", 2},
        {"quit", 2}, {"c", 3}, {"C", 3}, {"n", 1}, {"Yes ", 1}, {" yes", 1}, {"yess", 1}, {"QUIT ", 1},
        {"", k_default}};
    std::string input;
    for (const auto &[line, code] : answers)
        input += line + "\n";
    feed(input);
    for (const auto &[line, code] : answers)
        EXPECT_EQ(ask(), code) << '"' << line << '"';
    const std::string before = logged();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ask(), 2) << "the end of input quits, unlogged";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), k_question + "Unknown input problem!\nQuit...\n");
    EXPECT_EQ(logged(), before);
}

TEST_F(Prompt, QuestionIsShownAndTheExchangeLoggedWithTheLocalTime)
{
    feed("yes\n");
    ::testing::internal::CaptureStdout();
    const std::time_t before = std::time(nullptr);
    EXPECT_EQ(ask(), 0);
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), k_question);
    // The 24-character ctime form, without its newline.
    const auto entry = [](std::time_t t) { return "[INFO]      [" + std::string(std::ctime(&t), 24) + "] "; };
    const std::string exchange = k_question + " yes\n\n\n";
    EXPECT_TRUE(logged() == entry(before) + exchange || logged() == entry(after) + exchange) << logged();
}

TEST_F(Prompt, LongLineIsReadInPartsAndLoggedCut)
{
    feed(std::string(499, 'x') + "y\n");
    EXPECT_EQ(ask(), 1);
    const std::string cut = (k_question + " " + std::string(499, 'x')).substr(0, 499);
    EXPECT_TRUE(logged().ends_with("] " + cut + "\n")) << logged();
    EXPECT_EQ(ask(), 0) << "the rest of the line answers the next prompt";
}

TEST_F(Prompt, SilentAndYesRunsAnswerYesUnaskedAndReadNothing)
{
    feed("n\n");
    for (int flags : {0x0002, 0x0010}) {
        g_iFlag = flags;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(nfwu_yesno(k_prompt, 1, 1, 1, "n"), 0) << flags;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << flags;
    }
    g_iFlag = 0;
    EXPECT_EQ(logged(), "");
    EXPECT_EQ(ask(), 1) << "the input was left unread";
}

} // namespace
