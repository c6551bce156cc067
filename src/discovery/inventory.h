#pragma once

#include <cstdint>

#include "nic_info.h"

// Builds g_ninfo from the machine: 0 at least one complete Mellanox port,
// 1 no Mellanox port, 2 none whose version and PSID could be read.
int build_NIC_list();

// Reads the four PCI IDs of a function from sysfs: 0 stored, 1 failed.
int get_pci_info(const opt_text &pbus_info, int32_t *ppci_ven, int32_t *ppci_dev, int32_t *ppci_sub_ven,
                 int32_t *ppci_sub_dev);
