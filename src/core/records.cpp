// Texts derived from the shared records.
#include "core/records.h"

#include <cstdio>

std::string pci_id_text(int32_t id)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(id));
    return text;
}
