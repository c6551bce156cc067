// Reading the firmware catalog into memory once and matching its entries against an adapter's key.
#include "discovery/catalog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include <libxml/xmlreader.h>

#include "core/package_files.h"

namespace {

opt_text text_of(const xmlChar *value)
{
    if (!value)
        return std::nullopt;
    return std::string(reinterpret_cast<const char *>(value));
}

// "%4s": shorter fields are padded on the left with blanks, so they never
// equal a four-digit key group.
std::string padded4(const std::string &field)
{
    return field.size() < 4 ? std::string(4 - field.size(), ' ') + field : field;
}

// The comparison key of the working entry; nothing while it lacks a part.
std::optional<std::string> entry_key(const XMLFW_INFO &e)
{
    if (!e.pxmlVenId || !e.pxmlDevId || !e.pxmlSubVenId || !e.pxmlSubDevId || !e.pxmlPSID)
        return std::nullopt;
    return padded4(*e.pxmlVenId) + "-" + padded4(*e.pxmlDevId) + "-" + padded4(*e.pxmlSubVenId) + "-" +
           padded4(*e.pxmlSubDevId) + "-" + *e.pxmlPSID;
}

XMLFW_INFO accepted_copy(const XMLFW_INFO &e)
{
    XMLFW_INFO copy;
    copy.pxmlVenId = e.pxmlVenId;
    copy.pxmlDevId = e.pxmlDevId;
    copy.pxmlSubVenId = e.pxmlSubVenId;
    copy.pxmlPSID = e.pxmlPSID;
    copy.pxmlSubDevId = e.pxmlSubDevId;
    copy.pxmlName = e.pxmlName;
    return copy;
}

std::optional<catalog_attr> attr_of(const std::string &name)
{
    static const std::pair<const char *, catalog_attr> names[] = {
        {"name", catalog_attr::name},         {"venid", catalog_attr::venid}, {"devid", catalog_attr::devid},
        {"PSID", catalog_attr::psid},         {"subvenid", catalog_attr::subvenid},
        {"subdevid", catalog_attr::subdevid}, {"rom", catalog_attr::rom},     {"fwFile", catalog_attr::fw_file}};
    for (const auto &[text, attr] : names) {
        if (name == text)
            return attr;
    }
    return std::nullopt;
}

struct reader_closer {
    void operator()(xmlTextReader *r) const { xmlFreeTextReader(r); }
};

void no_error_output(void *, const char *, ...) {}

// Holds libxml2's generic error output quiet: a failed character conversion is reported there,
// outside the reader's own options.
struct quiet_generic_errors {
    xmlGenericErrorFunc saved = xmlGenericError;
    void *saved_context = xmlGenericErrorContext;
    quiet_generic_errors() { xmlSetGenericErrorFunc(nullptr, no_error_output); }
    ~quiet_generic_errors() { xmlSetGenericErrorFunc(saved_context, saved); }
    quiet_generic_errors(const quiet_generic_errors &) = delete;
    quiet_generic_errors &operator=(const quiet_generic_errors &) = delete;
};

// The text handed to the reader as a file would be, piece by piece as the reader asks.
struct text_source {
    const std::string &text;
    size_t at = 0;

    static int read(void *context, char *buffer, int len)
    {
        text_source &source = *static_cast<text_source *>(context);
        const size_t n = std::min(static_cast<size_t>(std::max(len, 0)), source.text.size() - source.at);
        std::memcpy(buffer, source.text.data() + source.at, n);
        source.at += n;
        return static_cast<int>(n);
    }
};

opt_text value_at(const parsed_catalog &catalog, long index)
{
    return index < 0 ? std::nullopt : catalog.attributes[static_cast<size_t>(index)].value;
}

// The comparisons and the open "rom" and "fwFile" attributes, walking the rule as if no
// comparison matched: then the rest of an element past its "subdevid" is passed over.
void index_catalog(parsed_catalog &c)
{
    long name = -1, venid = -1, devid = -1, psid = -1;
    bool subvenid_seen = false;
    bool past_comparison = false;
    for (size_t i = 0; i < c.attributes.size(); ++i) {
        const catalog_attribute &attr = c.attributes[i];
        if (i > 0 && attr.node != c.attributes[i - 1].node) {
            if (past_comparison)
                c.comparisons.back().node_end = i;
            past_comparison = false;
        }
        if (past_comparison) {
            parsed_catalog::comparison &cmp = c.comparisons.back();
            if (attr.kind == catalog_attr::rom)
                cmp.own_rom = static_cast<long>(i);
            else if (attr.kind == catalog_attr::fw_file)
                cmp.own_fw_file = static_cast<long>(i);
            else
                cmp.sets_entry_after = true;
            continue;
        }
        const long at = static_cast<long>(i);
        switch (attr.kind) {
        case catalog_attr::name: name = at; break;
        case catalog_attr::venid: venid = at; break;
        case catalog_attr::devid: devid = at; break;
        case catalog_attr::psid: psid = at; break;
        case catalog_attr::subvenid: subvenid_seen = true; break;
        case catalog_attr::rom: c.open_roms.push_back(i); break;
        case catalog_attr::fw_file: c.open_fw_files.push_back(i); break;
        case catalog_attr::subdevid: {
            past_comparison = true;
            c.comparisons.push_back({i, c.attributes.size(), name, venid, devid, psid, subvenid_seen});
            const opt_text v = value_at(c, venid), d = value_at(c, devid), p = value_at(c, psid);
            if (subvenid_seen && v && d && p)
                c.index[padded4(*v) + "-" + padded4(*d) + '\0' + *p].push_back(c.comparisons.size() - 1);
            break;
        }
        }
    }
}

// The last open attribute in [from, to), if any.
std::optional<size_t> last_open(const std::vector<size_t> &open, size_t from, size_t to)
{
    auto it = std::lower_bound(open.begin(), open.end(), to);
    if (it == open.begin() || *--it < from)
        return std::nullopt;
    return *it;
}

// The whole file; nothing, with the system's reason in *error, when it cannot be read.
std::optional<std::string> read_file(const char *path, int *error)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    *error = errno;
    if (fd < 0)
        return std::nullopt;
    std::string text;
    std::vector<char> buf(65536);
    for (;;) {
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        // A catalog read in part is no catalog.
        if (n < 0) {
            *error = errno;
            close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        text.append(buf.data(), static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

} // namespace

std::string catalog_key(const nic_info &nic, const std::string &psid)
{
    return pci_id_text(nic.ven_id) + "-" + pci_id_text(nic.dev_id) + "-" + pci_id_text(nic.sub_ven_id) + "-" +
           pci_id_text(nic.sub_dev_id) + "-" + psid;
}

std::optional<parsed_catalog> parse_catalog(const std::string &xml)
{
    parsed_catalog catalog;
    xmlCheckVersion(20706);
    text_source source {xml};
    // A broken catalog is reported as one that cannot be opened, with nothing of the parser's own.
    const quiet_generic_errors quiet;
    std::unique_ptr<xmlTextReader, reader_closer> reader(xmlReaderForIO(
        text_source::read, nullptr, &source, k_catalog_file, nullptr, XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!reader)
        return std::nullopt;
    int last = 0;
    for (uint32_t node = 0; (last = xmlTextReaderRead(reader.get())) == 1; ++node) {
        const int count = xmlTextReaderAttributeCount(reader.get());
        for (int i = 0; i < count; ++i) {
            if (xmlTextReaderMoveToNextAttribute(reader.get()) != 1)
                continue;
            const std::optional<catalog_attr> kind =
                attr_of(reinterpret_cast<const char *>(xmlTextReaderConstName(reader.get())));
            if (kind)
                catalog.attributes.push_back({*kind, node, text_of(xmlTextReaderConstValue(reader.get()))});
        }
    }
    // A catalog cut short (a package copied in part) lacks entries, perhaps the newest image of a
    // board: what it holds before the break would offer the wrong image.
    if (last != 0)
        return std::nullopt;
    index_catalog(catalog);
    return catalog;
}

std::vector<XMLFW_INFO> walk_catalog(const parsed_catalog &catalog, const std::string &pciIdString,
                                     const nic_info &nic)
{
    std::vector<XMLFW_INFO> found;
    XMLFW_INFO working;
    std::optional<uint32_t> passed_over; // the element whose key did not match
    for (const catalog_attribute &attr : catalog.attributes) {
        if (passed_over == attr.node)
            continue;
        switch (attr.kind) {
        case catalog_attr::name: working.pxmlName = attr.value; break;
        case catalog_attr::venid: working.pxmlVenId = attr.value; break;
        case catalog_attr::devid: working.pxmlDevId = attr.value; break;
        case catalog_attr::psid: working.pxmlPSID = attr.value; break;
        // The adapter's own subsystem IDs stand in for the catalog's.
        case catalog_attr::subvenid: working.pxmlSubVenId = pci_id_text(nic.sub_ven_id); break;
        case catalog_attr::subdevid:
            working.pxmlSubDevId = pci_id_text(nic.sub_dev_id);
            if (entry_key(working) != pciIdString)
                passed_over = attr.node;
            else
                found.push_back(accepted_copy(working));
            break;
        case catalog_attr::rom:
            if (!found.empty())
                found.back().pxmlRom = attr.value;
            break;
        case catalog_attr::fw_file:
            if (!found.empty())
                found.back().pxmlFwImage = attr.value;
            break;
        }
    }
    return found;
}

std::vector<XMLFW_INFO> match_catalog(const parsed_catalog &catalog, const std::string &pciIdString,
                                      const nic_info &nic)
{
    const std::string sub_ven = pci_id_text(nic.sub_ven_id), sub_dev = pci_id_text(nic.sub_dev_id);
    // The key is "<venid>-<devid>" + middle + "<PSID>"; the middle may occur more than once.
    const std::string middle = "-" + padded4(sub_ven) + "-" + padded4(sub_dev) + "-";
    std::vector<size_t> hits;
    for (size_t at = pciIdString.find(middle); at != std::string::npos; at = pciIdString.find(middle, at + 1)) {
        const auto it = catalog.index.find(pciIdString.substr(0, at) + '\0' + pciIdString.substr(at + middle.size()));
        if (it != catalog.index.end())
            hits.insert(hits.end(), it->second.begin(), it->second.end());
    }
    std::sort(hits.begin(), hits.end());
    hits.erase(std::unique(hits.begin(), hits.end()), hits.end());

    std::vector<XMLFW_INFO> found;
    for (size_t j = 0; j < hits.size(); ++j) {
        const parsed_catalog::comparison &cmp = catalog.comparisons[hits[j]];
        // Past a match such an element changes what later elements are compared with.
        if (cmp.sets_entry_after)
            return walk_catalog(catalog, pciIdString, nic);
        XMLFW_INFO entry;
        entry.pxmlName = value_at(catalog, cmp.name);
        entry.pxmlVenId = value_at(catalog, cmp.venid);
        entry.pxmlDevId = value_at(catalog, cmp.devid);
        entry.pxmlSubVenId = sub_ven;
        entry.pxmlSubDevId = sub_dev;
        entry.pxmlPSID = value_at(catalog, cmp.psid);
        // Up to the next accepted entry's comparison, the last open "rom" wins over the element's own.
        const size_t to = j + 1 < hits.size() ? catalog.comparisons[hits[j + 1]].at : catalog.attributes.size();
        const std::optional<size_t> rom = last_open(catalog.open_roms, cmp.node_end, to);
        const std::optional<size_t> fw_file = last_open(catalog.open_fw_files, cmp.node_end, to);
        entry.pxmlRom = value_at(catalog, rom ? static_cast<long>(*rom) : cmp.own_rom);
        entry.pxmlFwImage = value_at(catalog, fw_file ? static_cast<long>(*fw_file) : cmp.own_fw_file);
        found.push_back(std::move(entry));
    }
    return found;
}

std::optional<std::vector<XMLFW_INFO>> firmware_catalog::read_NIC_FW_xml_file(event_log &log,
                                                                               const std::string &pciIdString,
                                                                               const nic_info &nic)
{
    if (!parsed_) {
        int error = 0;
        const std::optional<std::string> text = read_file(k_catalog_file, &error);
        if (text)
            parsed_ = parse_catalog(*text);
        if (!parsed_) {
            log_mellanox_event(log, LOG_ERROR, "Unable to open ", k_catalog_file, "\n");
            failure_ = text ? std::string(k_catalog_file) + " is not well-formed XML"
                            : "cannot read " + std::string(k_catalog_file) + ": " + std::strerror(error);
            return std::nullopt;
        }
    }
    return match_catalog(*parsed_, pciIdString, nic);
}
