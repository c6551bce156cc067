// The properties each fuzz target checks, shared by the targets and the regression test, and their helpers.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// What went wrong, in words; nothing when every property held for the input.
using check_result = std::optional<std::string>;

check_result check_catalog(std::string_view input);
check_result check_report(std::string_view input);
check_result check_report_roundtrip(std::string_view input);
check_result check_query(std::string_view input);
check_result check_bus_address(std::string_view input);

struct fuzz_check {
    const char *name; // the target's name: fuzz/corpus/<name>, fuzz/regressions/<name>
    check_result (*run)(std::string_view input);
};
inline constexpr fuzz_check k_fuzz_checks[] = {
    {"catalog", check_catalog}, {"report", check_report}, {"report_roundtrip", check_report_roundtrip},
    {"query", check_query}, {"bus_address", check_bus_address}};

// A directory of this process's own, made on first use and removed at exit: the report check's package
// directory and the system root of rovan's fixed paths, so that no check reads the host's /sys.
const std::filesystem::path &scratch_dir();

// A byte string for a failure message, quoted, its control bytes escaped as the event log escapes them.
std::string printable(std::string_view text);
