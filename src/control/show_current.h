#pragma once

// -c: the installed and the available firmware versions of every adapter port.
int show_current();
