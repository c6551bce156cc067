// The packaged production binary, unpacked as an operator would, run over a
// simulated server laid over the real system paths in a private mount
// namespace. Skipped, with a message, where such a namespace is not permitted.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include "sim_server.h"

namespace fs = std::filesystem;

namespace {

const char *const k_namespace_script = R"(set -e
mount --bind "$E2E_ROOT/sys/bus/pci/devices" /sys/bus/pci/devices
mount --bind "$E2E_ROOT/sys/class/net" /sys/class/net
mount -t overlay overlay -o lowerdir="$E2E_ROOT/usr/bin:/usr/bin" /usr/bin
mount -t overlay overlay -o lowerdir="$E2E_ROOT/usr/share/misc:/usr/share/misc" /usr/share/misc
mount --bind "$E2E_ROOT/tmp" /tmp
mount --bind "$E2E_ROOT/run/lock" /run/lock
mount --bind "$E2E_ROOT/var/lib" /var/lib
unset ROVAN_SYSROOT
cd "$E2E_PKG"
exec ./rovan "$@"
)";

std::string shell_quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string command_output(const std::string &command)
{
    std::string out;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
            out.append(buf, n);
        pclose(pipe);
    }
    return out;
}

bool namespaces_permitted()
{
    return geteuid() == 0 && std::system("unshare -m --propagation private true >/dev/null 2>&1") == 0;
}

std::vector<std::string> burn_call(const std::string &address, const std::string &image)
{
    return {"mstflint", "-s", "-y", "-d", address, "-i", "./nic_fw/" + image, "b"};
}

bool is_burn(const std::vector<std::string> &call)
{
    return !call.empty() && std::find(call.begin(), call.end(), "b") != call.end() &&
           std::find(call.begin(), call.end(), "-i") != call.end();
}

std::vector<std::vector<std::string>> burns(const sim::SimServer &server)
{
    std::vector<std::vector<std::string>> out;
    for (const auto &call : server.tool_calls())
        if (is_burn(call))
            out.push_back(call);
    return out;
}

class PackagedRovan : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!namespaces_permitted())
            GTEST_SKIP() << "SKIPPED: needs root and a private mount namespace (unshare -m), "
                            "which this machine does not permit";
        sim::build_demo_server(server_);
        server_.set_mokutil("SecureBoot disabled");
        unpack_package();
    }

    // Builds the tarball into a scratch directory and unpacks it over the package directory.
    void unpack_package()
    {
        const fs::path scratch = fs::path(server_.root()).parent_path() / "cpack";
        fs::create_directories(scratch);
        const std::string cpack = std::string(ROVAN_CPACK) + " -G TGZ --config " + shell_quote(ROVAN_CPACK_CONFIG) +
                                  " -B " + shell_quote(scratch.string()) + " >/dev/null";
        ASSERT_EQ(std::system(cpack.c_str()), 0) << cpack;
        fs::path tarball;
        for (const auto &entry : fs::directory_iterator(scratch))
            if (entry.path().string().ends_with(".tar.gz"))
                tarball = entry.path();
        ASSERT_FALSE(tarball.empty());

        std::istringstream listing(command_output("tar tzf " + shell_quote(tarball.string()) + " | sort"));
        std::vector<std::string> names;
        for (std::string line; std::getline(listing, line);)
            names.push_back(line.substr(line.find('/') + 1));
        EXPECT_EQ(names, (std::vector<std::string>{"nic_fw/", "rovan", "rovan.8"}));

        const std::string untar = "tar xzf " + shell_quote(tarball.string()) + " --strip-components=1 -C " +
                                  shell_quote(server_.package_dir());
        ASSERT_EQ(std::system(untar.c_str()), 0);
    }

    sim::Result rovan(const std::vector<std::string> &args)
    {
        std::vector<std::string> argv = {"-m", "--propagation", "private", "/bin/sh", "-c", k_namespace_script, "sh"};
        argv.insert(argv.end(), args.begin(), args.end());
        return server_.run(argv, "", {{"E2E_ROOT", server_.root()}, {"E2E_PKG", server_.package_dir()}},
                           "/usr/bin/unshare");
    }

    // The namespace mounts a private /tmp, which would hide a server built in
    // a checkout under /tmp: the server, the package unpacked into it and the
    // scratch of its making live in /var/tmp, which no mount of the test reaches.
    struct scratch_dir {
        std::string path = made();
        ~scratch_dir() { std::error_code ec; fs::remove_all(path, ec); }
        static std::string made()
        {
            std::string name = "/var/tmp/rovan-e2e-XXXXXX";
            if (!mkdtemp(name.data()))
                throw std::runtime_error("cannot create a directory in /var/tmp");
            return name;
        }
    } scratch_;
    sim::SimServer server_ {scratch_.path + "/server"};
};

TEST_F(PackagedRovan, RunsEveryModeOverTheSimulatedServer)
{
    sim::Result shown = rovan({"-c"});
    ASSERT_EQ(shown.status, 0) << shown.out << shown.err;
    EXPECT_NE(shown.out.find("Interface 0000:03:00.0 is not Mellanox one.\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("Skipping interface 0000:07:00.0"), std::string::npos);
    EXPECT_NE(shown.out.find("SecureBoot is disabled.\n"), std::string::npos);
    const auto calls = server_.tool_calls();
    EXPECT_EQ(calls.front(), (std::vector<std::string>{"/usr/bin/mokutil", "--sb-state"}));
    EXPECT_NE(std::find(calls.begin(), calls.end(),
                        std::vector<std::string>{"./nic_fw/mstflint", "-d", "0000:05:00.0", "q"}),
              calls.end());
    EXPECT_TRUE(burns(server_).empty());
    EXPECT_FALSE(server_.tmp_files().empty()) << "the query-error file belongs in the private /tmp";

    sim::Result reported = rovan({"-d"});
    ASSERT_EQ(reported.status, 0) << reported.out << reported.err;
    std::string report = server_.read_package_file("nicdiscovery.xml");
    EXPECT_NE(report.find("<device_id value=\"eth0\"/>"), std::string::npos) << report;
    const std::string upgrade = "<action value=\"upgrade\"/>";
    const std::string rewrite = "<action value=\"rewrite\"/>";
    ASSERT_NE(report.find(upgrade), std::string::npos) << report;
    ASSERT_NE(report.find(rewrite), std::string::npos) << report;

    // The deployment manager leaves the second adapter alone.
    report.replace(report.find(rewrite), rewrite.size(), "<action value=\"Nothing\"/>");
    server_.write_package_file("nicdiscovery.xml", report);
    server_.clear_tool_calls();
    sim::Result updated = rovan({"-u", "nicdiscovery.xml"});
    EXPECT_EQ(updated.status, 0) << updated.out << updated.err << server_.log();
    EXPECT_EQ(burns(server_), (std::vector<std::vector<std::string>>{
                                  burn_call("0000:05:00.0", "fw-ConnectX5-16.35.2000.bin")}));
    EXPECT_EQ(server_.device_fw_version("0000:05:00.0"), "16.35.2000");
    EXPECT_EQ(server_.device_fw_version("0000:06:00.0"), "14.32.1010");

    // Everything is now at its newest image: a silent run has nothing to do.
    server_.clear_tool_calls();
    sim::Result silent = rovan({"-s"});
    EXPECT_EQ(silent.status, 1) << silent.out << silent.err << server_.log();
    EXPECT_TRUE(burns(server_).empty());

    // The run lock and the burn history lie in the simulated server.
    EXPECT_TRUE(fs::exists(server_.root() + "/run/lock/rovan.lock"));
    std::ifstream history(server_.root() + "/var/lib/rovan/history.jsonl");
    const std::string records((std::istreambuf_iterator<char>(history)), std::istreambuf_iterator<char>());
    EXPECT_NE(records.find("\"outcome\":\"success\""), std::string::npos) << records;

    // The namespace kept every mount to itself.
    EXPECT_FALSE(fs::exists("/sys/bus/pci/devices/0000:05:00.0"));
    EXPECT_FALSE(fs::exists("/usr/bin/mokutil") && fs::exists(fs::path(server_.root()) / "usr/bin/mokutil") &&
                 fs::equivalent("/usr/bin/mokutil", fs::path(server_.root()) / "usr/bin/mokutil"));
}

} // namespace
