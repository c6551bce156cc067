#include "globals.h"

int g_iFlag = 0;
int silent = 0;
int boot_value = 0;
int boot_mode_value = 0;

std::string g_XMLDiscoveryReport;
const char *const g_XMLDiscoveryReportDefault = "nicdiscovery.xml";
const char *const g_XMLFwFile = "nic_fw/NICFWData.xml";

FILE *pmstflint_fout = nullptr;

std::vector<nic_info> g_ninfo;
int g_nNics = 0;
int g_nMellanoxPorts = 0;
int nic_count = 0;
std::vector<int> fw_number;
std::string sub_ven_id_new;
std::string sub_dev_id_new;

std::vector<std::string> ver_buf;
int fw_invalid = 0;
int fw_invalid_count = 0;

int read_discovery = 0;
