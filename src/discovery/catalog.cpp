#include "discovery/catalog.h"

int read_NIC_FW_xml_file(const std::string &, std::vector<XMLFW_INFO> &pXmlFwInfo)
{
    pXmlFwInfo.clear();
    return 0;
}
