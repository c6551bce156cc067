// Case-insensitive text comparison.
#include "platform/text.h"

#include <algorithm>
#include <cctype>

namespace {
bool same_letter(char a, char b)
{
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}
} // namespace

bool contains_nocase(const std::string &haystack, const std::string &needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(), same_letter) != haystack.end();
}

bool equals_nocase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same_letter);
}
