#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "nic_info.h"

// Options (0x0001-0x0040) and run outcomes (0x0100-0x1000); never cleared.
extern int g_iFlag;
// 2 in silent and report-driven runs.
extern int silent;
// Secure Boot outcome: boot_value picks the query tool, boot_mode_value the burn tool.
extern int boot_value;
extern int boot_mode_value;

// Path of the discovery report: the second command-line word, or the default.
extern std::string g_XMLDiscoveryReport;
extern const char *const g_XMLDiscoveryReportDefault;
extern const char *const g_XMLFwFile;

// The event log, opened by each mode's entry and closed by process exit.
extern FILE *pmstflint_fout;

// The adapter inventory.
extern std::vector<nic_info> g_ninfo;
extern int g_nNics;
extern int g_nMellanoxPorts;
extern int nic_count;
extern std::vector<int> fw_number;
extern std::string sub_ven_id_new;
extern std::string sub_dev_id_new;

// The port's versions sorted by the selection step, read by the flash step.
extern std::vector<std::string> ver_buf;
extern int fw_invalid;
extern int fw_invalid_count;

// Set while the report-driven update burns.
extern int read_discovery;
