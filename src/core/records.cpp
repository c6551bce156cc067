// Texts derived from the shared records, and a record's address.
#include "core/records.h"

#include <cstdio>
#include <utility>

std::string pci_id_text(int32_t id)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(id));
    return text;
}

void nic_info::set_address(const pci_address &value)
{
    address = value;
    pbus_info = value.text();
}

void nic_info::set_address_text(std::string text)
{
    address = pci_address::parse(text);
    pbus_info = std::move(text);
}
