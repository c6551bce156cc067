#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "report/interface_name.h"

namespace fs = std::filesystem;

namespace {

// A /sys/class/net of our own under a private ROVAN_SYSROOT.
class InterfaceName : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "ifname-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
        net_ = root_ / "sys/class/net";
        fs::create_directories(net_);
        setenv("ROVAN_SYSROOT", root_.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("ROVAN_SYSROOT");
        fs::remove_all(root_);
    }
    void link(const std::string &name, const std::string &target) { fs::create_symlink(target, net_ / name); }

    fs::path root_;
    fs::path net_;
};

} // namespace

TEST_F(InterfaceName, IsTheLastComponentOfTheMatchingLink)
{
    link("eth2", "../../devices/pci0000:00/0000:05:00.0/net/eth2");
    link("lo", "../../devices/virtual/net/lo");
    EXPECT_EQ(find_interface_name("0000:05:00.0"), "eth2");
}

TEST_F(InterfaceName, FirstMatchInNameOrderWins)
{
    link("ib1", "../../devices/pci0000:00/0000:05:00.0/net/second");
    link("ib0", "../../devices/pci0000:00/0000:05:00.0/net/first");
    EXPECT_EQ(find_interface_name("0000:05:00.0"), "first");
}

TEST_F(InterfaceName, AddressMatchesWithoutRegardToCase)
{
    link("eth3", "../../devices/pci0000:00/0000:AF:00.1/net/eth3");
    EXPECT_EQ(find_interface_name("0000:af:00.1"), "eth3");
}

TEST_F(InterfaceName, AddressInTheEntryNameAlsoMatches)
{
    link("p0000:06:00.0", "../../devices/virtual/net/renamed");
    EXPECT_EQ(find_interface_name("0000:06:00.0"), "renamed");
}

TEST_F(InterfaceName, AddressDotIsTakenLiterally)
{
    link("eth4", "../../devices/pci0000:00/0000:05:0010/net/eth4");
    EXPECT_EQ(find_interface_name("0000:05:00.0"), std::nullopt);
}

TEST_F(InterfaceName, EntriesThatAreNotLinksOrAreHiddenAreSkipped)
{
    std::ofstream(net_ / "0000:05:00.0-file") << "x";
    link(".0000:05:00.0", "../../devices/pci0000:00/0000:05:00.0/net/hidden");
    link("z0", "../../devices/pci0000:00/0000:05:00.0/net/z0");
    EXPECT_EQ(find_interface_name("0000:05:00.0"), "z0");
}

TEST_F(InterfaceName, NothingWhenNoLinkMatches)
{
    link("eth0", "../../devices/pci0000:00/0000:04:00.0/net/eth0");
    EXPECT_EQ(find_interface_name("0000:05:00.0"), std::nullopt);
}

TEST_F(InterfaceName, NothingWhenTheDirectoryIsMissing)
{
    fs::remove_all(net_);
    EXPECT_EQ(find_interface_name("0000:05:00.0"), std::nullopt);
}
