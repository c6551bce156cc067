// The catalog: every entry a lookup returns belongs to the board it was asked for; a catalog cut short gives none.
#include <algorithm>
#include <cstdint>
#include <tuple>

#include "checks.h"
#include "discovery/catalog.h"
#include "platform/text.h"

namespace {

// The boards looked up, as adapters report them: vendor, device, subsystem vendor and device IDs, PSID.
constexpr std::tuple<int32_t, int32_t, int32_t, int32_t, const char *> k_boards[] = {
    {0x15B3, 0x1017, 0x15B3, 0x0007, "MT_0000000080"},
    {0x15B3, 0x1015, 0x15B3, 0x0003, "MT_2420110034"},
    {0x15B3, 0x101D, 0x15B3, 0x0016, "MT_0000000436"}};

auto fields(const XMLFW_INFO &e)
{
    return std::tie(e.pxmlName, e.pxmlVenId, e.pxmlDevId, e.pxmlSubVenId, e.pxmlSubDevId, e.pxmlRom, e.pxmlFwImage,
                    e.pxmlPSID);
}

// Whether the parser sees the input's bytes as they stand: 7-bit text without NUL (so no UTF-16, UCS-4 or
// EBCDIC guess) and no encoding declared but UTF-8. A declared encoding such as UTF-7, or one iconv reads
// loosely, can turn other bytes into "subdevid" or drop bytes from a name.
bool read_byte_for_byte(std::string_view text)
{
    if (std::ranges::any_of(text, [](char c) { return c == '\0' || (c & 0x80) != 0; }))
        return false;
    constexpr std::string_view blanks = " \t\r\n";
    for (size_t at = text.find("encoding"); at != std::string_view::npos; at = text.find("encoding", at + 1)) {
        size_t pos = text.find_first_not_of(blanks, at + 8);
        if (pos == std::string_view::npos || text[pos] != '=')
            return false;
        pos = text.find_first_not_of(blanks, pos + 1);
        const std::string value(text.substr(std::min(pos, text.size()), 7));
        if (!equals_nocase(value, "\"UTF-8\"") && !equals_nocase(value, "'UTF-8'"))
            return false;
    }
    return true;
}

} // namespace

// The input is the whole catalog, looked up for each board.
check_result check_catalog(std::string_view input)
{
    const std::optional<parsed_catalog> read = parse_catalog(std::string(input));
    if (!read)
        return std::nullopt;
    const bool as_they_stand = read_byte_for_byte(input);
    // A catalog is well-formed XML or none: cut before its last markup ends, it is refused.
    if (as_they_stand && parse_catalog(std::string(input.substr(0, input.rfind('>')))))
        return "the catalog cut before its last '>' was read";
    // Each entry is accepted at a subdevid attribute, whose name the bytes then hold as it stands.
    size_t entries_at_most = as_they_stand ? 0 : SIZE_MAX;
    for (size_t at = input.find("subdevid"); as_they_stand && at != std::string_view::npos;
         at = input.find("subdevid", at + 1))
        ++entries_at_most;
    for (const auto &[ven, dev, sub_ven, sub_dev, psid] : k_boards) {
        nic_info nic;
        nic.ven_id = ven, nic.dev_id = dev, nic.sub_ven_id = sub_ven, nic.sub_dev_id = sub_dev;
        const std::string key = catalog_key(nic, psid);
        const std::vector<XMLFW_INFO> found = match_catalog(*read, key, nic);
        // The index must answer as the rule walked attribute by attribute does.
        if (!std::ranges::equal(found, walk_catalog(*read, key, nic), {}, fields, fields))
            return "the index and the walked rule disagree for " + key;
        if (found.size() > entries_at_most)
            return std::to_string(found.size()) + " entries for " + key + " from " + std::to_string(entries_at_most) +
                   " subdevid attributes";
        for (const XMLFW_INFO &e : found) {
            if (std::tie(e.pxmlVenId, e.pxmlDevId, e.pxmlSubVenId, e.pxmlSubDevId, e.pxmlPSID) !=
                std::tuple(pci_id_text(ven), pci_id_text(dev), pci_id_text(sub_ven), pci_id_text(sub_dev),
                           std::string(psid)))
                return "an entry of venid " + printable(e.pxmlVenId.value_or("")) + ", devid " +
                       printable(e.pxmlDevId.value_or("")) + ", PSID " + printable(e.pxmlPSID.value_or("")) +
                       " was returned for " + key;
        }
    }
    return std::nullopt;
}
