// The records every layer shares: catalog entries, adapter ports and their flag bits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/pci_address.h"

// A text that may be absent, as opposed to present and empty.
using opt_text = std::optional<std::string>;

// One firmware catalog entry. Every field is absent when its attribute was.
struct XMLFW_INFO {
    opt_text pxmlName;
    opt_text pxmlVenId;
    opt_text pxmlDevId;
    opt_text pxmlSubVenId;
    opt_text pxmlSubDevId;
    opt_text pxmlRom;
    opt_text pxmlFwImage;
    opt_text pxmlPSID;
};

// A firmware version: three unsigned numbers, ordered major, then minor, then release.
struct fw_version {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t release = 0;
    auto operator<=>(const fw_version &) const = default;
};

// One catalog image offered for a port.
struct catalog_image {
    fw_version version;
    opt_text file; // name within nic_fw/
    opt_text name; // the adapter's name in the catalog
};

// Bits of nic_info::flags.
enum nic_flag : uint32_t {
    nic_complete = 0x1,        // version and PSID known (from the tool or the report)
    nic_flash_requested = 0x2, // chosen for flashing
};

// One record per enumerated PCI function, or per device of a report.
struct nic_info {
    opt_text pinterfacename; // the address in an inventory; the report's device_id in -u
    opt_text pbus_info;      // PCI address as the tools are given it: as listed, or as the report has it
    std::optional<pci_address> address; // the value of pbus_info, when that is a PCI address
    int32_t ven_id = 0;
    int32_t dev_id = 0;
    int32_t sub_ven_id = 0;
    int32_t sub_dev_id = 0;
    opt_text busnumber; // the report's three address items, until joined into pbus_info
    opt_text devicenumber;
    opt_text funcnumber;
    opt_text pcurrent_mac;
    fw_version current;
    std::vector<catalog_image> images; // catalog order
    opt_text pPort;                    // the report's slotnumber
    opt_text psid;
    uint32_t flags = 0; // nic_flag bits

    bool has(nic_flag f) const { return (flags & f) != 0; }
    // pbus_info and address together: of a listed function; of a report's items, whatever they hold.
    void set_address(const pci_address &value);
    void set_address_text(std::string text);
};

// A PCI ID as the catalog key and the report write it: "%04X".
std::string pci_id_text(int32_t id);
