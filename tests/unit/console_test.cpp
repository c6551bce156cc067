// The operator prompt: answers, the default on Enter, end of input, the logged exchange, unasked answers.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>

#include "core/console.h"
#include "fake_tools.h"
#include "support.h"

// One input answers the prompts in turn: the first exchange shown and logged with the local time; a long line read
// in parts, its exchange logged cut; silent and -y runs answer yes unasked, reading and logging nothing; then the
// answer codes, one character without a newline, and the end of input.
TEST(Prompt, AnswersOneInputInTurn)
{
    // A directory of its own, whose mstflint.log is the event log.
    const support::scratch_dir dir;
    std::filesystem::current_path(dir.path);
    test_run run;
    ASSERT_EQ(run.log.open(), std::nullopt);
    const answer y = answer::yes, q = answer::quit, c = answer::continue_all, n = answer::no;
    const std::vector<std::pair<std::string, answer>> answers = {{"Yes", y}, {"YES", y}, {"Q", q}, {"Quit", q},
        {"quit", q}, {"C", c}, {"n", n}, {"Yes ", n}, {" yes", n}, {"yess", n}, {"", c}};
    std::string input = "yes\n" + std::string(499, 'x') + "y\n";
    for (const auto &[line, code] : answers)
        input += line + "\n";
    std::ofstream("input", std::ios::binary) << input + "y";
    ASSERT_NE(std::freopen("input", "r", stdin), nullptr);
    // Verbatim texts: a "%" in them is no format directive. The default is one that no answer word gives.
    const std::string prompt = "Flash 100% of %s now?\n", question = prompt + " y/n/q (y):";
    const auto ask = [&run, &prompt] { return nfwu_yesno(run.ctx, prompt, answer::continue_all, "y"); };
    const auto logged = [] { return support::read_text("mstflint.log"); };
    const auto entry = [&](std::time_t t) { return "[INFO]      [" + std::string(std::ctime(&t), 24) + "] "; };
    const std::time_t before = std::time(nullptr);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ask(), y);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), question);
    std::string log = logged();
    EXPECT_TRUE(log == entry(before) + question + " yes\n\n\n" || log == entry(std::time(nullptr)) + question +
                " yes\n\n\n") << log;
    EXPECT_EQ(ask(), n);
    EXPECT_TRUE(logged().ends_with("] " + (question + " " + std::string(499, 'x')).substr(0, 499) + "\n"));
    EXPECT_EQ(ask(), y) << "the rest of the line answers the next prompt";
    log = logged();
    for (bool *flag : {&run.opts.silent, &run.opts.yes}) {
        *flag = true;
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(nfwu_yesno(run.ctx, prompt, n, "n"), y);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        *flag = false;
    }
    EXPECT_EQ(logged(), log);
    for (const auto &[line, code] : answers)
        EXPECT_EQ(ask(), code) << '"' << line << '"';
    EXPECT_EQ(ask(), y) << "one character and then the end of input is an answer, not Enter";
    log = logged();
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ask(), q) << "the end of input quits, unlogged";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), question + "Unknown input problem!\nQuit...\n");
    EXPECT_EQ(logged(), log);
}
