// Reading and writing PCI addresses, and a report's address items.
#include "core/pci_address.h"

#include <algorithm>
#include <cctype>

namespace {

// Consumes 1 to most hexadecimal digits at pos into value; false when none are there.
bool take_hex(std::string_view text, size_t &pos, size_t most, uint32_t &value)
{
    const size_t start = pos;
    value = 0;
    while (pos < text.size() && pos - start < most && std::isxdigit(static_cast<unsigned char>(text[pos]))) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[pos++])));
        value = value * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    return pos > start;
}

bool take_char(std::string_view text, size_t &pos, char expected)
{
    if (pos >= text.size() || text[pos] != expected)
        return false;
    ++pos;
    return true;
}

std::string hex(uint32_t value, size_t width)
{
    std::string out;
    do {
        out.insert(out.begin(), "0123456789abcdef"[value % 16]);
        value /= 16;
    } while (value != 0);
    if (out.size() < width)
        out.insert(0, width - out.size(), '0');
    return out;
}

} // namespace

std::optional<pci_address> pci_address::parse(std::string_view text)
{
    // Two colons: the domain is there; one: it is left out.
    const auto colons = std::count(text.begin(), text.end(), ':');
    if (colons != 1 && colons != 2)
        return std::nullopt;
    size_t pos = 0;
    uint32_t domain = 0, bus = 0, slot = 0;
    if (colons == 2 && !(take_hex(text, pos, 8, domain) && take_char(text, pos, ':')))
        return std::nullopt;
    if (!take_hex(text, pos, 2, bus) || !take_char(text, pos, ':') || !take_hex(text, pos, 2, slot) ||
        !take_char(text, pos, '.'))
        return std::nullopt;
    if (pos + 1 != text.size() || text[pos] < '0' || text[pos] > '7' || domain > 0x7fffffff)
        return std::nullopt;
    return pci_address {domain, static_cast<uint8_t>(bus), static_cast<uint8_t>(slot),
                        static_cast<uint8_t>(text[pos] - '0')};
}

std::string pci_address::text() const
{
    return hex(domain, 4) + ":" + hex(bus, 2) + ":" + hex(slot, 2) + "." + std::to_string(function);
}

bus_items bus_items_of(const pci_address &address)
{
    return {hex(address.domain, 4) + ":" + hex(address.bus, 2), hex(address.slot, 2),
            std::to_string(address.function)};
}

std::string join_bus_address(const std::string &busnumber, const std::string &devicenumber,
                             const std::string &funcnumber)
{
    return busnumber + ":" + devicenumber + "." + funcnumber;
}
