// Version texts: a version reads back from its text, and the order is a strict weak order of the numbers.
#include <algorithm>
#include <tuple>

#include "checks.h"
#include "core/versions.h"
#include "support.h"

namespace {

// The order of the numbers themselves, major first, written apart from the program's.
bool numerically_below(const fw_version &a, const fw_version &b)
{
    return std::tie(a.major, a.minor, a.release) < std::tie(b.major, b.minor, b.release);
}

std::string shown(const fw_version &v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.release);
}

check_result check_round_trip(const std::string &text, const fw_version &v)
{
    const std::string printed = version_text(v);
    if (parseversions(printed) != v)
        return "the version " + shown(v) + " of " + printable(text) + " prints as " + printable(printed) +
               ", which reads back as " + shown(parseversions(printed));
    return std::nullopt;
}

// Irreflexive, agreeing with the numbers, transitive, and with transitive incomparability.
check_result check_order(const std::vector<fw_version> &vs)
{
    const auto equivalent = [](const fw_version &a, const fw_version &b) { return !(a < b) && !(b < a); };
    for (const fw_version &a : vs) {
        if (a < a)
            return shown(a) + " is below itself";
        for (const fw_version &b : vs) {
            if ((a < b) != numerically_below(a, b))
                return shown(a) + " < " + shown(b) + " answers " + ((a < b) ? "true" : "false") +
                       " against the numbers";
            for (const fw_version &c : vs) {
                if (a < b && b < c && !(a < c))
                    return "not transitive: " + shown(a) + " < " + shown(b) + " < " + shown(c);
                if (equivalent(a, b) && equivalent(b, c) && !equivalent(a, c))
                    return "incomparability not transitive over " + shown(a) + ", " + shown(b) + ", " + shown(c);
            }
        }
    }
    return std::nullopt;
}

// sort_fw orders the rows by their keys, keeps each key with its row and, among equal keys, the original order.
check_result check_sort(const std::vector<fw_version> &vs)
{
    std::vector<std::string> rows;
    for (size_t i = 0; i < vs.size(); ++i)
        rows.push_back(std::to_string(i));
    std::vector<fw_version> keys = vs;
    sort_fw(rows, keys);
    for (size_t i = 0; i < rows.size(); ++i) {
        const size_t original = std::stoul(rows[i]);
        if (keys[i] != vs[original])
            return "sort_fw parted row " + rows[i] + " from its key";
        if (i > 0) {
            const size_t before = std::stoul(rows[i - 1]);
            if (keys[i] < keys[i - 1] || (!(keys[i - 1] < keys[i]) && before > original))
                return "sort_fw left rows " + rows[i - 1] + " and " + rows[i] + " out of order";
        }
    }
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> all;
    for (size_t i = 0; i < vs.size(); ++i)
        all.push_back(std::to_string(i));
    std::sort(all.begin(), all.end());
    if (rows != all)
        return "sort_fw lost or doubled a row";

    // A port's listing ends with its highest version: the one burned and reported.
    nic_info nic;
    for (const fw_version &v : vs)
        nic.images.push_back({v, {}, {}});
    const std::vector<std::string> listed = sorted_image_versions(nic);
    if (!vs.empty() && parseversions(listed.back()) != *std::max_element(vs.begin(), vs.end(), numerically_below))
        return "the listing ends with " + listed.back() + ", not the highest version";
    return std::nullopt;
}

// Versions of any numbers, from the input's bytes twelve at a time, so that
// reading back is checked also for numbers no text above reads as.
std::vector<fw_version> versions_of_bytes(std::string_view input)
{
    std::vector<fw_version> vs;
    const auto number = [&](size_t at) {
        uint32_t value = 0;
        for (size_t i = at; i < at + 4; ++i)
            value = value << 8 | static_cast<unsigned char>(input[i]);
        return value;
    };
    for (size_t at = 0; at + 12 <= input.size() && vs.size() < 4; at += 12)
        vs.push_back({number(at), number(at + 4), number(at + 8)});
    return vs;
}

} // namespace

// The input is a list of version texts, one a line.
check_result check_versions(std::string_view input)
{
    constexpr size_t k_max_texts = 12; // the order checks every triple
    std::vector<std::string> texts = split_at(input, '\n');
    if (texts.size() > k_max_texts)
        texts.resize(k_max_texts);
    std::vector<fw_version> vs;
    for (const std::string &text : texts) {
        vs.push_back(parseversions(text));
        if (check_result failed = check_round_trip(text, vs.back()))
            return failed;
    }
    for (const fw_version &v : versions_of_bytes(input)) {
        if (check_result failed = check_round_trip("(bytes)", v))
            return failed;
    }
    if (check_result failed = check_order(vs))
        return failed;
    return check_sort(vs);
}
