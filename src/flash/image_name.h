// Resolving a code-named image through the package's getmlnxinfo.
#pragma once

#include <string>

#include "core/records.h"
#include "core/run_state.h"

// Resolves the port's first image name through ./getmlnxinfo: 0 resolved,
// 1 no image, 2 answer unreadable, else the command's exit status.
int modify_imagename(run_context &ctx, nic_info &curnic, std::string *servername);

// Runs cmd (whose output goes to dataFile) and reads the first line of
// dataFile into data, cut at the first delimiter after a token.
int get_mlnx_info(run_context &ctx, const std::string &cmd, std::string &data, const std::string &dataFile,
                  const char *delimiter);
