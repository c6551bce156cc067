#include "control/show_current.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "control/console.h"
#include "discovery/catalog.h"
#include "discovery/inventory.h"
#include "flash/versions.h"
#include "globals.h"

namespace {

// "%10s": right-aligned in ten characters, longer texts whole.
std::string right10(const std::string &text)
{
    return text.size() < 10 ? std::string(10 - text.size(), ' ') + text : text;
}

void show_port(int idx)
{
    const nic_info &rec = g_ninfo[static_cast<size_t>(idx)];
    const std::string name = !rec.pxmlName.empty() && rec.pxmlName[0] ? *rec.pxmlName[0] : std::string();
    const std::string ifname = rec.pinterfacename.value_or("");

    print_message(" PCI-ID              \t\tNIC\n");
    print_message(pci_id_text(rec.ven_id) + "-" + pci_id_text(rec.dev_id) + "-" + pci_id_text(rec.sub_ven_id) + "-" +
                  pci_id_text(rec.sub_dev_id) + " \t" + name + " \n\n");

    const size_t count = std::min({rec.fw_count > 0 ? static_cast<size_t>(rec.fw_count) : size_t{0},
                                   rec.uFwROMmaj.size(), rec.uFwROMmin.size(), rec.uFwROMrel.size()});
    std::vector<std::string> versions;
    std::vector<fw_key> fw_sorted;
    for (size_t i = 0; i < count; ++i) {
        versions.push_back(version_text(rec.uFwROMmaj[i], rec.uFwROMmin[i], rec.uFwROMrel[i]));
        fw_sorted.push_back(fw_sort_key(rec.uFwROMmaj[i], rec.uFwROMmin[i], rec.uFwROMrel[i]));
    }
    sort_fw(idx, versions, fw_sorted);

    print_message("     (Installed)           (Available)\n");
    print_message("     Image      Version      Image        Version     \t\tInterface\n");
    print_message(std::string(72, '-') + "\n");
    const std::string installed = version_text(rec.uCurROMmaj, rec.uCurROMmin, rec.uCurROMrel);
    if (count > 0)
        print_message("      ROM       " + installed + "    ROM\t\t" + right10(versions[0]) + "\t\t" + ifname + "\n");
    else
        print_message("      ROM       " + installed + "    ROM\t\tNothing\t\t\t" + ifname + "\n");
    for (size_t i = 1; i < versions.size(); ++i)
        print_message(std::string(31, ' ') + "\t\t" + right10(versions[i]) + "\t\t" + ifname + "\n");
    print_message("\n");
}

} // namespace

int show_current()
{
    open_event_log();
    build_NIC_list();
    for (size_t i = 0; i < g_ninfo.size(); ++i) {
        if (g_ninfo[i].flags & 0x1)
            show_port(static_cast<int>(i));
    }
    return 0;
}
