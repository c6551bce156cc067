// The catalog: every entry a lookup returns belongs to the board it was asked for; a catalog cut short gives none.
#include <algorithm>
#include <cctype>
#include <cstdint>

#include "checks.h"
#include "discovery/catalog.h"
#include "support.h"

namespace {

size_t occurrences(std::string_view text, std::string_view word)
{
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

// Whether the parser sees the input's bytes as they stand: 7-bit text without NUL (so no UTF-16,
// UCS-4 or EBCDIC guess) and no encoding declared but UTF-8. A declared encoding such as UTF-7,
// or one iconv reads loosely, can turn other bytes into "subdevid" or drop bytes from a name.
bool read_byte_for_byte(std::string_view text)
{
    if (std::any_of(text.begin(), text.end(), [](char c) { return c == '\0' || (c & 0x80) != 0; }))
        return false;
    for (size_t at = text.find("encoding"); at != std::string_view::npos; at = text.find("encoding", at + 1)) {
        size_t pos = at + 8;
        auto skip_blanks = [&] {
            while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
                ++pos;
        };
        skip_blanks();
        if (pos >= text.size() || text[pos++] != '=')
            return false;
        skip_blanks();
        if (pos + 6 >= text.size() || (text[pos] != '"' && text[pos] != '\''))
            return false;
        std::string name(text.substr(pos + 1, 5));
        for (char &c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (name != "UTF-8" || text[pos + 6] != text[pos])
            return false;
    }
    return true;
}

} // namespace

// The input is the whole catalog, looked up for each board of the scratch catalog.
check_result check_catalog(std::string_view input)
{
    const std::optional<parsed_catalog> read = parse_catalog(std::string(input));
    // A catalog is well-formed XML or none: cut before its last markup ends, it is refused.
    const size_t last_end = input.rfind('>');
    if (read && read_byte_for_byte(input) && last_end != std::string_view::npos &&
        parse_catalog(std::string(input.substr(0, last_end))))
        return "the catalog cut before its last '>' was read";
    if (!read)
        return std::nullopt;
    const parsed_catalog &parsed = *read;
    // Each entry is accepted at a subdevid attribute, whose name the bytes then hold as it stands.
    const size_t entries_at_most = read_byte_for_byte(input) ? occurrences(input, "subdevid") : SIZE_MAX;
    for (const known_adapter &a : k_known_adapters) {
        nic_info nic;
        nic.ven_id = a.ven, nic.dev_id = a.dev, nic.sub_ven_id = a.sub_ven, nic.sub_dev_id = a.sub_dev;
        const std::string key = catalog_key(nic, a.psid);
        const std::vector<XMLFW_INFO> found = match_catalog(parsed, key, nic);
        // The index must answer as the rule walked attribute by attribute does.
        const std::vector<XMLFW_INFO> walked = walk_catalog(parsed, key, nic);
        if (found.size() != walked.size() ||
            !std::equal(found.begin(), found.end(), walked.begin(), [](const XMLFW_INFO &x, const XMLFW_INFO &y) {
                return x.pxmlName == y.pxmlName && x.pxmlRom == y.pxmlRom && x.pxmlFwImage == y.pxmlFwImage &&
                       x.pxmlPSID == y.pxmlPSID && x.pxmlSubDevId == y.pxmlSubDevId;
            }))
            return "the index and the walked rule disagree for " + key;
        if (found.size() > entries_at_most)
            return std::to_string(found.size()) + " entries for " + key + " from a catalog of " +
                   std::to_string(entries_at_most) + " subdevid attributes";
        for (const XMLFW_INFO &entry : found) {
            if (entry.pxmlVenId != pci_id_text(a.ven) || entry.pxmlDevId != pci_id_text(a.dev) ||
                entry.pxmlSubVenId != pci_id_text(a.sub_ven) || entry.pxmlSubDevId != pci_id_text(a.sub_dev) ||
                entry.pxmlPSID != a.psid)
                return "an entry of venid " + printable(entry.pxmlVenId.value_or("(none)")) + ", devid " +
                       printable(entry.pxmlDevId.value_or("(none)")) + ", PSID " +
                       printable(entry.pxmlPSID.value_or("(none)")) + " was returned for " + key;
        }
    }
    return std::nullopt;
}
