#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "flash/image_name.h"
#include "globals.h"

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path &path, const std::string &text)
{
    std::ofstream(path) << text;
}

// A scratch working directory with a ./getmlnxinfo that writes answer.txt,
// records its arguments and ends with the status in status.txt; the event
// log goes to log.txt.
class ImageNameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string tmpl = (fs::temp_directory_path() / "image-name-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        old_dir_ = fs::current_path();
        fs::current_path(dir_);
        write_file("getmlnxinfo", "#!/bin/sh\n"
                                  "printf '%s\\n' \"$@\" > args.txt\n"
                                  "cat answer.txt\n"
                                  "exit $(cat status.txt)\n");
        fs::permissions("getmlnxinfo", fs::perms::owner_all);
        answer("");
        write_file("status.txt", "0\n");
        log_ = std::fopen("log.txt", "w");
        pmstflint_fout = log_;
    }
    void TearDown() override
    {
        pmstflint_fout = nullptr;
        std::fclose(log_);
        fs::current_path(old_dir_);
        fs::remove_all(dir_);
    }

    static void answer(const std::string &text) { write_file("answer.txt", text); }
    static void exit_status(int status) { write_file("status.txt", std::to_string(status) + "\n"); }
    std::string log() const
    {
        std::fflush(log_);
        return read_file(dir_ / "log.txt");
    }
    // Files other than those the fixture made.
    std::vector<std::string> left_over() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (name != "getmlnxinfo" && name != "answer.txt" && name != "status.txt" && name != "log.txt" &&
                name != "args.txt")
                names.push_back(name);
        }
        return names;
    }

    static nic_info port(const std::string &bus)
    {
        nic_info nic;
        nic.pbus_info = bus;
        nic.pxmlFwImage = {std::string("Tamaro")};
        return nic;
    }

    fs::path dir_;
    fs::path old_dir_;
    FILE *log_ = nullptr;
};

} // namespace

TEST_F(ImageNameTest, TheServerNameIsTheFirstField)
{
    answer("server-7#fw.bin more text\n");
    nic_info nic = port("0000:04:00.0");
    std::string server;
    ASSERT_EQ(modify_imagename(nic, &server), 0);
    EXPECT_EQ(server, "server-7");
    EXPECT_EQ(nic.pxmlFwImage[0], "fw.bin");
}

TEST_F(ImageNameTest, TrailingWhiteSpaceIsNotPartOfTheName)
{
    answer("srv#fw.bin\t\r\n");
    nic_info nic = port("0000:04:00.0");
    ASSERT_EQ(modify_imagename(nic, nullptr), 0);
    EXPECT_EQ(nic.pxmlFwImage[0], "fw.bin");
}

// Fields are taken as strtok takes them: empty ones are skipped.
TEST_F(ImageNameTest, RepeatedAndLeadingHashesAreSkipped)
{
    answer("##srv##fw.bin#rest\n");
    nic_info nic = port("0000:04:00.0");
    std::string server;
    ASSERT_EQ(modify_imagename(nic, &server), 0);
    EXPECT_EQ(server, "srv");
    EXPECT_EQ(nic.pxmlFwImage[0], "fw.bin");
}

TEST_F(ImageNameTest, WithoutAHashTheNameBecomesAbsent)
{
    answer("fw.bin\n");
    nic_info nic = port("0000:04:00.0");
    std::string server;
    EXPECT_EQ(modify_imagename(nic, &server), 0);
    EXPECT_FALSE(nic.pxmlFwImage[0]);
    EXPECT_EQ(server, "fw.bin\n");
}

TEST_F(ImageNameTest, AnEmptyAnswerOrABlankNameNamesNothing)
{
    nic_info nic = port("0000:04:00.0");
    EXPECT_EQ(modify_imagename(nic, nullptr), 0);
    EXPECT_FALSE(nic.pxmlFwImage[0]);

    answer("srv#\n");
    nic = port("0000:04:00.0");
    EXPECT_EQ(modify_imagename(nic, nullptr), 0);
    EXPECT_FALSE(nic.pxmlFwImage[0]);
}

TEST_F(ImageNameTest, AFailingCommandGivesItsStatusAndIsLogged)
{
    answer("srv#fw.bin\n");
    exit_status(3);
    nic_info nic = port("0000:04:00.0");
    EXPECT_EQ(modify_imagename(nic, nullptr), 3);
    EXPECT_EQ(nic.pxmlFwImage[0], "Tamaro");
    const std::string text = log();
    EXPECT_NE(text.find("[ERROR]     ["), std::string::npos) << text;
    EXPECT_NE(text.find("] command failed: ./getmlnxinfo imgfile 0000:04:00.0 > data"), std::string::npos) << text;
    EXPECT_TRUE(left_over().empty());
}

TEST_F(ImageNameTest, AnAddressThatIsNoPciAddressRunsNothing)
{
    answer("srv#fw.bin\n");
    nic_info nic = port("0000:04:00.0;touch pwned");
    EXPECT_NE(modify_imagename(nic, nullptr), 0);
    EXPECT_FALSE(fs::exists(dir_ / "args.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "pwned"));
    EXPECT_EQ(nic.pxmlFwImage[0], "Tamaro");

    nic.pbus_info.reset();
    EXPECT_NE(modify_imagename(nic, nullptr), 0);
    EXPECT_FALSE(fs::exists(dir_ / "args.txt"));
}

TEST_F(ImageNameTest, GetMlnxInfoKeepsTheFirstLineUpToItsFirstToken)
{
    write_file("out.txt", "  first token second\nline two\n");
    std::string data = "old";
    EXPECT_EQ(get_mlnx_info("true", data, "out.txt", " "), 0);
    EXPECT_EQ(data, "  first");
}

TEST_F(ImageNameTest, GetMlnxInfoKeepsTheLineEndOfASingleToken)
{
    write_file("out.txt", "token\nmore\n");
    std::string data;
    EXPECT_EQ(get_mlnx_info("true", data, "out.txt", " "), 0);
    EXPECT_EQ(data, "token\n");

    write_file("out.txt", "last");
    EXPECT_EQ(get_mlnx_info("true", data, "out.txt", " "), 0);
    EXPECT_EQ(data, "last");
}

TEST_F(ImageNameTest, GetMlnxInfoOnAnEmptyFileGivesEmptyText)
{
    write_file("out.txt", "");
    std::string data = "old";
    EXPECT_EQ(get_mlnx_info("true", data, "out.txt", " "), 0);
    EXPECT_EQ(data, "");
}

TEST_F(ImageNameTest, GetMlnxInfoReportsAMissingFile)
{
    std::string data = "old";
    EXPECT_EQ(get_mlnx_info("true", data, "missing.txt", " "), 2);
    EXPECT_EQ(data, "");
    EXPECT_NE(log().find("] unable to open file missing.txt\n"), std::string::npos) << log();
}

TEST_F(ImageNameTest, GetMlnxInfoReturnsTheCommandsStatus)
{
    std::string data;
    EXPECT_EQ(get_mlnx_info("exit 5", data, "out.txt", " "), 5);
    EXPECT_NE(log().find("] command failed: exit 5\n"), std::string::npos) << log();
}
