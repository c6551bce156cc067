// The fixed system paths: as they are in rovan, under $ROVAN_SYSROOT in rovan-sim.
#include "platform/paths.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include <pci/pci.h>
}

const char *null_device()
{
    return "/dev/null";
}

// As the shell searches.
const char *default_search_path()
{
    return "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
}

#ifdef ROVAN_SIMULATOR

namespace {
std::string sysroot()
{
    const char *root = std::getenv("ROVAN_SYSROOT");
    return root ? root : "";
}
} // namespace

std::string system_path(const std::string &absolute_path)
{
    return sysroot() + absolute_path;
}

void configure_pci_access(pci_access *acc)
{
    const std::string root = sysroot();
    // Only sysfs: the library's fallback to /proc would read the host's bus.
    acc->method = PCI_ACCESS_SYS_BUS_PCI;
    pci_set_param(acc, const_cast<char *>("sysfs.path"), const_cast<char *>((root + "/sys/bus/pci").c_str()));
    pci_set_param(acc, const_cast<char *>("hwdb.disable"), const_cast<char *>("1"));
    pci_set_name_list_path(acc, strdup((root + "/usr/share/misc/pci.ids").c_str()), 1);
}

#else

std::string system_path(const std::string &absolute_path)
{
    return absolute_path;
}

void configure_pci_access(pci_access *)
{
}

#endif
