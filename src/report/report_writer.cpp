#include "report/report_writer.h"

#include "control/console.h"

int discover_HW()
{
    open_event_log();
    return 0;
}
