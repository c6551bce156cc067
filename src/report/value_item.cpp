// Writing one value item of the report.
#include "report/value_item.h"

const xmlChar *xml_text(const char *text)
{
    return reinterpret_cast<const xmlChar *>(text);
}

void write_value_item(xmlTextWriterPtr writer, const char *name, const std::string &value)
{
    xmlTextWriterStartElement(writer, xml_text(name));
    xmlTextWriterWriteAttribute(writer, xml_text("value"), xml_text(value.c_str()));
    xmlTextWriterEndElement(writer);
}
