// PCI enumeration through libpci: network-class functions, one per device, with their vendor names.
#include "discovery/pci_enum.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <strings.h>

extern "C" {
#include <pci/pci.h>
}

#include "platform/paths.h"
#include "platform/text.h"

const std::array<int, 4> class_code = {0x0c06, 0x0200, 0x0280, 0x0207};

namespace {

// Reads a whole field as hexadecimal; nothing when it holds anything else.
bool read_hex_field(const std::string &text, long *value)
{
    if (text.empty() || text.size() > 8)
        return false;
    long v = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        v = v * 16 + digit;
    }
    *value = v;
    return true;
}

// Applies one field: empty or "*" keeps the field; otherwise it must be a
// hexadecimal number within 0..max.
bool parse_field(const std::string &text, long max, int *field)
{
    if (text.empty() || text == "*")
        return true;
    long v = 0;
    if (!read_hex_field(text, &v) || v > max)
        return false;
    *field = static_cast<int>(v);
    return true;
}

struct pci_session {
    pci_access *acc;
    pci_session() : acc(pci_alloc())
    {
        configure_pci_access(acc);
        pci_init(acc);
    }
    ~pci_session() { pci_cleanup(acc); }
    pci_session(const pci_session &) = delete;
    pci_session &operator=(const pci_session &) = delete;
};

const unsigned k_fill = PCI_FILL_IDENT | PCI_FILL_BASES | PCI_FILL_CLASS;

std::vector<std::string> collect_matching(pci_access *acc, const std::array<int, 4> &pmatch_pattern)
{
    std::vector<std::string> found;
    for (pci_dev *dev = acc->devices; dev; dev = dev->next) {
        pci_fill_info(dev, k_fill);
        if (std::find(pmatch_pattern.begin(), pmatch_pattern.end(), dev->device_class) != pmatch_pattern.end())
            found.push_back(pci_address_text(dev->domain, dev->bus, dev->dev, dev->func));
    }
    return found;
}

std::string vendor_name_of(pci_access *acc, pci_dev *dev)
{
    std::vector<char> name(1024, '\0');
    const char *text = pci_lookup_name(acc, name.data(), static_cast<int>(name.size()), PCI_LOOKUP_VENDOR,
                                       dev->vendor_id, dev->device_id);
    return text ? text : "";
}

} // namespace

std::string pci_address_text(int domain, int bus, int slot, int func)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04x:%02x:%02x.%d", static_cast<unsigned>(domain), static_cast<unsigned>(bus),
                  static_cast<unsigned>(slot), func);
    return text;
}

int cmp_pci_id_nums(const std::string &pci_id1, const std::string &pci_id2)
{
    return strcasecmp(pci_id1.c_str(), pci_id2.c_str());
}

const char *pci_filter_parse_pciid(pci_filter *f, const std::string &str)
{
    const size_t colon = str.rfind(':');
    const size_t dot = str.find('.');
    const size_t token = str.find(':');

    // The domain is read whole up to the first colon: volume-management
    // devices put functions in domains from 0x10000 up.
    if (!parse_field(str.substr(0, token), INT_MAX, &f->domain))
        return "Invalid domain number";
    if (token != std::string::npos && !parse_field(str.substr(token + 1, 2), 0xff, &f->bus))
        return "Invalid bus number";
    if (colon == std::string::npos || dot == std::string::npos)
        return "Invalid input. Either colon or dot missing!";
    if (dot < colon || !parse_field(str.substr(colon + 1, std::min<size_t>(2, dot - colon - 1)), 0x1f, &f->slot))
        return "Invalid slot number";
    if (!parse_field(str.substr(dot + 1), 7, &f->func))
        return "Invalid function number";
    return nullptr;
}

int get_interface_list(std::vector<std::string> &pppif, std::vector<std::string> &vendor_name,
                       const std::array<int, 4> &pmatch_pattern, int32_t *pif_count)
{
    pppif.clear();
    vendor_name.clear();
    *pif_count = 0;

    pci_session session;
    pci_filter filter;
    pci_filter_init(session.acc, &filter);
    pci_scan_bus(session.acc);

    std::vector<std::string> pppif_sorted = collect_matching(session.acc, pmatch_pattern);
    std::sort(pppif_sorted.begin(), pppif_sorted.end(),
              [](const std::string &a, const std::string &b) { return cmp_pci_id_nums(a, b) < 0; });

    // Only the lowest-numbered function of each device: the text before the
    // '.' (domain, bus, slot, whatever the domain's width) names the device.
    std::string last_kept;
    for (const std::string &address : pppif_sorted) {
        if (!last_kept.empty() && equals_nocase(address.substr(0, address.find('.')),
                                                last_kept.substr(0, last_kept.find('.'))))
            continue;
        last_kept = address;
        if (pci_filter_parse_pciid(&filter, address))
            continue;
        pci_dev *dev = pci_get_dev(session.acc, filter.domain, filter.bus, filter.slot, filter.func);
        if (!dev)
            continue;
        pci_fill_info(dev, k_fill);
        pppif.push_back(pci_address_text(dev->domain, dev->bus, dev->dev, dev->func));
        vendor_name.push_back(vendor_name_of(session.acc, dev));
        pci_free_dev(dev);
    }

    *pif_count = static_cast<int32_t>(pppif.size());
    if (pppif.empty()) {
        std::fputs("NO Interface Found\n", stdout);
        std::fflush(stdout);
        return 1;
    }
    return 0;
}
