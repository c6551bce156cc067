// What the checks share: the scratch directory with its catalog, the adapters looked up, text helpers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The catalog the report check's update reads: the demo's boards, a code-named
// image and an entry without a file.
extern const char *const k_scratch_catalog;

// A board of that catalog, as an adapter reports it.
struct known_adapter {
    int32_t ven, dev, sub_ven, sub_dev;
    const char *psid;
};
extern const std::vector<known_adapter> k_known_adapters;

// A directory of this process's own, made on first use and removed at exit:
// the package directory of the checks that run a mode (nic_fw/NICFWData.xml,
// mstflint.log going to /dev/null, getmlnxinfo's answer), and the system root
// of rovan's fixed paths, so that no check reads the host's /sys.
const std::filesystem::path &scratch_dir();

// Working in the scratch directory for as long as it lives, as rovan works in
// its package directory; the fuzzer's own relative paths need the old one back.
class in_scratch_dir {
public:
    in_scratch_dir();
    ~in_scratch_dir();
    in_scratch_dir(const in_scratch_dir &) = delete;
    in_scratch_dir &operator=(const in_scratch_dir &) = delete;

private:
    int previous_;
};

// Lines as the query reads them from a pipe: split after each line end, ends kept.
std::vector<std::string> split_lines(std::string_view text);

// Fields split at every separator, empty ones kept.
std::vector<std::string> split_at(std::string_view text, char separator);

// Whether needle occurs in haystack with ASCII letters compared without case;
// written apart from the program's own search, to check it.
bool has_nocase(std::string_view haystack, std::string_view needle);

// The text with every byte that XML 1.0 cannot carry (a control character,
// a byte of no valid UTF-8 sequence, a code point XML excludes) replaced by "?".
std::string xml_carriable(std::string_view text);

// Prints a byte string for a failure message, unprintable bytes escaped.
std::string printable(std::string_view text);
