// The -c display: per port, its PCI IDs, catalog name, installed and available versions.
#include "app/show_current.h"
#include "app/run_steps.h"

#include <string>
#include <vector>

#include "core/console.h"
#include "core/versions.h"
#include "discovery/inventory.h"

namespace {

// "%10s": right-aligned in ten characters, longer texts whole.
std::string right10(const std::string &text)
{
    return text.size() < 10 ? std::string(10 - text.size(), ' ') + text : text;
}

void show_port(const run_context &ctx, const nic_info &rec)
{
    const std::string name = rec.images.empty() ? std::string() : rec.images[0].name.value_or("");
    const std::string ifname = rec.pinterfacename.value_or("");

    print_message(ctx, " PCI-ID              \t\tNIC\n");
    print_message(ctx, pci_id_text(rec.ven_id) + "-" + pci_id_text(rec.dev_id) + "-" + pci_id_text(rec.sub_ven_id) + "-" +
                  pci_id_text(rec.sub_dev_id) + " \t" + name + " \n\n");

    const std::vector<std::string> versions = sorted_image_versions(rec);

    print_message(ctx, "     (Installed)           (Available)\n");
    print_message(ctx, "     Image      Version      Image        Version     \t\tInterface\n");
    print_message(ctx, std::string(72, '-') + "\n");
    const std::string installed = version_text(rec.current);
    if (!versions.empty())
        print_message(ctx, "      ROM       " + installed + "    ROM\t\t" + right10(versions[0]) + "\t\t" + ifname + "\n");
    else
        print_message(ctx, "      ROM       " + installed + "    ROM\t\tNothing\t\t\t" + ifname + "\n");
    for (size_t i = 1; i < versions.size(); ++i)
        print_message(ctx, std::string(31, ' ') + "\t\t" + right10(versions[i]) + "\t\t" + ifname + "\n");
    print_message(ctx, "\n");
}

} // namespace

mode_end show_current(run_context &ctx)
{
    const inventory inv = take_inventory(ctx);
    std::optional<mode_end> end = inventory_cut_short(inv);
    if (!end) {
        for (const nic_info &rec : inv.ports) {
            if (rec.has(nic_complete))
                show_port(ctx, rec);
        }
        end = ended(0, result_word::ok);
    }
    finish_inventory_mode(ctx, inv, inventory_plan(inv), {}, *end);
    return std::move(*end);
}
