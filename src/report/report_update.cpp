#include "report/report_update.h"

#include "control/console.h"

std::vector<std::string> firmware_id;

int read_discovery_report()
{
    open_event_log();
    return 2;
}

void read_num_device_elements(xmlTextReaderPtr, int *) {}

void process_node(xmlTextReaderPtr, nic_info *, int *) {}

void read_FW_cur_version(nic_info *, const std::string &, const std::string &) {}

int32_t axtoi(const std::string &)
{
    return 0;
}
