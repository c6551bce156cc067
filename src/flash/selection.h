#pragma once

// Decides for one port of the upgrade run whether to flash it; always 0.
int select_firmware(unsigned uNicIdx);
// 0 flash, 1 do not, 2 quit the run, 3 flash and select no further ports.
int is_FW_needed(unsigned uNicIdx);
