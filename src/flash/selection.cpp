#include "flash/selection.h"

int select_firmware(unsigned uNicIdx)
{
    (void)uNicIdx;
    return 0;
}

int is_FW_needed(unsigned uNicIdx)
{
    (void)uNicIdx;
    return 1;
}
