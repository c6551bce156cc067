#include "report/report_update.h"

#include "control/console.h"

int read_discovery_report()
{
    open_event_log();
    return 0;
}

std::vector<std::string> firmware_id;
