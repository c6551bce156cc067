// PCI enumeration through libpci: network-class functions, one per device, with their vendor names.
#include "discovery/pci_enum.h"

#include <algorithm>
#include <cstdio>
#include <utility>

extern "C" {
#include <pci/pci.h>
}

#include "platform/paths.h"

const std::array<int, 4> class_code = {0x0c06, 0x0200, 0x0280, 0x0207};

namespace {

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

using found_function = std::pair<pci_address, pci_dev *>;

// The scanned functions of the matching classes, in the scan's order.
std::vector<found_function> collect_matching(pci_access *acc, const std::array<int, 4> &pmatch_pattern)
{
    std::vector<found_function> found;
    for (pci_dev *dev = acc->devices; dev; dev = dev->next) {
        pci_fill_info(dev, k_fill);
        if (std::find(pmatch_pattern.begin(), pmatch_pattern.end(), dev->device_class) != pmatch_pattern.end())
            found.emplace_back(pci_address {static_cast<uint32_t>(dev->domain), dev->bus, dev->dev, dev->func}, dev);
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

int get_interface_list(std::vector<pci_address> &pppif, std::vector<std::string> &vendor_name,
                       const std::array<int, 4> &pmatch_pattern, int32_t *pif_count)
{
    pppif.clear();
    vendor_name.clear();
    *pif_count = 0;

    pci_session session;
    pci_scan_bus(session.acc);

    // By number, as lspci sorts them; of each device only its lowest-numbered function is listed.
    std::vector<found_function> found = collect_matching(session.acc, pmatch_pattern);
    std::sort(found.begin(), found.end(),
              [](const found_function &a, const found_function &b) { return a.first < b.first; });
    for (size_t i = 0; i < found.size(); ++i) {
        const auto &[address, dev] = found[i];
        if (i > 0 && address.device() == found[i - 1].first.device())
            continue;
        pppif.push_back(address);
        vendor_name.push_back(vendor_name_of(session.acc, dev));
    }

    *pif_count = static_cast<int32_t>(pppif.size());
    if (pppif.empty()) {
        std::fputs("NO Interface Found\n", stdout);
        std::fflush(stdout);
        return 1;
    }
    return 0;
}
