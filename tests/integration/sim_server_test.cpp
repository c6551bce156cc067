// The fake sysfs of the simulated server is complete enough for libpci.

#include <gtest/gtest.h>

#include <filesystem>

#include "sim_server.h"

TEST(SimServer, LspciReadsTheFakeTreeWithoutWarnings)
{
    if (!std::filesystem::exists("/usr/bin/lspci"))
        GTEST_SKIP() << "pciutils' lspci is not installed";
    sim::SimServer server;
    sim::build_demo_server(server);
    const sim::Result r = server.run({"-O", "sysfs.path=" + server.root() + "/sys/bus/pci", "-i",
                                      server.root() + "/usr/share/misc/pci.ids", "-nn"},
                                     "", {}, "/usr/bin/lspci");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("\n05:00.1 Ethernet controller [0200]: Mellanox Technologies MT27800 Family [ConnectX-5] "
                         "[15b3:1017]\n06:00.0 "), std::string::npos) << r.out;
}
