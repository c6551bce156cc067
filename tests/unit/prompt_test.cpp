// The operator prompt: answer codes, the default on Enter, end of input, the
// logged exchange, and the answers that silent and -y runs give unasked.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "control/console.h"
#include "globals.h"

namespace {

const std::string k_prompt = "Would you like to flash the firmware?\n";

class Prompt : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "prompt-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        pmstflint_fout = std::fopen((dir_ + "/mstflint.log").c_str(), "w");
        ASSERT_NE(pmstflint_fout, nullptr);
        g_iFlag = 0;
    }
    void TearDown() override
    {
        std::fclose(pmstflint_fout);
        pmstflint_fout = nullptr;
        g_iFlag = 0;
        std::filesystem::remove_all(dir_);
    }
    void feed(const std::string &input)
    {
        const std::string path = dir_ + "/input";
        std::ofstream(path, std::ios::binary) << input;
        ASSERT_NE(std::freopen(path.c_str(), "r", stdin), nullptr);
    }
    static int ask(int def_ans, const std::string &yorn = "y")
    {
        return nfwu_yesno(k_prompt, def_ans, def_ans, def_ans, yorn);
    }
    std::string logged() const
    {
        std::fflush(pmstflint_fout);
        std::ifstream in(dir_ + "/mstflint.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string dir_;
};

TEST_F(Prompt, YesAnswers)
{
    feed("y\nyes\nY\nYes\nYES\n");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ask(1, "n"), 0) << "answer " << i;
}

TEST_F(Prompt, QuitAnswers)
{
    feed("q\nQ\nQuit\nQUIT\nquit\n");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ask(0), 2) << "answer " << i;
}

TEST_F(Prompt, ContinueAnswers)
{
    feed("c\nC\n");
    EXPECT_EQ(ask(0), 3);
    EXPECT_EQ(ask(0), 3);
}

TEST_F(Prompt, AnythingElseIsNoEvenWithBlanks)
{
    feed("n\nYes \n yes\nyess\nQUIT \n");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ask(0), 1) << "answer " << i;
}

TEST_F(Prompt, EnterAloneGivesTheDefault)
{
    feed("\n\n");
    EXPECT_EQ(ask(0, "y"), 0);
    EXPECT_EQ(ask(1, "n"), 1);
}

TEST_F(Prompt, QuestionIsShownAndTheExchangeLogged)
{
    feed("yes\n");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ask(0, "y"), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), k_prompt + " y/n/q (y):");
    const std::regex entry(R"(\[INFO\]      \[[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}\] )"
                           R"(Would you like to flash the firmware\?\n y/n/q \(y\): yes\n\n\n)");
    EXPECT_TRUE(std::regex_match(logged(), entry)) << logged();
}

TEST_F(Prompt, EndOfInputQuitsWithoutLogging)
{
    feed("");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(ask(0), 2);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), k_prompt + " y/n/q (y):Unknown input problem!\nQuit...\n");
    EXPECT_EQ(logged(), "");
}

TEST_F(Prompt, LongLineIsReadInPartsAndLoggedCut)
{
    feed(std::string(499, 'x') + "y\n");
    EXPECT_EQ(ask(0), 1);
    const std::string first = logged();
    const size_t text_at = first.find("] ", 12) + 2; // past the tag and the time
    EXPECT_EQ(first.size() - text_at, 499u + 1) << "the exchange is cut to 499 characters, then the entry's newline";
    EXPECT_EQ(ask(1), 0) << "the rest of the line answers the next prompt";
}

TEST_F(Prompt, SilentAndYesRunsAnswerWithoutAsking)
{
    for (int flags : {0x0002, 0x0006, 0x0010}) {
        g_iFlag = flags;
        feed("n\n");
        const std::string before = logged();
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(ask(1, "n"), 0) << std::hex << flags;
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << std::hex << flags;
        EXPECT_EQ(logged(), before) << std::hex << flags;
        g_iFlag = 0;
        EXPECT_EQ(ask(0), 1) << "the input was left unread";
    }
}

} // namespace
