// The properties each fuzz target checks, shared by the targets and the regression test.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

// What went wrong, in words; nothing when every property held for the input.
using check_result = std::optional<std::string>;

struct fuzz_check {
    const char *name; // the target's name: fuzz/corpus/<name>, fuzz/regressions/<name>
    check_result (*run)(std::string_view input);
};

// Every target, by name.
std::span<const fuzz_check> fuzz_checks();
const fuzz_check *find_fuzz_check(std::string_view name);

check_result check_catalog(std::string_view input);
check_result check_report(std::string_view input);
check_result check_report_roundtrip(std::string_view input);
check_result check_query(std::string_view input);
check_result check_bus_address(std::string_view input);
