// The table of fuzz targets and their checks.
#include "checks.h"

#include <array>

namespace {
constexpr std::array<fuzz_check, 5> k_checks = {{
    {"catalog", check_catalog},
    {"report", check_report},
    {"report_roundtrip", check_report_roundtrip},
    {"query", check_query},
    {"bus_address", check_bus_address},
}};
} // namespace

std::span<const fuzz_check> fuzz_checks()
{
    return k_checks;
}

const fuzz_check *find_fuzz_check(std::string_view name)
{
    for (const fuzz_check &check : k_checks) {
        if (name == check.name)
            return &check;
    }
    return nullptr;
}
