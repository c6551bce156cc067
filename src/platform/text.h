// Case-insensitive text comparison.
#pragma once

#include <string>

// Whether needle occurs in haystack, letters compared without regard to case.
bool contains_nocase(const std::string &haystack, const std::string &needle);

// Whether two texts are equal, letters compared without regard to case.
bool equals_nocase(const std::string &a, const std::string &b);
