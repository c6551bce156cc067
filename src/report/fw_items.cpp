// The firmware item of a report device and the action it recommends.
#include "report/fw_items.h"

#include <vector>

#include "core/versions.h"
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
    if (nic.has(nic_complete))
        types.emplace_back("ROM");
    return types;
}

} // namespace

void build_XML_FW_item_version(const std::string & /*pFwtype*/, std::string &pAttribute, const nic_info &nic)
{
    const std::vector<std::string> versions = sorted_image_versions(nic);
    pAttribute = versions.empty() ? std::string() : versions.back();
}

void build_XML_FW_item_active_version(const std::string & /*pFwtype*/, std::string &pAttribute, const nic_info &nic)
{
    pAttribute = version_text(nic.current);
}

void recommend_XML_FW_action(const std::string &pFwtype, std::string &pAttribute, const nic_info &nic)
{
    pAttribute.clear();
    if (!is_rom_type(pFwtype) || !nic.has(nic_complete))
        return;

    for (const catalog_image &image : nic.images) {
        if (image.version > nic.current) {
            pAttribute = "upgrade";
            return;
        }
    }
    for (const catalog_image &image : nic.images) {
        if (image.version == nic.current) {
            pAttribute = "rewrite";
            return;
        }
    }
    pAttribute = nic.images.empty() ? "Nothing" : "downgrade";
}

bool write_XML_FW_item(event_log &log, xmlTextWriterPtr writer, const nic_info &nic)
{
    std::string value;
    bool ok = true;
    for (const std::string &type : image_types(nic)) {
        ok &= xmlTextWriterStartElement(writer, xml_text("fw_item")) >= 0;
        ok &= write_value_item(writer, "type", type);
        ok &= write_value_item(writer, "firmware_id", carried_value(log, "firmware_id", nic.psid.value_or(""), nic));
        build_XML_FW_item_version(type, value, nic);
        ok &= write_value_item(writer, "version", value);
        build_XML_FW_item_active_version(type, value, nic);
        ok &= write_value_item(writer, "active_version", value);
        recommend_XML_FW_action(type, value, nic);
        ok &= write_value_item(writer, "action", value);
        ok &= write_value_item(writer, "duration", is_rom_type(type) ? "210" : "0");
        ok &= write_value_item(writer, "message", "");
        ok &= write_value_item(writer, "shared", "no");
        ok &= xmlTextWriterEndElement(writer) >= 0;
    }
    return ok;
}
