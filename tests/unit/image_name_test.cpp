// Image-name resolution: getmlnxinfo's answer read, and never a shell handed anything but a PCI address.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fake_tools.h"
#include "flash/image_name.h"

// The answer's first line, cut at its first blank after a token: "0" says no image, else its first two "#"
// fields name the server and the image, the image name trimmed. The answer file never stays behind. An address
// that is no PCI address runs nothing: it would go into a shell command line.
TEST(ModifyImagename, TakesServerAndImageFromTheAnswersFirstLine)
{
    struct row {
        std::string answer;
        int status;
        std::string server;
        opt_text file;
        opt_text address = "0000:05:00.0";
    };
    for (const row &r : std::vector<row> {
             {"srv#fw-resolved.bin more text\n", 0, "srv", "fw-resolved.bin"},
             {"a#b#c\nsecond line#x\n", 0, "a", "b"},
             {"server#image.bin\n", 0, "server", "image.bin"},
             {"srv#\tname\t\r\n", 0, "srv", "\tname"},
             {"srv#\t\n", 0, "srv", std::nullopt},
             {"   #x y\n", 0, "   ", "x"},
             {"server\n", 0, "server\n", std::nullopt},
             {"server$", 0, "server$", std::nullopt}, // no line end, and none added
             {"", 0, "unset", std::nullopt},
             {"0#srv#image\n", 1, "unset", "Tamaro"},
             {"srv#image\n", 2, "unset", "Tamaro", "0000:04:00.0;touch image-name-test-ran-a-command"},
             {"srv#image\n", 2, "unset", "Tamaro", std::nullopt}}) {
        test_run run;
        std::string answer_file;
        run.tools.on_shell = [&](const std::string &command) {
            answer_file = command.substr(command.rfind("> ") + 2);
            std::ofstream(answer_file, std::ios::binary) << r.answer;
            return 0;
        };
        nic_info nic;
        nic.pbus_info = r.address;
        nic.images = {catalog_image {{}, std::string("Tamaro"), {}}};
        std::string server = "unset";
        EXPECT_EQ(modify_imagename(run.ctx, nic, &server), r.status) << r.answer;
        EXPECT_EQ(server, r.server) << r.answer;
        EXPECT_EQ(nic.images[0].file, r.file) << r.answer;
        EXPECT_EQ(answer_file.empty(), r.status == 2) << r.answer;
        EXPECT_FALSE(std::filesystem::exists(answer_file)) << r.answer;
    }
}
