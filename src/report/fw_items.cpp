#include "report/fw_items.h"

void write_XML_FW_item(xmlTextWriterPtr *, int) {}
void build_XML_FW_item_version(const std::string &, std::string &pAttribute, uint32_t) { pAttribute.clear(); }
void build_XML_FW_item_active_version(const std::string &, std::string &pAttribute, int) { pAttribute.clear(); }
void recommend_XML_FW_action(const std::string &, std::string &pAttribute, int) { pAttribute.clear(); }
