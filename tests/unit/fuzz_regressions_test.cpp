// The fuzz targets' checks over their seeds and over every input that once failed them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "checks/checks.h"

TEST(FuzzRegressions, SeedsAndInputsThatOnceFailedPassTheirTargetsChecks)
{
    size_t inputs = 0;
    for (const char *kind : {"regressions", "corpus"}) {
        for (const fuzz_check &check : k_fuzz_checks) {
            const std::filesystem::path dir = std::filesystem::path(ROVAN_FUZZ_DIR) / kind / check.name;
            if (!std::filesystem::is_directory(dir))
                continue;
            for (const auto &entry : std::filesystem::directory_iterator(dir)) {
                std::ifstream in(entry.path(), std::ios::binary);
                EXPECT_EQ(check.run(std::string(std::istreambuf_iterator<char>(in), {})), std::nullopt) << entry.path();
                ++inputs;
            }
        }
    }
    EXPECT_GT(inputs, 0u) << "no input found under " << ROVAN_FUZZ_DIR;
}
