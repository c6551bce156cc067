// Version texts: atoi-like fields printed signed, and the numeric order.
#include <gtest/gtest.h>

#include "core/versions.h"

namespace {
fw_version v(uint32_t major, uint32_t minor, uint32_t release) { return {major, minor, release}; }
} // namespace

// Each field read as atoi reads it, nothing past the third; printed as "%d" prints it, a field above 2^31-1 with its
// sign, the text still reading back to the same numbers.
TEST(Versions, ReadAsAtoiDoesAndPrintedSigned)
{
    for (const auto &[text, expected] : std::vector<std::pair<std::string, fw_version>> {
             {"16.35.2000\n", v(16, 35, 2000)}, {"3.1", v(3, 1, 0)}, {"n/a", v(0, 0, 0)}, {"1.2.3.4", v(1, 2, 3)},
             {" 2.42.5000", v(2, 42, 5000)}, {"x2.4b.1c", v(0, 4, 1)}, {"1234.56789.1234567", v(1234, 56789, 1234567)},
             {"4294967295.0.0", v(4294967295u, 0, 0)}, {"99999999999.1.2", v(4294967295u, 1, 2)},
             {"-1.+2.-99999999999", v(4294967295u, 2, 2147483648u)}, {std::string("1.2\0.3", 6), v(1, 2, 0)},
             {"...", v(0, 0, 0)}})
        EXPECT_EQ(parseversions(text), expected) << text;
    for (const auto &[version, text] : std::vector<std::pair<fw_version, std::string>> {
             {v(16, 35, 2000), "16.35.2000"}, {v(2147483647, 4294967295u, 2147483648u), "2147483647.-1.-2147483648"}}) {
        EXPECT_EQ(version_text(version), text);
        EXPECT_EQ(parseversions(text), version) << text;
    }
}

// Major, then minor, then release, as unsigned numbers (a port's images sorted so: ShowCurrent's whole runs).
TEST(Versions, OrderedAsUnsignedNumbers)
{
    for (const auto &[lo, hi] : std::vector<std::pair<fw_version, fw_version>> {
             {v(2, 9, 1000), v(2, 10, 500)}, {v(2, 42, 5000), v(16, 35, 2000)}, {v(2, 42, 5000), v(2, 42, 5100)},
             {v(1, 23, 4), v(12, 3, 4)}, {v(2147483647, 0, 0), v(2147483648u, 0, 0)}}) {
        EXPECT_LT(lo, hi) << version_text(lo);
        EXPECT_FALSE(hi < lo) << version_text(lo);
    }
}
