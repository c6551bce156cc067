// The one place every fixed system path goes through.
#pragma once

#include <string>

struct pci_access;

// Every fixed absolute path of the system goes through here. rovan uses the
// path as given; rovan-sim places it under the directory in $ROVAN_SYSROOT.
std::string system_path(const std::string &absolute_path);

// The shell that runs commands given as text, the host's own in rovan-sim too.
std::string shell_program();
// The device that takes output and keeps none, the host's own in rovan-sim too.
std::string null_device();

// Points libpci at the system's sysfs and ID database (a no-op in rovan).
// Call between pci_alloc and pci_init.
void configure_pci_access(pci_access *acc);
