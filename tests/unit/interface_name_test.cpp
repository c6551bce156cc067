// The interface-name lookup in /sys/class/net.
#include <gtest/gtest.h>

#include "report/interface_name.h"
#include "support.h"

namespace fs = std::filesystem;
using Entries = std::vector<std::pair<std::string, std::string>>; // name and link target; no target: a file

// Each case is a /sys/class/net of its own (none at all when it has no entries) in which the interface of
// 0000:af:00.1 is looked up; several matching links, as a directory lists them in no set order.
TEST(InterfaceName, IsTheFirstEntryInNameOrderWhoseLinkHoldsTheAddress)
{
    const std::string pci = "../../devices/pci0000:00/0000:", other = "../../devices/virtual/net/";
    const auto mine = [&pci](const std::string &name) { return pci + "af:00.1/net/" + name; };
    for (const auto &[entries, name] : std::vector<std::pair<Entries, std::optional<std::string>>> {
             {{{"z", mine("z")}, {"x1", mine("x1")}, {"ib9", mine("ib9")}, {"ib5", mine("ib5")}, {"x0", mine("x0")}},
              "ib5"},
             {{{"a0", other + "lo"}, {"eth3", pci + "AF:00.1/net/eth3"}}, "eth3"},
             {{{"p0000:af:00.1", other + "renamed"}}, "renamed"},
             {{{"eth4", pci + "af:0001/net/eth4"}}, std::nullopt},
             {{{"0000:af:00.1-file", ""}, {".0000:af:00.1", mine("hidden")}, {"z", mine("z")}}, "z"},
             {{}, std::nullopt}}) {
        const support::scratch_dir root;
        const std::string net = root.path + "/sys/class/net/";
        if (!entries.empty())
            fs::create_directories(net);
        for (const auto &[entry, target] : entries)
            target.empty() ? void(std::ofstream(net + entry) << "x") : fs::create_symlink(target, net + entry);
        setenv("ROVAN_SYSROOT", root.path.c_str(), 1);
        EXPECT_EQ(find_interface_name("0000:af:00.1"), name) << (entries.empty() ? "none" : entries.back().first);
    }
}
