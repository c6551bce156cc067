// The firmware catalog nic_fw/NICFWData.xml, read once into memory, and the key an adapter is looked up by.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/event_log.h"
#include "core/records.h"

// The catalog key of an adapter, "%04X-%04X-%04X-%04X-%s" of its vendor,
// device, subsystem vendor and subsystem device IDs and its PSID.
std::string catalog_key(const nic_info &nic, const std::string &psid);

// One attribute that the lookup acts on, as the catalog holds it.
enum class catalog_attr : uint8_t { name, venid, devid, psid, subvenid, subdevid, rom, fw_file };
struct catalog_attribute {
    catalog_attr kind;
    uint32_t node;  // the element that carries it, counted in document order
    opt_text value; // absent when the reader gave no value
};

// The catalog in memory: its attributes in document order and an index of
// the places where a lookup compares keys, so that a lookup does not walk the whole catalog.
struct parsed_catalog {
    std::vector<catalog_attribute> attributes;

    // A "subdevid" attribute, with the working entry as it stands there when no earlier
    // comparison has matched (attribute indexes, -1 for a field never set).
    struct comparison {
        size_t at = 0;       // index of the "subdevid" attribute
        size_t node_end = 0; // index past the last attribute of its element
        long name = -1, venid = -1, devid = -1, psid = -1;
        bool subvenid_seen = false;
        long own_rom = -1, own_fw_file = -1; // "rom", "fwFile" after "subdevid" in the same element
        bool sets_entry_after = false; // the element changes the working entry after "subdevid"
    };
    std::vector<comparison> comparisons;
    // "%4s-%4s" of venid and devid, a NUL, then the PSID: the comparisons that can match such a key.
    std::unordered_map<std::string, std::vector<size_t>> index;
    // "rom" and "fwFile" attributes that no comparison of their element can pass over (before its
    // "subdevid", or in an element without one): indexes, ascending.
    std::vector<size_t> open_roms, open_fw_files;
};

// Reads a catalog text as the lookup reads the catalog file; nothing when the text is not
// well-formed XML.
std::optional<parsed_catalog> parse_catalog(const std::string &xml);

// The entries matching a key, in document order. The working entry is carried from element to
// element; the adapter's own subsystem IDs stand in for each entry's "subvenid" and "subdevid";
// an element stops being read where its key does not match; "rom" and "fwFile" belong to the
// entry accepted last.
std::vector<XMLFW_INFO> match_catalog(const parsed_catalog &catalog, const std::string &pciIdString,
                                      const nic_info &nic);
// The same rule walked attribute by attribute over the whole catalog; match_catalog answers from
// the index and walks only where an element changes the working entry after its comparison.
std::vector<XMLFW_INFO> walk_catalog(const parsed_catalog &catalog, const std::string &pciIdString,
                                     const nic_info &nic);

// The catalog of one run: read at the first lookup and kept.
class firmware_catalog {
public:
    // The catalog entries matching a key (see match_catalog). Nothing when the catalog cannot be
    // opened or is not well-formed XML (logged alike): a fatal condition for the run.
    std::optional<std::vector<XMLFW_INFO>> read_NIC_FW_xml_file(event_log &log, const std::string &pciIdString,
                                                                const nic_info &nic);
    // Why the catalog could not be read, once a lookup answered nothing.
    const std::string &failure() const { return failure_; }

private:
    std::optional<parsed_catalog> parsed_;
    std::string failure_;
};
