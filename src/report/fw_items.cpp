#include "report/fw_items.h"

#include <vector>

#include "flash/versions.h"
#include "globals.h"
#include "report/value_item.h"

namespace {

bool is_rom_type(const std::string &pFwtype)
{
    return pFwtype.find("ROM") != std::string::npos;
}

// The image types a record has firmware for; only complete records have one.
std::vector<std::string> image_types(const nic_info &nic)
{
    std::vector<std::string> types;
    if (nic.flags & 1)
        types.emplace_back("ROM");
    return types;
}

} // namespace

void build_XML_FW_item_version(const std::string & /*pFwtype*/, std::string &pAttribute, uint32_t uIdx)
{
    const std::vector<std::string> versions = sorted_image_versions(static_cast<int>(uIdx));
    pAttribute = versions.empty() ? std::string() : versions.back();
}

void build_XML_FW_item_active_version(const std::string & /*pFwtype*/, std::string &pAttribute, int IdxNic)
{
    const nic_info &nic = g_ninfo[static_cast<size_t>(IdxNic)];
    pAttribute = version_text(nic.uCurROMmaj, nic.uCurROMmin, nic.uCurROMrel);
}

void recommend_XML_FW_action(const std::string &pFwtype, std::string &pAttribute, int IdxNic)
{
    nic_info &nic = g_ninfo[static_cast<size_t>(IdxNic)];
    pAttribute.clear();
    if (!is_rom_type(pFwtype) || !(nic.flags & 1))
        return;

    const auto count = static_cast<size_t>(nic.fw_count > 0 ? nic.fw_count : 0);
    for (size_t i = 0; i < count; ++i) {
        if (version_newer(nic.uFwROMmaj[i], nic.uFwROMmin[i], nic.uFwROMrel[i], nic.uCurROMmaj, nic.uCurROMmin,
                          nic.uCurROMrel)) {
            pAttribute = "upgrade";
            nic.flags |= 2;
            return;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        if (nic.uFwROMmaj[i] == nic.uCurROMmaj && nic.uFwROMmin[i] == nic.uCurROMmin &&
            nic.uFwROMrel[i] == nic.uCurROMrel) {
            pAttribute = "rewrite";
            nic.flags |= 2;
            return;
        }
    }
    pAttribute = count > 0 ? "downgrade" : "Nothing";
}

void write_XML_FW_item(xmlTextWriterPtr *writer, int IdxNic)
{
    const nic_info &nic = g_ninfo[static_cast<size_t>(IdxNic)];
    std::string value;
    for (const std::string &type : image_types(nic)) {
        xmlTextWriterStartElement(*writer, xml_text("fw_item"));
        write_value_item(*writer, "type", type);
        write_value_item(*writer, "firmware_id", nic.psid.value_or(""));
        build_XML_FW_item_version(type, value, static_cast<uint32_t>(IdxNic));
        write_value_item(*writer, "version", value);
        build_XML_FW_item_active_version(type, value, IdxNic);
        write_value_item(*writer, "active_version", value);
        recommend_XML_FW_action(type, value, IdxNic);
        write_value_item(*writer, "action", value);
        write_value_item(*writer, "duration", is_rom_type(type) ? "210" : "0");
        write_value_item(*writer, "message", "");
        write_value_item(*writer, "shared", "no");
        xmlTextWriterEndElement(*writer);
    }
}
