#pragma once

// The default mode: upgrade every adapter port; returns the exit status 0-3.
int fwupg();
