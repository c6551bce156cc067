// The interface-name lookup in /sys/class/net.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "report/interface_name.h"

namespace fs = std::filesystem;

// Each case is a /sys/class/net of its own (none at all when it has no entries) in which the interface of
// 0000:af:00.1 is looked up; an entry with an empty target is a plain file.
TEST(InterfaceName, IsTheFirstEntryInNameOrderWhoseLinkHoldsTheAddress)
{
    struct lookup {
        std::vector<std::pair<std::string, std::string>> entries;
        std::optional<std::string> name;
    };
    const std::string pci = "../../devices/pci0000:00/";
    const std::vector<lookup> cases = {
        {{{"eth2", pci + "0000:af:00.1/net/eth2"}, {"lo", "../../devices/virtual/net/lo"}}, "eth2"},
        {{{"ib1", pci + "0000:af:00.1/net/second"}, {"ib0", pci + "0000:af:00.1/net/first"}}, "first"},
        {{{"eth3", pci + "0000:AF:00.1/net/eth3"}}, "eth3"},
        {{{"p0000:af:00.1", "../../devices/virtual/net/renamed"}}, "renamed"},
        {{{"eth4", pci + "0000:af:0001/net/eth4"}}, std::nullopt},
        {{{"0000:af:00.1-file", ""}, {".0000:af:00.1", pci + "0000:af:00.1/net/hidden"},
          {"z0", pci + "0000:af:00.1/net/z0"}}, "z0"},
        {{}, std::nullopt},
    };
    for (const lookup &c : cases) {
        SCOPED_TRACE(c.entries.empty() ? "no directory" : c.entries.back().first);
        std::string root = (fs::temp_directory_path() / "ifname-XXXXXX").string();
        ASSERT_NE(mkdtemp(root.data()), nullptr);
        const fs::path net = fs::path(root) / "sys/class/net";
        for (const auto &[name, target] : c.entries) {
            fs::create_directories(net);
            if (target.empty())
                std::ofstream(net / name) << "x";
            else
                fs::create_symlink(target, net / name);
        }
        setenv("ROVAN_SYSROOT", root.c_str(), 1);
        EXPECT_EQ(find_interface_name("0000:af:00.1"), c.name);
        unsetenv("ROVAN_SYSROOT");
        fs::remove_all(root);
    }
}
