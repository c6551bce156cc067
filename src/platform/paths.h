// The one place every fixed system path goes through.
#pragma once

#include <string>

struct pci_access;

// Every fixed absolute path of the system goes through here. rovan uses the
// path as given; rovan-sim places it under the directory in $ROVAN_SYSROOT.
std::string system_path(const std::string &absolute_path);

// The null device, and the program search path when PATH is unset: the host's own in rovan-sim too.
const char *null_device();
const char *default_search_path();

// Points libpci at the system's sysfs and ID database (a no-op in rovan).
// Call between pci_alloc and pci_init.
void configure_pci_access(pci_access *acc);
