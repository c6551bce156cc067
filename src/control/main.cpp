#include <cstdio>
#include <string>
#include <unistd.h>

#include "control/command_line.h"
#include "control/console.h"
#include "control/secure_boot.h"
#include "control/show_current.h"
#include "control/upgrade_run.h"
#include "globals.h"
#include "report/report_update.h"
#include "report/report_writer.h"

namespace {

void print_banner()
{
    const std::string rule(98, '#');
    std::printf("\n%s\n", rule.c_str());
    std::printf("%s\n", "Valtrix Mellanox InfiniBand Online Firmware Upgrade Utility for Linux\n"
                        "Copyright (C) Valtrix. Burns firmware on adapters of PCI vendor 15B3; run as root.");
    std::printf("%s\n\n", rule.c_str());
    std::fflush(stdout);
}

// Returns the exit status when parsing ends the run, or -1 to go on.
int parse_options(int argc, char **argv)
{
    int opt;
    while ((opt = getopt(argc, argv, "hcsFfipydu:")) != -1) {
        switch (opt) {
        case 'c': g_iFlag |= 0x0001; break;
        case 's': g_iFlag |= 0x0002; silent = 2; break;
        case 'F':
        case 'f': g_iFlag |= 0x0004; break;
        case 'p': g_iFlag |= 0x0008; break;
        case 'y': g_iFlag |= 0x0010; break;
        case 'd': g_iFlag |= 0x0020; break;
        case 'u': g_iFlag |= 0x0040; break;
        case 'i': break; // accepted and ignored
        case 'h': usage(); return 1;
        default:
            print_message("Unknown command line option: " + std::string(1, static_cast<char>(opt)) + "\n");
            usage();
            return 1;
        }
    }
    return -1;
}

bool forbidden_combination()
{
    return ((g_iFlag & 0x0002) && (g_iFlag & 0x39)) || ((g_iFlag & 0x0004) && (g_iFlag & 0x79)) ||
           ((g_iFlag & 0x0010) && (g_iFlag & 0x6d)) || ((g_iFlag & 0x0008) && (g_iFlag & 0x67));
}

int run_mode()
{
    if (g_iFlag & 0x0001) {
        if (g_iFlag & 0x7e) { usage(); return 1; }
        return show_current();
    }
    if (g_iFlag & 0x0020) {
        if (g_iFlag & 0x5f) { usage(); return 1; }
        return discover_HW();
    }
    if (g_iFlag & 0x0040) {
        if (g_iFlag & 0x3d) { usage(); return 1; }
        return read_discovery_report();
    }
    return fwupg();
}

} // namespace

int main(int argc, char **argv)
{
    switch (verify_cmd_line_options(argc, argv)) {
    case 0: break;
    case 256: return 0;
    default: usage(); return 1;
    }

    if (int status = parse_options(argc, argv); status >= 0)
        return status;

    print_banner();

    switch (get_boot_mode()) {
    case 0: print_message("SecureBoot is disabled.\n"); break;
    case 1:
        print_message("SecureBoot is enabled.\n");
        boot_mode_value = 1;
        break;
    case 2:
        print_message("SecureBoot is enabled. mst and flint tools are not available/installed for firmware flash.\n");
        return 1;
    default: print_message("Unable to determine the boot mode\n"); return 1;
    }

    if (forbidden_combination()) {
        usage();
        return 1;
    }
    return run_mode();
}
