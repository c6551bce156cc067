// Version parsing, printing and ordering.
#include "core/versions.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <numeric>

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

} // namespace

fw_version parseversions(const std::string &version)
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
    return {field_number(fields[0]), field_number(fields[1]), field_number(fields[2])};
}

// "%d": each field with its sign (a field read as -1 prints as -1). The text
// still reads back to the same number, as a negative one wraps when read.
std::string version_text(const fw_version &version)
{
    const auto field = [](uint32_t value) { return std::to_string(static_cast<int32_t>(value)); };
    return field(version.major) + "." + field(version.minor) + "." + field(version.release);
}

void sort_fw(std::vector<std::string> &rows, std::vector<fw_version> &keys)
{
    const size_t n = std::min(rows.size(), keys.size());
    // Stable, so that of equal versions the first in catalog order stays first.
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t {0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });

    std::vector<std::string> sorted_rows;
    std::vector<fw_version> sorted_keys;
    for (size_t i : order) {
        sorted_rows.push_back(std::move(rows[i]));
        sorted_keys.push_back(keys[i]);
    }
    std::move(sorted_rows.begin(), sorted_rows.end(), rows.begin());
    std::copy(sorted_keys.begin(), sorted_keys.end(), keys.begin());
}

std::vector<std::string> sorted_image_versions(const nic_info &nic)
{
    std::vector<std::string> rows;
    std::vector<fw_version> keys;
    for (const catalog_image &image : nic.images) {
        rows.push_back(version_text(image.version));
        keys.push_back(image.version);
    }
    sort_fw(rows, keys);
    return rows;
}

std::string fw_version_message()
{
    return "Would you like to flash the firmware?\n";
}
