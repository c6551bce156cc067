#pragma once

#include <cstdint>
#include <string>

#include <libxml/xmlwriter.h>

// Writes the fw_item of record IdxNic: one per image type of the record.
void write_XML_FW_item(xmlTextWriterPtr *writer, int IdxNic);

// The highest catalog version of record uIdx; empty when it has no image.
void build_XML_FW_item_version(const std::string &pFwtype, std::string &pAttribute, uint32_t uIdx);

// The installed version of record IdxNic.
void build_XML_FW_item_active_version(const std::string &pFwtype, std::string &pAttribute, int IdxNic);

// "upgrade", "rewrite", "downgrade" or "Nothing"; the first two set bit 1 of flags.
void recommend_XML_FW_action(const std::string &pFwtype, std::string &pAttribute, int IdxNic);
