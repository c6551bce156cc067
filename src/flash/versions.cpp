#include "flash/versions.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <numeric>

#include "globals.h"

namespace {

// atoi's reading of one field (leading white space, optional sign, digits),
// without its overflow: magnitudes above 2^32-1 are held there, and a
// negative number wraps into the unsigned field as the store of atoi's
// result always did.
uint32_t field_number(const std::string &field)
{
    size_t i = 0;
    while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i])))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
        negative = field[i] == '-';
        ++i;
    }
    uint64_t value = 0;
    for (; i < field.size() && std::isdigit(static_cast<unsigned char>(field[i])); ++i) {
        value = value * 10 + static_cast<uint64_t>(field[i] - '0');
        if (value > UINT32_MAX)
            value = UINT32_MAX;
    }
    if (negative)
        return static_cast<uint32_t>(0u - static_cast<uint32_t>(std::min<uint64_t>(value, 0x80000000u)));
    return static_cast<uint32_t>(value);
}

// Values up to 2^31-1 read as "%d" writes them; larger ones as unsigned
// decimal, so that the text reads back to the same number.
std::string field_text(uint32_t value)
{
    return std::to_string(value);
}

} // namespace

int parseversions(const std::string &version, uint32_t *major, uint32_t *minor, uint32_t *release)
{
    std::string fields[3];
    size_t counter = 0;
    for (char c : version) {
        if (c == '\0')
            break;
        if (c == '.') {
            ++counter;
            continue;
        }
        if (counter < 3)
            fields[counter].push_back(c);
    }
    *major = field_number(fields[0]);
    *minor = field_number(fields[1]);
    *release = field_number(fields[2]);
    return 0;
}

fw_key fw_sort_key(uint32_t major, uint32_t minor, uint32_t release)
{
    return fw_key{major, minor, release};
}

void sort_fw(int uIdx, std::vector<std::string> &version_rows, std::vector<fw_key> &fw_sorted)
{
    if (uIdx < 0 || static_cast<size_t>(uIdx) >= g_ninfo.size())
        return;
    size_t n = static_cast<size_t>(std::max(0, g_ninfo[static_cast<size_t>(uIdx)].fw_count));
    n = std::min({n, version_rows.size(), fw_sorted.size()});

    // Stable, so that of equal versions the first in catalog order stays first.
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return fw_sorted[a] < fw_sorted[b]; });

    std::vector<std::string> sorted_rows;
    std::vector<fw_key> keys;
    sorted_rows.reserve(n);
    keys.reserve(n);
    for (size_t i : order) {
        sorted_rows.push_back(std::move(version_rows[i]));
        keys.push_back(fw_sorted[i]);
    }
    for (size_t i = 0; i < n; ++i) {
        version_rows[i] = std::move(sorted_rows[i]);
        fw_sorted[i] = keys[i];
    }
}

std::vector<std::string> sorted_image_versions(int uIdx)
{
    if (uIdx < 0 || static_cast<size_t>(uIdx) >= g_ninfo.size())
        return {};
    const nic_info &nic = g_ninfo[static_cast<size_t>(uIdx)];
    const size_t count = std::min({static_cast<size_t>(std::max(0, nic.fw_count)), nic.uFwROMmaj.size(),
                                   nic.uFwROMmin.size(), nic.uFwROMrel.size()});
    std::vector<std::string> rows;
    std::vector<fw_key> keys;
    for (size_t i = 0; i < count; ++i) {
        rows.push_back(version_text(nic.uFwROMmaj[i], nic.uFwROMmin[i], nic.uFwROMrel[i]));
        keys.push_back(fw_sort_key(nic.uFwROMmaj[i], nic.uFwROMmin[i], nic.uFwROMrel[i]));
    }
    sort_fw(uIdx, rows, keys);
    return rows;
}

void fw_version_message(std::string &vers_string, int)
{
    vers_string = "Would you like to flash the firmware?\n";
}

std::string version_text(uint32_t major, uint32_t minor, uint32_t release)
{
    return field_text(major) + "." + field_text(minor) + "." + field_text(release);
}

bool version_newer(uint32_t a_maj, uint32_t a_min, uint32_t a_rel, uint32_t b_maj, uint32_t b_min, uint32_t b_rel)
{
    return fw_key{a_maj, a_min, a_rel} > fw_key{b_maj, b_min, b_rel};
}
