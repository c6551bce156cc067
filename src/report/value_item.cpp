// Writing one value item of the report.
#include "report/value_item.h"

#include <cstdint>


namespace {

// Length of the UTF-8 sequence at text[i] when it encodes a character XML
// can carry, else 0.
size_t carriable_length(const std::string &text, size_t i)
{
    const auto byte = [&text](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    const unsigned lead = byte(i);
    if (lead < 0x80)
        return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
    size_t len = 0;
    uint32_t code = 0, least = 0;
    if (lead >= 0xc2 && lead <= 0xdf)
        len = 2, code = lead & 0x1f, least = 0x80;
    else if (lead >= 0xe0 && lead <= 0xef)
        len = 3, code = lead & 0x0f, least = 0x800;
    else if (lead >= 0xf0 && lead <= 0xf4)
        len = 4, code = lead & 0x07, least = 0x10000;
    else
        return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80)
            return 0;
        code = code << 6 | (byte(i + k) & 0x3f);
    }
    const bool xml_char = code >= least && code <= 0x10ffff && !(code >= 0xd800 && code <= 0xdfff) &&
                          code != 0xfffe && code != 0xffff;
    return xml_char ? len : 0;
}

} // namespace

std::string carried_value(event_log &log, const char *name, const std::string &value, const nic_info &nic)
{
    std::string carried;
    for (size_t i = 0; i < value.size();) {
        const size_t len = carriable_length(value, i);
        carried += len ? value.substr(i, len) : "?";
        i += len ? len : 1;
    }
    if (carried != value)
        log_mellanox_event(log, LOG_ERROR, "Report item ", name, " of ", nic.pbus_info.value_or(""),
                           " holds bytes that XML cannot carry; each is written as \"?\"\n");
    return carried;
}

const xmlChar *xml_text(const char *text)
{
    return reinterpret_cast<const xmlChar *>(text);
}

bool write_value_item(xmlTextWriterPtr writer, const char *name, const std::string &value)
{
    return xmlTextWriterStartElement(writer, xml_text(name)) >= 0 &&
           xmlTextWriterWriteAttribute(writer, xml_text("value"), xml_text(value.c_str())) >= 0 &&
           xmlTextWriterEndElement(writer) >= 0;
}
