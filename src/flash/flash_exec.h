#pragma once

#include <string>

// Burns the chosen image into port uNicIdx when its flags ask for it.
int do_update_firmware(unsigned uNicIdx);

// A MAC text without its separators.
std::string format_mac(const std::string &pStrTok);
