#pragma once

// Checks the command line's shape before parsing, rewrites slash options
// and stores the report path: 0 go on, 2 malformed, 256 accepted and ignored.
int verify_cmd_line_options(int argc, char **pargv);

// The usage text, one line per message.
void usage();
