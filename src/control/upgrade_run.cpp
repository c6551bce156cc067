#include "control/upgrade_run.h"

#include "control/console.h"

int fwupg()
{
    open_event_log();
    return 0;
}
