// The packaged production binary, unpacked as an operator would, run over a simulated server in a mount namespace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

#include "sim_server.h"

namespace fs = std::filesystem;
using Calls = std::vector<std::vector<std::string>>;

const char *const k_namespace_script = R"(set -e
mount --bind "$E2E_ROOT/sys/bus/pci/devices" /sys/bus/pci/devices
mount --bind "$E2E_ROOT/sys/class/net" /sys/class/net
mount -t overlay overlay -o lowerdir="$E2E_ROOT/usr/bin:/usr/bin" /usr/bin
mount -t overlay overlay -o lowerdir="$E2E_ROOT/usr/share/misc:/usr/share/misc" /usr/share/misc
mount --bind "$E2E_ROOT/tmp" /tmp
mount --bind "$E2E_ROOT/run" /run
mount --bind "$E2E_ROOT/var/lib" /var/lib
unset ROVAN_SYSROOT
cd "$E2E_PKG"
exec ./rovan "$@"
)";

// The package built into a scratch directory, listed, and unpacked over the package directory (the working
// directory of a server's run).
const char *const k_unpack_script = R"(set -e
"$CPACK" -G TGZ --config "$CPACK_CONFIG" -B "$SCRATCH" >/dev/null
tar tzf "$SCRATCH"/*.tar.gz | cut -d/ -f2- | sort
tar xzf "$SCRATCH"/*.tar.gz --strip-components=1
)";

class PackagedRovan : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0 || std::system("unshare -m --propagation private true >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "SKIPPED: needs root and a private mount namespace (unshare -m), "
                            "which this machine does not permit";
        sim::build_demo_server(server_);
        const sim::Result unpacked = server_.run({"-c", k_unpack_script}, "", {{"CPACK", ROVAN_CPACK},
            {"CPACK_CONFIG", ROVAN_CPACK_CONFIG}, {"SCRATCH", scratch_.path + "/cpack"}}, "/bin/sh");
        ASSERT_EQ(unpacked.status, 0) << unpacked.err;
        EXPECT_EQ(unpacked.out, "nic_fw/\nrovan\nrovan.8\n");
    }

    sim::Result rovan(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv = {"-m", "--propagation", "private", "/bin/sh", "-c", k_namespace_script, "sh"};
        argv.insert(argv.end(), args.begin(), args.end());
        return server_.run(argv, "", {{"E2E_ROOT", server_.root()}, {"E2E_PKG", server_.package_dir()}},
                           "/usr/bin/unshare");
    }

    // The burns the stand-in flash tool received since the last look.
    Calls burns()
    {
        Calls out;
        for (const auto &call : server_.tool_calls())
            if (call.back() == "b")
                out.push_back(call);
        server_.clear_tool_calls();
        return out;
    }

    // The namespace mounts a private /tmp, which would hide a server built in a checkout under /tmp: the server,
    // the package unpacked into it and the scratch of its making live in /var/tmp, which no mount reaches.
    struct scratch_dir {
        std::string path = "/var/tmp/rovan-e2e-XXXXXX";
        scratch_dir()
        {
            if (!mkdtemp(path.data()))
                throw std::runtime_error("cannot create a directory in /var/tmp");
        }
        ~scratch_dir() { std::error_code ec; fs::remove_all(path, ec); }
    } scratch_;
    sim::SimServer server_ {scratch_.path + "/server"};
};

TEST_F(PackagedRovan, RunsEveryModeOverTheSimulatedServer)
{
    // For this run only, a function whose query fails fills the query-error file, which then stays.
    server_.add_function({.address = "0000:08:00.0"});
    server_.add_flash_device({.address = "0000:08:00.0", .query_fails = true});
    const sim::Result shown = rovan({"-c"});
    fs::remove_all(server_.root() + "/sys/bus/pci/devices/0000:08:00.0");
    ASSERT_EQ(shown.status, 0) << shown.out << shown.err;
    for (const char *part : {"SecureBoot is disabled.\n", "Interface 0000:03:00.0 is not Mellanox one.\n",
                             "Skipping interface 0000:07:00.0"})
        EXPECT_NE(shown.out.find(part), std::string::npos) << part << "\n" << shown.out;
    const Calls calls = server_.tool_calls();
    EXPECT_EQ(calls.front(), (std::vector<std::string> {"/usr/bin/mokutil", "--sb-state"}));
    EXPECT_EQ(std::ranges::count(calls, std::vector<std::string> {"./nic_fw/mstflint", "-d", "0000:05:00.0", "q"}), 1);
    EXPECT_EQ(burns(), Calls {});
    EXPECT_EQ(server_.tmp_files().size(), 1u) << "the query-error file belongs in the private /tmp";

    ASSERT_EQ(rovan({"-d"}).status, 0);
    std::string report = server_.read_package_file("nicdiscovery.xml");
    const std::string rewrite = "<action value=\"rewrite\"/>";
    for (const std::string &part :
         std::vector<std::string> {"<device_id value=\"eth0\"/>", "<action value=\"upgrade\"/>", rewrite})
        ASSERT_NE(report.find(part), std::string::npos) << part << "\n" << report;
    // The deployment manager leaves the second adapter alone.
    report.replace(report.find(rewrite), rewrite.size(), "<action value=\"Nothing\"/>");
    server_.write_package_file("nicdiscovery.xml", report);
    burns();
    const sim::Result updated = rovan({"-u", "nicdiscovery.xml"});
    EXPECT_EQ(updated.status, 0) << updated.out << updated.err << server_.log();
    EXPECT_EQ(burns(), (Calls {{"mstflint", "-s", "-y", "-d", "0000:05:00.0", "-i",
                                "./nic_fw/fw-ConnectX5-16.35.2000.bin", "b"}}));
    EXPECT_EQ(server_.device_fw_version("0000:05:00.0") + " " + server_.device_fw_version("0000:06:00.0"),
              "16.35.2000 14.32.1010");

    // Everything is now at its newest image: a silent run has nothing to do.
    EXPECT_EQ(rovan({"-s"}).status, 1) << server_.log();
    EXPECT_EQ(burns(), Calls {});

    // The run lock and the burn history lie in the simulated server.
    EXPECT_TRUE(fs::exists(server_.root() + "/run/rovan.lock"));
    std::ifstream history(server_.root() + "/var/lib/rovan/history.jsonl");
    const std::string records((std::istreambuf_iterator<char>(history)), std::istreambuf_iterator<char>());
    EXPECT_NE(records.find("\"outcome\":\"success\""), std::string::npos) << records;

    // The namespace kept every mount to itself.
    EXPECT_FALSE(fs::exists("/sys/bus/pci/devices/0000:05:00.0"));
    EXPECT_FALSE(fs::exists("/usr/bin/mokutil") && fs::exists(fs::path(server_.root()) / "usr/bin/mokutil") &&
                 fs::equivalent("/usr/bin/mokutil", fs::path(server_.root()) / "usr/bin/mokutil"));
}
