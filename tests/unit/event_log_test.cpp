// Event-log entries and console messages: the entry layout with its local
// time, texts written verbatim, appending, and the console's silencing bits.

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "control/console.h"
#include "globals.h"

namespace {

std::string ctime_text(std::time_t t)
{
    char buf[64];
    std::string text = ctime_r(&t, buf);
    text.pop_back();
    return text;
}

class EventLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "eventlog-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        g_iFlag = 0;
    }
    void TearDown() override
    {
        if (pmstflint_fout)
            std::fclose(pmstflint_fout);
        pmstflint_fout = nullptr;
        g_iFlag = 0;
        std::filesystem::remove_all(dir_);
    }
    std::string path() const { return dir_ + "/mstflint.log"; }
    std::string content() const
    {
        if (pmstflint_fout)
            std::fflush(pmstflint_fout);
        std::ifstream in(path());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Writes one entry and checks it against the local time around the call.
    void expect_entry(const char *tag, const std::string &text)
    {
        pmstflint_fout = std::fopen(path().c_str(), "w");
        ASSERT_NE(pmstflint_fout, nullptr);
        const std::time_t before = std::time(nullptr);
        log_mellanox_event(pmstflint_fout, tag, text);
        const std::time_t after = std::time(nullptr);
        const std::string got = content();
        EXPECT_TRUE(got == std::string(tag) + " [" + ctime_text(before) + "] " + text + "\n" ||
                    got == std::string(tag) + " [" + ctime_text(after) + "] " + text + "\n")
            << got;
        std::fclose(pmstflint_fout);
        pmstflint_fout = nullptr;
    }

private:
    std::string dir_;
};

TEST_F(EventLog, TagsAreElevenCharacters)
{
    EXPECT_EQ(std::string(LOG_INFO), "[INFO]     ");
    EXPECT_EQ(std::string(LOG_WARNING), "[WARNING]  ");
    EXPECT_EQ(std::string(LOG_ERROR), "[ERROR]    ");
}

TEST_F(EventLog, EntryIsTagLocalTimeAndTextVerbatim)
{
    expect_entry(LOG_INFO, "Flashing 100% done, %s %d\n");
    expect_entry(LOG_ERROR, "\nFor 0000:05:00.0 no matching firmware file in XML\n");
}

TEST_F(EventLog, OpeningAppendsToTheWorkingDirectoryLog)
{
    std::ofstream(path()) << "earlier entry\n";
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(path()).parent_path());
    open_event_log();
    std::filesystem::current_path(previous);
    log_mellanox_event(pmstflint_fout, LOG_WARNING, "later entry\n");
    const std::string got = content();
    EXPECT_TRUE(got.starts_with("earlier entry\n[WARNING]   [")) << got;
    EXPECT_TRUE(got.ends_with("] later entry\n\n")) << got;
}

TEST_F(EventLog, ConsoleMessagesAreSilencedBySilentReportAndUpdateRuns)
{
    for (int flags : {0x0002, 0x0020, 0x0040}) {
        g_iFlag = flags;
        ::testing::internal::CaptureStdout();
        print_message("hidden\n");
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << std::hex << flags;
    }
    g_iFlag = 0x0001 | 0x0004 | 0x0008 | 0x0010;
    ::testing::internal::CaptureStdout();
    print_message("100% shown %s");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "100% shown %s");
}

} // namespace
