// The Secure Boot check: each outcome's console text, exit status and the
// exact commands it ran, seen through rovan-sim and the stand-in tools.

#include <gtest/gtest.h>

#include <optional>

#include "sim_server.h"

namespace {

using Calls = std::vector<std::vector<std::string>>;

const std::string k_rule(98, '#');
const std::string k_not_installed =
    "SecureBoot is enabled. mst and flint tools are not available/installed for firmware flash.\n";
const std::vector<std::string> k_mokutil_call = {"/usr/bin/mokutil", "--sb-state"};
const std::vector<std::string> k_mst_status = {"/usr/bin/mst", "status"};
const std::vector<std::string> k_mst_start = {"/usr/bin/mst", "start"};
const std::vector<std::string> k_flint_probe = {"/usr/bin/flint", "--help"};

// The output after the banner's closing rule line.
std::string after_banner(const std::string &out)
{
    const std::string closing = "\n" + k_rule + "\n\n";
    const size_t at = out.find(closing);
    return at == std::string::npos ? "<no banner>" : out.substr(at + closing.size());
}

class SecureBoot : public ::testing::Test {
protected:
    // -c: the check runs before the mode, and the mode's log shows that the run went on.
    sim::Result run_current(const std::vector<std::string> &extra = {})
    {
        std::vector<std::string> args = {"-c"};
        args.insert(args.end(), extra.begin(), extra.end());
        return server.run(args);
    }
    bool went_on() const { return server.package_file_exists("mstflint.log"); }
    sim::SimServer server;
};

TEST_F(SecureBoot, NoQueryToolCountsAsDisabled)
{
    server.set_mst(true);
    sim::Result r = run_current();
    EXPECT_TRUE(after_banner(r.out).starts_with("SecureBoot is disabled.\n")) << r.out;
    EXPECT_NE(r.err.find("mokutil"), std::string::npos) << "the shell's complaint: " << r.err;
    EXPECT_TRUE(server.tool_calls().empty());
    EXPECT_TRUE(went_on());
}

TEST_F(SecureBoot, DisabledAsksOnlyTheQueryTool)
{
    server.set_mokutil("SecureBoot disabled");
    server.set_mst(true);
    server.set_installed_flint(true);
    sim::Result r = run_current();
    EXPECT_TRUE(after_banner(r.out).starts_with("SecureBoot is disabled.\n")) << r.out;
    EXPECT_EQ(server.tool_calls(), Calls {k_mokutil_call});
    EXPECT_TRUE(went_on());
}

TEST_F(SecureBoot, OnlyTheFirstLineOfTheQueryCounts)
{
    server.set_mokutil("SecureBoot disabled\nSecureBoot enabled");
    server.set_mst(true);
    sim::Result r = run_current();
    EXPECT_TRUE(after_banner(r.out).starts_with("SecureBoot is disabled.\n")) << r.out;
    EXPECT_EQ(server.tool_calls(), Calls {k_mokutil_call});
}

TEST_F(SecureBoot, EnabledWithAllToolsStartsTheServiceAndGoesOn)
{
    server.set_mokutil("sEcUrEbOoT eNaBlEd");
    server.set_mst(true);
    server.set_installed_flint(true);
    sim::Result r = run_current();
    const std::string rest = after_banner(r.out);
    const size_t enabled = rest.find("SecureBoot is enabled.\n");
    ASSERT_NE(enabled, std::string::npos) << r.out;
    EXPECT_NE(rest.find("MST modules"), std::string::npos) << "mst status output reaches the console";
    EXPECT_LT(rest.find("Starting MST"), enabled) << "mst start output comes before the summary";
    EXPECT_EQ(rest.find("Usage:"), std::string::npos) << "flint --help output is discarded";
    EXPECT_EQ(rest.find("ERROR"), std::string::npos);
    EXPECT_EQ(server.tool_calls(), (Calls {k_mokutil_call, k_mst_status, k_mst_start, k_flint_probe}));
    EXPECT_TRUE(went_on());
}

TEST_F(SecureBoot, FailingServiceStatusesOtherThanNotFoundAreAccepted)
{
    server.set_mokutil("SecureBoot enabled");
    server.set_mst(true, 1, 2);
    server.set_installed_flint(true);
    sim::Result r = run_current();
    EXPECT_NE(after_banner(r.out).find("SecureBoot is enabled.\n"), std::string::npos) << r.out;
    EXPECT_EQ(server.tool_calls().size(), 4u);
    EXPECT_TRUE(went_on());
}

TEST_F(SecureBoot, EnabledWithoutServiceToolIsRefused)
{
    server.set_mokutil("SecureBoot enabled");
    server.set_installed_flint(true);
    sim::Result r = run_current();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(after_banner(r.out),
              "\nERROR: \"" + server.root() + "/usr/bin/mst status\" command not found.\n" + k_not_installed);
    EXPECT_EQ(server.tool_calls(), Calls {k_mokutil_call});
    EXPECT_FALSE(went_on());
}

TEST_F(SecureBoot, ServiceStatusNotFoundIsTheSameRefusal)
{
    server.set_mokutil("SecureBoot enabled");
    server.set_mst(true, 127);
    server.set_installed_flint(true);
    sim::Result r = run_current();
    EXPECT_EQ(r.status, 1);
    const std::string rest = after_banner(r.out);
    EXPECT_TRUE(rest.ends_with("\nERROR: \"" + server.root() + "/usr/bin/mst status\" command not found.\n" +
                               k_not_installed))
        << rest;
    EXPECT_EQ(server.tool_calls(), (Calls {k_mokutil_call, k_mst_status}));
    EXPECT_FALSE(went_on());
}

TEST_F(SecureBoot, EnabledWithoutFlashToolIsRefusedWithoutOwnError)
{
    server.set_mokutil("SecureBoot enabled");
    server.set_mst(true);
    sim::Result r = run_current();
    EXPECT_EQ(r.status, 1);
    const std::string rest = after_banner(r.out);
    EXPECT_TRUE(rest.ends_with("Create devices\n" + k_not_installed)) << rest;
    EXPECT_EQ(rest.find("ERROR"), std::string::npos);
    EXPECT_EQ(server.tool_calls(), (Calls {k_mokutil_call, k_mst_status, k_mst_start}));
    EXPECT_FALSE(went_on());
}

TEST_F(SecureBoot, ServiceThatCannotStartLeavesBootModeUnknown)
{
    server.set_mokutil("SecureBoot enabled");
    server.set_mst(true, 0, 127);
    server.set_installed_flint(true);
    sim::Result r = run_current();
    EXPECT_EQ(r.status, 1);
    const std::string rest = after_banner(r.out);
    EXPECT_TRUE(rest.ends_with("\nERROR: Unable to start mst service\nUnable to determine the boot mode\n")) << rest;
    EXPECT_EQ(server.tool_calls(), (Calls {k_mokutil_call, k_mst_status, k_mst_start}));
    EXPECT_FALSE(went_on());
}

TEST_F(SecureBoot, SilencingOptionsKeepOnlyTheCheckOwnErrors)
{
    server.set_mokutil("SecureBoot enabled");
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>> {{"-s"}, {"-d"}, {"-u", "report.xml"}}) {
        sim::Result r = server.run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(after_banner(r.out), "\nERROR: \"" + server.root() + "/usr/bin/mst status\" command not found.\n")
            << ::testing::PrintToString(args);
        EXPECT_FALSE(went_on());
    }
}

// rovan reads the real /usr/bin and sysfs whatever ROVAN_SYSROOT says. -cy is
// refused by the combination rules right after the check, so the test runs
// no mode on the host and leaves nothing behind there.
TEST_F(SecureBoot, ProductionBinaryIgnoresTheSimulatedRoot)
{
    server.set_mokutil("SecureBoot enabled");
    sim::Result simulated = server.run({"-cy"});
    EXPECT_NE(simulated.out.find(k_not_installed), std::string::npos) << "the server would refuse the run";
    server.clear_tool_calls();

    sim::Result r = server.run({"-cy"}, "", {}, ROVAN_PROD_BINARY);
    EXPECT_EQ(r.out.find(server.root()), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find(server.root()), std::string::npos) << r.err;
    EXPECT_TRUE(server.tool_calls().empty()) << "rovan ran a stand-in of the simulated root";
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(went_on());
}

} // namespace
