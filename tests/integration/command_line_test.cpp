// Command-line shapes, the banner, the combination rules and which console
// messages the options silence, seen from outside through rovan-sim.

#include <gtest/gtest.h>

#include <optional>

#include "sim_server.h"

namespace {

using Args = std::vector<std::string>;

const std::string k_rule(98, '#');
const std::string k_title = "Valtrix Mellanox InfiniBand Online Firmware Upgrade Utility for Linux";
const std::string k_disabled = "SecureBoot is disabled.\n";
const std::string k_unknown = "Unknown command line option: ?\n";
const std::string k_usage = "USAGE: rovan [ -s ] [ -s [ -F ] ] [ -s [ -f ] ] [ -y ] [ -d ] [ -c ] [ -h ]\n"
                            "\t With no option, interactively upgrade firmware. \n"
                            "\t -s  Silently upgrade firmware.\n"
                            "\t -y  Assume default repsonse for all prompts.\n"
                            "\t -d  Generates NIC Discovery xml file for currently installed version.\n"
                            "\t -c  Display currently installed firmware information.\n"
                            "\t -h  Display this help menu.\n";

// What follows the banner, or nothing when the output does not start with one:
// a 100-byte rule line, the title, one notice line, a 100-byte rule line.
std::optional<std::string> after_banner(const std::string &out)
{
    const std::string head = "\n" + k_rule + "\n" + k_title + "\n";
    if (!out.starts_with(head))
        return std::nullopt;
    const size_t notice_end = out.find('\n', head.size());
    if (notice_end == std::string::npos || notice_end == head.size())
        return std::nullopt;
    const std::string tail = k_rule + "\n\n";
    if (out.compare(notice_end + 1, tail.size(), tail) != 0)
        return std::nullopt;
    return out.substr(notice_end + 1 + tail.size());
}

std::string describe(const Args &args)
{
    return ::testing::PrintToString(args);
}

class CommandLine : public ::testing::Test {
protected:
    CommandLine() { server.set_mokutil("SecureBoot disabled"); }
    // Each mode entry opens the log first, so its presence tells that a mode ran.
    bool mode_ran() const { return server.package_file_exists("mstflint.log"); }
    sim::Result run(const Args &args)
    {
        server.remove_package_file("mstflint.log");
        server.clear_tool_calls();
        return server.run(args);
    }
    sim::SimServer server;
};

TEST_F(CommandLine, BannerRulesAreHundredBytesAroundTitleAndNotice)
{
    sim::Result r = run({"-cy"});
    ASSERT_TRUE(r.out.starts_with("\n" + k_rule + "\n"));
    EXPECT_EQ(("\n" + k_rule + "\n").size(), 100u);
    std::optional<std::string> rest = after_banner(r.out);
    ASSERT_TRUE(rest) << r.out;
    EXPECT_EQ(*rest, k_disabled + k_usage);
    EXPECT_EQ(r.status, 1);
}

TEST_F(CommandLine, MalformedShapesShowUsageBeforeAnything)
{
    for (const Args &args : std::vector<Args> {{"-"},
                                               {"upgrade"},
                                               {"/c"},
                                               {"/F", "/s"},
                                               {"-s", "-u", "report.xml"},
                                               {"-s", "-F", "-y", "-c"},
                                               {"eth0", "-bootenable", "pxe"},
                                               {"ens1", "-bootenable", "rom"},
                                               {"eth0", "-bootEnable", "rom"},
                                               {"-c", std::string(4096, 'r')}}) {
        sim::Result r = run(args);
        EXPECT_EQ(r.status, 1) << describe(args);
        EXPECT_EQ(r.out, k_usage) << describe(args);
        EXPECT_FALSE(mode_ran()) << describe(args);
        EXPECT_TRUE(server.tool_calls().empty()) << describe(args) << ": Secure Boot check ran";
    }
}

TEST_F(CommandLine, SecondWordOfMaximumLengthIsAccepted)
{
    sim::Result r = run({"-c", std::string(4095, 'r')});
    std::optional<std::string> rest = after_banner(r.out);
    ASSERT_TRUE(rest) << r.out.substr(0, 300);
    EXPECT_TRUE(rest->starts_with(k_disabled));
    EXPECT_TRUE(mode_ran());
}

TEST_F(CommandLine, BootEnableRequestEndsAtOnceWithoutOutput)
{
    for (const Args &args : std::vector<Args> {
             {"eth0", "-bootenable", "rom"}, {"myeth3", "-bootenable", "iscsi"}, {"eth", "-bootenable", "disabled"}}) {
        sim::Result r = run(args);
        EXPECT_EQ(r.status, 0) << describe(args);
        EXPECT_EQ(r.out, "") << describe(args);
        EXPECT_EQ(r.err, "") << describe(args);
        EXPECT_FALSE(mode_ran()) << describe(args);
        EXPECT_TRUE(server.tool_calls().empty()) << describe(args);
    }
}

TEST_F(CommandLine, HelpShowsUsageWithoutBannerUnlessSilencedFirst)
{
    for (const Args &args : std::vector<Args> {{"-h"}, {"-hs"}, {"-h", "-s"}}) {
        sim::Result r = run(args);
        EXPECT_EQ(r.status, 1) << describe(args);
        EXPECT_EQ(r.out, k_usage) << describe(args);
        EXPECT_TRUE(server.tool_calls().empty()) << describe(args);
    }
    for (const Args &args : std::vector<Args> {{"-sh"}, {"-s", "-h"}}) {
        sim::Result r = run(args);
        EXPECT_EQ(r.status, 1) << describe(args);
        EXPECT_EQ(r.out, "") << describe(args);
    }
}

TEST_F(CommandLine, UnrecognisedOptionOrUpdateWithoutPathIsReported)
{
    for (const Args &args : std::vector<Args> {{"-x"}, {"-u"}, {"/u"}, {"-cx"}}) {
        sim::Result r = run(args);
        EXPECT_EQ(r.status, 1) << describe(args);
        EXPECT_EQ(r.out, k_unknown + k_usage) << describe(args);
        EXPECT_FALSE(mode_ran()) << describe(args);
    }
    sim::Result silenced = run({"-sx"});
    EXPECT_EQ(silenced.status, 1);
    EXPECT_EQ(silenced.out, "");
}

TEST_F(CommandLine, SlashForcedIsRecognisedAloneAndAsSecondWord)
{
    sim::Result alone = run({"/F"});
    std::optional<std::string> rest = after_banner(alone.out);
    ASSERT_TRUE(rest) << alone.out;
    EXPECT_TRUE(rest->starts_with(k_disabled));
    EXPECT_TRUE(mode_ran());

    // Only a rewritten "/F" makes this a forbidden combination with -c.
    sim::Result second = run({"-c", "/F"});
    rest = after_banner(second.out);
    ASSERT_TRUE(rest) << second.out;
    EXPECT_EQ(*rest, k_disabled + k_usage);
    EXPECT_EQ(second.status, 1);
    EXPECT_FALSE(mode_ran());
}

TEST_F(CommandLine, SlashFormsActAsTheirDashForms)
{
    for (const auto &[slash, dash] : std::vector<std::pair<Args, Args>> {{{"/s"}, {"-s"}},
                                                                         {{"/s", "/F"}, {"-s", "-F"}},
                                                                         {{"/d"}, {"-d"}},
                                                                         {{"/d", "report.xml"}, {"-d", "report.xml"}},
                                                                         {{"/u", "report.xml"}, {"-u", "report.xml"}},
                                                                         {{"/d", "/F"}, {"-d", "-F"}}}) {
        sim::Result expected = run(dash);
        const bool dash_ran = mode_ran();
        sim::Result r = run(slash);
        EXPECT_EQ(r.status, expected.status) << describe(slash);
        EXPECT_EQ(r.out, expected.out) << describe(slash);
        EXPECT_EQ(mode_ran(), dash_ran) << describe(slash);
        EXPECT_TRUE(after_banner(r.out)) << describe(slash);
    }
}

TEST_F(CommandLine, InfoOptionIsAcceptedAndIgnored)
{
    for (const Args &args : std::vector<Args> {{"-i"}, {"-ci"}, {"-i", "-c"}}) {
        sim::Result r = run(args);
        std::optional<std::string> rest = after_banner(r.out);
        ASSERT_TRUE(rest) << describe(args) << r.out;
        EXPECT_TRUE(rest->starts_with(k_disabled)) << describe(args);
        EXPECT_EQ(r.out.find("Unknown command line option"), std::string::npos) << describe(args);
        EXPECT_EQ(r.out.find("USAGE:"), std::string::npos) << describe(args);
        EXPECT_TRUE(mode_ran()) << describe(args);
    }
}

TEST_F(CommandLine, PermittedCommandLinesRunAMode)
{
    for (const Args &args : std::vector<Args> {{},
                                               {"-s"},
                                               {"-sF"},
                                               {"-sf"},
                                               {"-s", "-F"},
                                               {"-F"},
                                               {"-f"},
                                               {"-y"},
                                               {"-p"},
                                               {"-c"},
                                               {"-cc"},
                                               {"-c", "-c"},
                                               {"-d"},
                                               {"-d", "report.xml"},
                                               {"-u", "report.xml"},
                                               {"-su", "report.xml"},
                                               {"-ureport.xml"}}) {
        sim::Result r = run(args);
        EXPECT_TRUE(after_banner(r.out)) << describe(args) << r.out;
        EXPECT_EQ(r.out.find("USAGE:"), std::string::npos) << describe(args);
        EXPECT_TRUE(mode_ran()) << describe(args);
    }
}

TEST_F(CommandLine, SilentReportAndUpdateRunsHideTheSecureBootLine)
{
    for (const Args &args : std::vector<Args> {{"-s"}, {"-d"}, {"-u", "report.xml"}, {"-su", "report.xml"}}) {
        sim::Result r = run(args);
        std::optional<std::string> rest = after_banner(r.out);
        ASSERT_TRUE(rest) << describe(args) << r.out;
        EXPECT_EQ(rest->find("SecureBoot"), std::string::npos) << describe(args);
    }
    for (const Args &args : std::vector<Args> {{}, {"-c"}, {"-y"}, {"-F"}, {"-p"}}) {
        std::optional<std::string> rest = after_banner(run(args).out);
        ASSERT_TRUE(rest) << describe(args);
        EXPECT_TRUE(rest->starts_with(k_disabled)) << describe(args);
    }
}

TEST_F(CommandLine, ForbiddenCombinationsShowUsageAfterTheCheck)
{
    for (const Args &args : std::vector<Args> {{"-Fc"}, {"-fp"}, {"-Fy"}, {"-yc"}, {"-yp"}, {"-pc"}}) {
        sim::Result r = run(args);
        EXPECT_EQ(r.status, 1) << describe(args);
        EXPECT_EQ(after_banner(r.out), k_disabled + k_usage) << describe(args) << r.out;
        EXPECT_FALSE(mode_ran()) << describe(args);
    }
}

TEST_F(CommandLine, ForbiddenCombinationsWithSilencingOptionsShowOnlyTheBanner)
{
    for (const Args &args : std::vector<Args> {{"-sc"},
                                               {"-sp"},
                                               {"-sy"},
                                               {"-sd"},
                                               {"-ps"},
                                               {"-Fd"},
                                               {"-Fu", "report.xml"},
                                               {"-yd"},
                                               {"-yu", "report.xml"},
                                               {"-pd"},
                                               {"-pu", "report.xml"},
                                               {"-cu", "report.xml"},
                                               {"-du", "report.xml"}}) {
        sim::Result r = run(args);
        EXPECT_EQ(r.status, 1) << describe(args);
        EXPECT_EQ(after_banner(r.out), "") << describe(args) << r.out;
        EXPECT_FALSE(mode_ran()) << describe(args);
        EXPECT_EQ(server.tool_calls().size(), 1u) << describe(args) << ": the Secure Boot check runs first";
    }
}

} // namespace
