#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Orders versions by their numbers: major, then minor, then release.
using fw_key = std::array<uint32_t, 3>;

// Splits "major.minor.release" into three numbers; always returns 0.
int parseversions(const std::string &version, uint32_t *major, uint32_t *minor, uint32_t *release);

fw_key fw_sort_key(uint32_t major, uint32_t minor, uint32_t release);

// Sorts the first fw_count rows of ver_buf (the count of port uIdx) together
// with their keys, ascending.
void sort_fw(int uIdx, std::vector<std::string> &ver_buf, std::vector<fw_key> &fw_sorted);

// The version texts of port uIdx's catalog images, ascending in the order of
// sort_fw: the listing of -c and of the prompt, the image burned, the report's version.
std::vector<std::string> sorted_image_versions(int uIdx);

// The question of the flash prompt.
void fw_version_message(std::string &vers_string, int uNicIdx);

// "%d.%d.%d" of a triple.
std::string version_text(uint32_t major, uint32_t minor, uint32_t release);

// True when a is a higher version than b, field by field.
bool version_newer(uint32_t a_maj, uint32_t a_min, uint32_t a_rel, uint32_t b_maj, uint32_t b_min, uint32_t b_rel);
