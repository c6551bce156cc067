#pragma once

#include <string>

#include "nic_info.h"

// Resolves the port's first image name through ./getmlnxinfo: 0 resolved,
// 1 no image, 2 answer unreadable, else the command's exit status.
int modify_imagename(nic_info &curnic, std::string *servername);

// Runs cmd (whose output goes to dataFile) and reads the first line of
// dataFile into data, cut at the first delimiter after a token.
int get_mlnx_info(const std::string &cmd, std::string &data, const std::string &dataFile, const char *delimiter);
