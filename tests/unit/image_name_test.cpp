#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "flash/image_name.h"

// The address goes into a shell command line: one that is no PCI address
// runs nothing, whoever calls with it.
TEST(ModifyImagename, AnAddressThatIsNoPciAddressRunsNothing)
{
    const std::string marker = "image-name-test-ran-a-command";
    std::filesystem::remove(marker);
    for (const opt_text &address : {opt_text("0000:04:00.0;touch " + marker), opt_text()}) {
        nic_info nic;
        nic.pbus_info = address;
        nic.pxmlFwImage = {std::string("Tamaro")};
        EXPECT_NE(modify_imagename(nic, nullptr), 0);
        EXPECT_EQ(nic.pxmlFwImage[0], "Tamaro");
    }
    EXPECT_FALSE(std::filesystem::exists(marker));
}
