#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// One record per enumerated PCI function (or per report device in -u).
// The image arrays hold fw_count entries, slot i of each describing the same
// catalog image; the report-driven update may fill slot 0 of pxmlName and
// pxmlFwImage alone.
struct nic_info {
    opt_text pinterfacename;
    opt_text pdrivername;
    opt_text pdriver_ver;
    opt_text pfirmware_ver;
    opt_text pbus_info;
    int32_t ven_id = 0;
    int32_t dev_id = 0;
    int32_t sub_ven_id = 0;
    int32_t sub_dev_id = 0;
    opt_text busnumber;
    opt_text devicenumber;
    opt_text funcnumber;
    opt_text pip_addr;
    opt_text pnetmask;
    opt_text pbroadcast;
    opt_text pcurrent_mac;
    uint32_t uCurROMmaj = 0;
    uint32_t uCurROMmin = 0;
    uint32_t uCurROMrel = 0;
    std::vector<uint32_t> uFwROMmaj;
    std::vector<uint32_t> uFwROMmin;
    std::vector<uint32_t> uFwROMrel;
    std::vector<opt_text> pxmlName;
    std::vector<opt_text> pxmlFwImage;
    opt_text pFwPath;
    opt_text pPort;
    int32_t flags = 0;
    int32_t fw_count = 0;
    opt_text psid;
};
