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

    const std::vector<std::string> versions = sorted_image_versions(idx);

    print_message("     (Installed)           (Available)\n");
    print_message("     Image      Version      Image        Version     \t\tInterface\n");
    print_message(std::string(72, '-') + "\n");
    const std::string installed = version_text(rec.uCurROMmaj, rec.uCurROMmin, rec.uCurROMrel);
    if (!versions.empty())
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
