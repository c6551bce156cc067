#include "control/show_current.h"

#include "control/console.h"

int show_current()
{
    open_event_log();
    return 0;
}
