#pragma once

// Asks whether UEFI Secure Boot is on and, if so, readies the installed
// flash tool: 0 off, 1 on and usable, 2 on without the tools, 3 check failed.
int get_boot_mode();
