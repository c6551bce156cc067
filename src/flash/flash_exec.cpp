#include "flash/flash_exec.h"

int do_update_firmware(unsigned uNicIdx)
{
    (void)uNicIdx;
    return 0;
}

std::string format_mac(const std::string &pStrTok)
{
    return pStrTok;
}
