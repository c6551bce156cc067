// Image-name resolution never hands a shell anything but a PCI address.
#include <gtest/gtest.h>

#include <string>

#include "fake_tools.h"
#include "flash/image_name.h"

// The address goes into a shell command line: one that is no PCI address
// runs nothing, whoever calls with it.
TEST(ModifyImagename, AnAddressThatIsNoPciAddressRunsNothing)
{
    const std::string marker = "image-name-test-ran-a-command";
    test_run run;
    for (const opt_text &address : {opt_text("0000:04:00.0;touch " + marker), opt_text()}) {
        nic_info nic;
        nic.pbus_info = address;
        nic.images = {catalog_image {{}, std::string("Tamaro"), {}}};
        EXPECT_TRUE(modify_imagename(run.ctx, nic, nullptr).failure);
        EXPECT_EQ(nic.images[0].file, "Tamaro");
    }
    EXPECT_TRUE(run.tools.calls.empty());
}
