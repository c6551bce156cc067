// The packaged production binary, unpacked as an operator would, run over a simulated server in a mount namespace.
#include <gtest/gtest.h>

#include "support.h"

using namespace support;
namespace fs = std::filesystem;

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

TEST(PackagedRovan, RunsEveryModeOverTheSimulatedServer)
{
    if (geteuid() != 0 || std::system("unshare -m --propagation private true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "SKIPPED: needs root and a private mount namespace (unshare -m), "
                        "which this machine does not permit";
    // The namespace mounts a private /tmp, which would hide a server built in a checkout under /tmp: the server,
    // the package unpacked into it and the scratch of its making live in /var/tmp, which no mount reaches.
    const scratch_dir scratch("/var/tmp");
    sim::SimServer server(scratch.path + "/server");
    sim::build_demo_server(server);
    const sim::Result unpacked = server.run({"-c", k_unpack_script}, "", {{"CPACK", ROVAN_CPACK},
        {"CPACK_CONFIG", ROVAN_CPACK_CONFIG}, {"SCRATCH", scratch.path + "/cpack"}}, "/bin/sh");
    ASSERT_EQ(unpacked.status, 0) << unpacked.err;
    EXPECT_EQ(unpacked.out, "nic_fw/\nrovan\nrovan.8\n");
    const auto rovan = [&](const std::vector<std::string> &args) {
        std::vector<std::string> argv = {"-m", "--propagation", "private", "/bin/sh", "-c", k_namespace_script, "sh"};
        argv.insert(argv.end(), args.begin(), args.end());
        server.clear_tool_calls();
        return server.run(argv, "", {{"E2E_ROOT", server.root()}, {"E2E_PKG", server.package_dir()}},
                          "/usr/bin/unshare");
    };
    const auto burns = [&] {
        Calls calls = commands(server);
        std::erase_if(calls, [](const auto &call) { return call.back() != "b"; });
        return calls;
    };

    // For this run only, a function whose query fails fills the query-error file, which then stays.
    server.add_port({.address = "0000:08:00.0", .query_fails = true});
    const sim::Result shown = rovan({"-c"});
    fs::remove_all(server.root() + "/sys/bus/pci/devices/0000:08:00.0");
    ASSERT_EQ(shown.status, 0) << shown.out << shown.err;
    EXPECT_NE(shown.out.find("Skipping interface 0000:07:00.0"), std::string::npos) << shown.out;
    const Calls calls = server.tool_calls();
    const Calls expected = as_calls({"/usr/bin/mokutil --sb-state", "./nic_fw/mstflint -d 0000:05:00.0 q"});
    EXPECT_EQ(calls.front(), expected[0]);
    EXPECT_EQ(std::ranges::count(calls, expected[1]), 1);
    EXPECT_EQ(burns(), Calls {});
    // (A sanitizer build may make its log directory there too.)
    EXPECT_EQ(std::ranges::count_if(server.tmp_files(), [](const auto &f) { return f.starts_with("data"); }), 1)
        << "the query-error file belongs in the private /tmp";

    ASSERT_EQ(rovan({"-d"}).status, 0);
    std::string report = server.read_package_file("nicdiscovery.xml");
    const std::string rewrite = "<action value=\"rewrite\"/>";
    for (const std::string &part : {std::string("<device_id value=\"eth0\"/>"), std::string("<action value=\"upgrade\"/>"),
                                    rewrite})
        ASSERT_NE(report.find(part), std::string::npos) << part << "\n" << report;
    // The deployment manager leaves the second adapter alone.
    server.write_package_file("nicdiscovery.xml", report.replace(report.find(rewrite), rewrite.size(),
                                                                 "<action value=\"Nothing\"/>"));
    const sim::Result updated = rovan({"-u", "nicdiscovery.xml"});
    EXPECT_EQ(updated.status, 0) << updated.out << updated.err << server.log();
    EXPECT_EQ(burns(), as_calls({"mstflint -s -y -d 0000:05:00.0 -i ./nic_fw/fw-ConnectX5-16.35.2000.bin b"}));
    EXPECT_EQ(server.device_fw_version("0000:05:00.0") + " " + server.device_fw_version("0000:06:00.0"),
              "16.35.2000 14.32.1010");

    // The run lock and the burn history lie in the simulated server.
    EXPECT_TRUE(fs::exists(server.root() + "/run/rovan.lock"));
    EXPECT_NE(read_text(server.root() + "/var/lib/rovan/history.jsonl").find("\"outcome\":\"success\""),
              std::string::npos);

    // The namespace kept every mount to itself.
    EXPECT_FALSE(fs::exists("/sys/bus/pci/devices/0000:05:00.0"));
    EXPECT_FALSE(fs::exists("/usr/bin/mokutil") && fs::exists(fs::path(server.root()) / "usr/bin/mokutil") &&
                 fs::equivalent("/usr/bin/mokutil", fs::path(server.root()) / "usr/bin/mokutil"));
}
