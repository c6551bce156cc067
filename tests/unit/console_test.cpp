// The operator prompt: answer codes, the default on Enter, end of input, the exchange
// as a time-stamped event-log entry, and the answers that silent and -y runs give unasked.

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "core/console.h"
#include "fake_tools.h"

namespace {

// Verbatim texts: a "%" in them is no format directive.
const std::string k_prompt = "Flash 100% of %s now?\n";
const std::string k_question = k_prompt + " y/n/q (y):";
// A default that no answer word gives, so that a test sees where the default is taken.
constexpr answer k_default = answer::continue_all;

class Prompt : public ::testing::Test {
protected:
    // The log is mstflint.log of the working directory: one of the test's own.
    void SetUp() override
    {
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
        ASSERT_TRUE(run_.log.open());
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    void feed(const std::string &input)
    {
        std::ofstream(input_, std::ios::binary) << input;
        ASSERT_NE(std::freopen(input_.c_str(), "r", stdin), nullptr);
    }
    answer ask() { return nfwu_yesno(run_.ctx, k_prompt, k_default, "y"); }
    std::string logged() const
    {
        std::ifstream in(dir_ + "/mstflint.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Named after the process: ctest runs each test in a process of its own, side by side.
    const std::string dir_ = ::testing::TempDir() + "console_test." + std::to_string(getpid());
    const std::string input_ = dir_ + "/input";
    test_run run_;
};

TEST_F(Prompt, AnswerCodesUntilTheInputEnds)
{
    const answer y = answer::yes, q = answer::quit, c = answer::continue_all, n = answer::no;
    const std::vector<std::pair<std::string, answer>> answers = {
        {"y", y}, {"yes", y}, {"Y", y}, {"Yes", y}, {"YES", y}, {"q", q}, {"Q", q}, {"Quit", q}, {"QUIT", q},
        {"quit", q}, {"c", c}, {"C", c}, {"n", n}, {"Yes ", n}, {" yes", n}, {"yess", n}, {"QUIT ", n},
        {"", k_default}};
    std::string input;
    for (const auto &[line, code] : answers)
        input += line + "\n";
    feed(input);
    for (const auto &[line, code] : answers)
        EXPECT_EQ(ask(), code) << '"' << line << '"';
    const std::string before = logged();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ask(), answer::quit) << "the end of input quits, unlogged";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), k_question + "Unknown input problem!\nQuit...\n");
    EXPECT_EQ(logged(), before);
    // Only a bare newline is Enter: one character and then the end of input is an answer.
    const std::vector<std::pair<std::string, answer>> last_answers = {{"q", q}, {"n", n}, {"C", c}, {"y", y}};
    for (const auto &[last, code] : last_answers) {
        feed(last);
        EXPECT_EQ(ask(), code) << '"' << last << "\" then the end of input";
    }
}

TEST_F(Prompt, QuestionIsShownAndTheExchangeLoggedWithTheLocalTime)
{
    feed("yes\n");
    ::testing::internal::CaptureStdout();
    const std::time_t before = std::time(nullptr);
    EXPECT_EQ(ask(), answer::yes);
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
    EXPECT_EQ(ask(), answer::no);
    const std::string cut = (k_question + " " + std::string(499, 'x')).substr(0, 499);
    EXPECT_TRUE(logged().ends_with("] " + cut + "\n")) << logged();
    EXPECT_EQ(ask(), answer::yes) << "the rest of the line answers the next prompt";
}

TEST_F(Prompt, SilentAndYesRunsAnswerYesUnaskedAndReadNothing)
{
    feed("n\n");
    for (bool *flag : {&run_.opts.silent, &run_.opts.yes}) {
        *flag = true;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(nfwu_yesno(run_.ctx, k_prompt, answer::no, "n"), answer::yes);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        *flag = false;
    }
    EXPECT_EQ(logged(), "");
    EXPECT_EQ(ask(), answer::no) << "the input was left unread";
}

} // namespace
