// Image-name resolution: getmlnxinfo's answer read, and never a command line handed anything but a PCI address.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fake_tools.h"
#include "flash/image_name.h"

// The address goes into a command line: one that is no PCI address runs nothing, whoever calls with it.
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

// The answer's first line, cut at its first blank after a token: "0" says no image, else its first two "#"
// fields name the server and the image, the image name trimmed. The answer file never stays behind.
TEST(ModifyImagename, TakesServerAndImageFromTheAnswersFirstLine)
{
    struct row {
        std::string answer;
        int status;
        std::string server;
        opt_text file;
    };
    for (const row &r : std::vector<row> {
             {"srv#fw-resolved.bin more text\n", 0, "srv", "fw-resolved.bin"},
             {"a#b#c\nsecond line#x\n", 0, "a", "b"},
             {"srv#\tname\t\r\n", 0, "srv", "\tname"},
             {"srv#\t\n", 0, "srv", std::nullopt},
             {"   #x y\n", 0, "   ", "x"},
             {"server\n", 0, "server\n", std::nullopt},
             {"server$", 0, "server$", std::nullopt}, // no line end, and none added
             {"", 0, "unset", std::nullopt},
             {"0#srv#image\n", 1, "unset", "Tamaro"}}) {
        test_run run;
        run.tools.on_run = [&](const std::vector<std::string> &) { return fake_program {.out = r.answer}; };
        nic_info nic;
        nic.pbus_info = "0000:05:00.0";
        nic.images = {catalog_image {{}, std::string("Tamaro"), {}}};
        std::string server = "unset";
        EXPECT_EQ(modify_imagename(run.ctx, nic, &server).failure.has_value(), r.status != 0) << r.answer;
        EXPECT_EQ(server, r.server) << r.answer;
        EXPECT_EQ(nic.images[0].file, r.file) << r.answer;
        const std::string &call = run.tools.calls.at(0);
        const std::string answer_file = call.substr(call.rfind("> ") + 2);
        EXPECT_FALSE(answer_file.empty() || std::filesystem::exists(answer_file)) << r.answer;
    }
}
