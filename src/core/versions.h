// Firmware version texts: reading, printing and the numeric order of a port's images.
#pragma once

#include <string>
#include <vector>

#include "core/records.h"

// Splits "major.minor.release" into three numbers, each read as atoi reads it.
fw_version parseversions(const std::string &version);

// "%d.%d.%d" of a version.
std::string version_text(const fw_version &version);

// Sorts version rows ascending by their keys, stably, the keys alongside.
void sort_fw(std::vector<std::string> &rows, std::vector<fw_version> &keys);

// The version texts of a port's catalog images, ascending in the order of
// sort_fw: the listing of -c and of the prompt, the image burned, the report's version.
std::vector<std::string> sorted_image_versions(const nic_info &nic);

// The question of the flash prompt.
std::string fw_version_message();
