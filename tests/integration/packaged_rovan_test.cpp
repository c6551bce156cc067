// The packaged production binary, unpacked as an operator would, run over a simulated server in a mount namespace.
#include <gtest/gtest.h>

#include "support.h"

using namespace support;
namespace fs = std::filesystem;

// The simulated root (ROVAN_SYSROOT of a server's run) mounted over the system's paths, then rovan run without it.
const char *const k_namespace_script = R"(set -e
for dir in sys/bus/pci/devices sys/class/net tmp run var/lib; do mount --bind "$ROVAN_SYSROOT/$dir" "/$dir"; done
for dir in usr/bin usr/share/misc; do mount -t overlay overlay -o lowerdir="$ROVAN_SYSROOT/$dir:/$dir" "/$dir"; done
unset ROVAN_SYSROOT
exec ./rovan "$@"
)";

// The package built into a scratch directory, listed, and unpacked over the package directory (the working
// directory of a server's run).
const char *const k_unpack_script = R"(set -e
"$CPACK" -G TGZ --config "$CPACK_CONFIG" -B "$SCRATCH" >/dev/null
tar tzf "$SCRATCH"/*.tar.gz | cut -d/ -f2- | sort
tar xzf "$SCRATCH"/*.tar.gz --strip-components=1
)";

TEST(PackagedRovan, RunsEveryModeOverTheSimulatedServer)
{
    if (geteuid() != 0 || std::system("unshare -m --propagation private true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "SKIPPED: needs root and a private mount namespace (unshare -m), which this machine denies";
    // The namespace mounts a private /tmp, which would hide a server built in a checkout under /tmp: the server,
    // the package unpacked into it and the scratch of its making live in /var/tmp, which no mount reaches.
    const scratch_dir scratch("/var/tmp");
    sim::SimServer server(scratch.path + "/server");
    sim::build_demo_server(server);
    const sim::Result unpacked = server.run({"-c", k_unpack_script}, "", {{"CPACK", ROVAN_CPACK},
        {"CPACK_CONFIG", ROVAN_CPACK_CONFIG}, {"SCRATCH", scratch.path + "/cpack"}}, "/bin/sh");
    ASSERT_EQ(unpacked.status, 0) << unpacked.err;
    EXPECT_EQ(unpacked.out, "nic_fw/\nrovan\nrovan.8\n");
    const auto rovan = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-m", "--propagation", "private", "/bin/sh", "-c", k_namespace_script, "sh"});
        server.clear_tool_calls();
        return server.run(args, "", {}, "/usr/bin/unshare");
    };

    // A function whose query fails fills the query-error file, which then stays in the private /tmp.
    server.add_port({.address = "0000:08:00.0", .query_fails = true});
    ASSERT_EQ(rovan({"-d"}).status, 0);
    fs::remove_all(server.root() + "/sys/bus/pci/devices/0000:08:00.0");
    // (A sanitizer build may make its log directory there too.)
    EXPECT_EQ(std::ranges::count_if(server.tmp_files(), [](const auto &f) { return f.starts_with("data"); }), 1);
    const std::string report = server.read_package_file("nicdiscovery.xml");
    EXPECT_NE(report.find("<device_id value=\"eth0\"/>"), std::string::npos) << report;
    // The deployment manager leaves the second adapter alone.
    server.write_package_file("nicdiscovery.xml", std::regex_replace(report, std::regex("\"rewrite\""), "\"Nothing\""));
    EXPECT_EQ(rovan({"-u", "nicdiscovery.xml"}).status, 0) << server.log();
    EXPECT_EQ(commands(server), as_calls({"/usr/bin/mokutil --sb-state",
                                          "mstflint -s -y -d 0000:05:00.0 -i ./nic_fw/fw-ConnectX5-16.35.2000.bin b"}));

    // The run lock and the burn history lie in the simulated server.
    EXPECT_TRUE(fs::exists(server.root() + "/run/rovan.lock"));
    EXPECT_NE(read_text(server.root() + "/var/lib/rovan/history.jsonl").find("\"outcome\":\"success\""),
              std::string::npos);
    // The namespace kept every mount to itself.
    EXPECT_FALSE(fs::exists("/sys/bus/pci/devices/0000:05:00.0"));
}
