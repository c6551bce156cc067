// The catalog: every entry a lookup returns belongs to the board it was asked for.
#include <algorithm>

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

} // namespace

// The input is the whole catalog, looked up for each board of the scratch catalog.
check_result check_catalog(std::string_view input)
{
    const parsed_catalog parsed = parse_catalog(std::string(input));
    // Each entry is accepted at a subdevid attribute, whose name cannot be written any other way.
    const size_t entries_at_most = occurrences(input, "subdevid");
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
