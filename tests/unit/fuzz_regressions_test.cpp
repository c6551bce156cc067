// The fuzz targets' checks over their seeds and over every input that once failed them.
#include <gtest/gtest.h>

#include "checks/checks.h"
#include "support.h"

TEST(FuzzRegressions, SeedsAndInputsThatOnceFailedPassTheirTargetsChecks)
{
    size_t inputs = 0;
    std::error_code none; // a target without such inputs
    for (const char *kind : {"regressions", "corpus"})
        for (const fuzz_check &check : k_fuzz_checks)
            for (const auto &entry :
                 std::filesystem::directory_iterator(std::filesystem::path(ROVAN_FUZZ_DIR) / kind / check.name, none)) {
                EXPECT_EQ(check.run(support::read_text(entry.path())), std::nullopt) << entry.path();
                ++inputs;
            }
    EXPECT_GT(inputs, 0u) << "no input found under " << ROVAN_FUZZ_DIR;
}
