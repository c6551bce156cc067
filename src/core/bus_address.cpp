// Checking and joining PCI bus-address texts.
#include "core/bus_address.h"

#include <cctype>
#include <cstddef>

namespace {

// Consumes min to max hexadecimal digits at pos; false when fewer are there.
bool take_hex_digits(const std::string &text, size_t &pos, size_t min, size_t max)
{
    size_t count = 0;
    while (pos < text.size() && count < max && std::isxdigit(static_cast<unsigned char>(text[pos]))) {
        ++pos;
        ++count;
    }
    return count >= min;
}

bool take_char(const std::string &text, size_t &pos, char expected)
{
    if (pos >= text.size() || text[pos] != expected)
        return false;
    ++pos;
    return true;
}

} // namespace

std::string join_bus_address(const std::string &busnumber, const std::string &devicenumber,
                             const std::string &funcnumber)
{
    return busnumber + ":" + devicenumber + "." + funcnumber;
}

bool is_pci_address(const std::string &text)
{
    size_t pos = 0;
    // The domain is optional: "05:00.0" names a function of domain 0.
    if (!take_hex_digits(text, pos, 1, 8) || !take_char(text, pos, ':') || text.find(':', pos) == std::string::npos)
        pos = 0;
    if (!take_hex_digits(text, pos, 1, 2) || !take_char(text, pos, ':'))
        return false;
    if (!take_hex_digits(text, pos, 1, 2) || !take_char(text, pos, '.'))
        return false;
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '7')
        return false;
    return pos + 1 == text.size();
}
