#include "sim_sysfs.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "sim_files.h"

namespace sim::sysfs {

namespace {

std::string hex(unsigned value, int digits)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*x\n", digits, value);
    return text;
}

void put16(std::string &config, size_t at, unsigned value)
{
    config[at] = static_cast<char>(value & 0xff);
    config[at + 1] = static_cast<char>((value >> 8) & 0xff);
}

// A type-0 header without capabilities and without decoded BARs, matching the
// all-zero "resource" file, so that libpci finds nothing to disagree about.
std::string config_space(const PciFunction &fn)
{
    std::string config(256, '\0');
    put16(config, 0x00, fn.vendor);
    put16(config, 0x02, fn.device);
    put16(config, 0x04, 0x0006);  // memory space and bus master enabled
    config[0x09] = static_cast<char>(fn.pci_class & 0xff);
    config[0x0a] = static_cast<char>((fn.pci_class >> 8) & 0xff);
    config[0x0b] = static_cast<char>((fn.pci_class >> 16) & 0xff);
    put16(config, 0x2c, fn.subsystem_vendor);
    put16(config, 0x2e, fn.subsystem_device);
    config[0x3c] = 16;  // interrupt line, as in "irq"
    config[0x3d] = 1;   // INTA
    return config;
}

std::string resources()
{
    std::string text;
    for (int i = 0; i < 13; ++i)
        text += "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";
    return text;
}

bool valid_address(const std::string &address)
{
    unsigned domain, bus, slot, func;
    char tail;
    return std::sscanf(address.c_str(), "%4x:%2x:%2x.%1u%c", &domain, &bus, &slot, &func, &tail) == 4 &&
           address.size() == 12;
}

} // namespace

void write_function(const std::string &root, const PciFunction &fn)
{
    if (!valid_address(fn.address))
        throw std::invalid_argument("simulated server: PCI address \"" + fn.address +
                                    "\" is not of the form 0000:05:00.0");
    const std::string dir = root + "/sys/bus/pci/devices/" + fn.address + "/";
    files::write_file(dir + "vendor", hex(fn.vendor, 4));
    files::write_file(dir + "device", hex(fn.device, 4));
    files::write_file(dir + "class", hex(fn.pci_class, 6));
    files::write_file(dir + "subsystem_vendor", hex(fn.subsystem_vendor, 4));
    files::write_file(dir + "subsystem_device", hex(fn.subsystem_device, 4));
    files::write_file(dir + "revision", hex(0, 2));
    files::write_file(dir + "irq", "16\n");
    files::write_file(dir + "resource", resources());
    files::write_file(dir + "config", config_space(fn));

    if (fn.netif.empty())
        return;
    // Only the link text matters: it ends in .../<address>/net/<interface>.
    const std::string link = root + "/sys/class/net/" + fn.netif;
    files::make_dirs(root + "/sys/class/net");
    files::remove_path(link);
    std::error_code ec;
    std::filesystem::create_symlink("../../devices/pci0000:00/0000:00:01.0/" + fn.address + "/net/" + fn.netif,
                                    link, ec);
    if (ec)
        throw std::runtime_error("simulated server: cannot link " + link + ": " + ec.message());
}

std::string default_pci_ids()
{
    return "# PCI ID database of the simulated server\n"
           "15b3  Mellanox Technologies\n"
           "\t1015  MT27710 Family [ConnectX-4 Lx]\n"
           "\t1017  MT27800 Family [ConnectX-5]\n"
           "\t101d  MT2892 Family [ConnectX-6 Dx]\n"
           "8086  Intel Corporation\n"
           "\t1533  I210 Gigabit Network Connection\n"
           "\t1572  Ethernet Controller X710 for 10GbE SFP+\n"
           "\n"
           "C 02  Network controller\n"
           "\t00  Ethernet controller\n"
           "\t07  Infiniband controller\n"
           "\t80  Network controller\n"
           "C 0c  Serial bus controller\n"
           "\t06  InfiniBand\n";
}

} // namespace sim::sysfs
