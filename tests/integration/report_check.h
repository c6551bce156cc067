#pragma once

// Reading back the discovery reports that rovan-sim writes: the element tree,
// the items of each device, and validation against the report's schema.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>

namespace report_check {

struct xml_node {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::vector<xml_node> children; // elements only
};

inline xml_node to_node(xmlNodePtr element)
{
    xml_node node;
    node.name = reinterpret_cast<const char *>(element->name);
    for (xmlAttrPtr attr = element->properties; attr; attr = attr->next) {
        xmlChar *value = xmlNodeListGetString(element->doc, attr->children, 1);
        node.attributes[reinterpret_cast<const char *>(attr->name)] =
            value ? reinterpret_cast<const char *>(value) : "";
        xmlFree(value);
    }
    for (xmlNodePtr child = element->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE)
            node.children.push_back(to_node(child));
    }
    return node;
}

// The root element of a report, or nothing when the text is not well-formed XML.
inline std::optional<xml_node> parse_report(const std::string &text)
{
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "report.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc)
        return std::nullopt;
    std::optional<xml_node> root;
    if (xmlNodePtr element = xmlDocGetRootElement(doc))
        root = to_node(element);
    xmlFreeDoc(doc);
    return root;
}

inline std::vector<std::string> child_names(const xml_node &node)
{
    std::vector<std::string> names;
    for (const xml_node &child : node.children)
        names.push_back(child.name);
    return names;
}

using items = std::vector<std::pair<std::string, std::string>>;

// Name and value of each data item directly under node, in document order.
inline items value_items(const xml_node &node)
{
    items found;
    for (const xml_node &child : node.children) {
        if (child.children.empty()) {
            auto it = child.attributes.find("value");
            found.emplace_back(child.name, it == child.attributes.end() ? "<no value>" : it->second);
        }
    }
    return found;
}

inline const xml_node *child_named(const xml_node &node, const std::string &name)
{
    for (const xml_node &child : node.children) {
        if (child.name == name)
            return &child;
    }
    return nullptr;
}

// The device elements of a report.
inline std::vector<xml_node> devices_of(const xml_node &root)
{
    const xml_node *devices = child_named(root, "devices");
    return devices ? devices->children : std::vector<xml_node>{};
}

// The value of one item of a device, looking into its fw_item too.
inline std::string device_value(const xml_node &device, const std::string &item)
{
    for (const xml_node *node : {&device, child_named(device, "fw_item")}) {
        if (!node)
            continue;
        for (const auto &[name, value] : value_items(*node)) {
            if (name == item)
                return value;
        }
    }
    return "<no " + item + ">";
}

inline std::string schema_path()
{
    return (std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "docs" /
            "discovery-report.xsd")
        .string();
}

inline std::string shell_quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Whether xmllint accepts the file as a discovery report.
inline bool schema_valid(const std::string &path)
{
    const std::string command =
        "xmllint --noout --schema " + shell_quote(schema_path()) + " " + shell_quote(path) + " 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

// Names in a directory, hidden ones included.
inline std::vector<std::string> directory_entries(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace report_check
