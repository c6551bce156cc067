// The report of a fuzzed inventory: written, it is well-formed and reads back to the same devices and values.
#include <algorithm>
#include <tuple>

#include "checks.h"
#include "core/pci_address.h"
#include "report/report_reader.h"
#include "report/report_writer.h"

namespace {

// The text with every byte XML 1.0 cannot carry (a control character, a byte of no valid UTF-8
// sequence, a code point XML excludes) as "?"; written apart from the writer's own cleaning, to check it.
std::string xml_carriable(std::string_view text)
{
    std::string out;
    const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    for (size_t pos = 0; pos < text.size();) {
        const unsigned lead = byte(pos);
        const size_t length = lead < 0x80                    ? 1
                              : lead >= 0xC2 && lead <= 0xDF ? 2
                              : lead >= 0xE0 && lead <= 0xEF ? 3
                              : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                             : 0;
        uint32_t cp = length == 1 ? lead : lead & (0x7Fu >> length);
        bool ok = length > 0;
        for (size_t i = 1; ok && i < length; ++i) {
            ok = (byte(pos + i) & 0xC0) == 0x80;
            cp = cp << 6 | (byte(pos + i) & 0x3F);
        }
        // The shortest form of a character XML allows.
        ok = ok && !(length == 3 && cp < 0x800) && !(length == 4 && cp < 0x10000) &&
             (cp >= 0x20 || cp == '\t' || cp == '\n' || cp == '\r') &&
             (cp < 0xD800 || (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF));
        out += ok ? text.substr(pos, length) : "?";
        pos += ok ? length : 1;
    }
    return out;
}

// Takes the fields of an inventory from the input, byte by byte; zeros once it is used up.
struct byte_source {
    std::string_view in;
    uint32_t number(size_t bytes)
    {
        uint32_t value = 0;
        for (size_t i = 0; i < bytes; ++i) {
            value = value << 8 | (in.empty() ? 0u : static_cast<uint8_t>(in.front()));
            in.remove_prefix(in.empty() ? 0 : 1);
        }
        return value;
    }
    // A text of a length byte and as many bytes as it says (or as are left).
    std::string text()
    {
        const size_t length = std::min<size_t>(number(1), in.size());
        std::string out(in.substr(0, length));
        in.remove_prefix(length);
        return out;
    }
};

// One port: a shape byte says which texts it has and how many images. Values from the flash tool and sysfs
// (device_id, macaddress, firmware_id) reach the writer raw, which writes "?" for each byte XML cannot carry;
// the others never hold such bytes where rovan takes them (a bus address it printed, catalog texts libxml2
// parsed), so they are made carriable first.
nic_info take_port(byte_source &in)
{
    const uint32_t shape = in.number(1);
    nic_info nic;
    nic.flags = shape & 0x01 ? uint32_t {nic_complete} : 0;
    // A record without an address value is none of the inventory's; its text is not written.
    if (shape & 0x02)
        nic.pbus_info = xml_carriable(in.text());
    else
        nic.set_address({in.number(2), static_cast<uint8_t>(in.number(1)), static_cast<uint8_t>(in.number(1) & 0x1f),
                         static_cast<uint8_t>(in.number(1) & 7)});
    nic.pinterfacename = shape & 0x04 ? in.text() : nic.pbus_info;
    for (int32_t nic_info::*id : {&nic_info::ven_id, &nic_info::dev_id, &nic_info::sub_ven_id, &nic_info::sub_dev_id})
        nic.*id = static_cast<int32_t>(in.number(2));
    if (shape & 0x08)
        nic.pcurrent_mac = in.text();
    if (shape & 0x10)
        nic.pPort = xml_carriable(in.text());
    if (shape & 0x20)
        nic.psid = in.text();
    nic.current = {in.number(4), in.number(4), in.number(4)};
    for (uint32_t i = 0; i < (shape >> 6); ++i) {
        catalog_image image;
        image.version = {in.number(4), in.number(4), in.number(4)};
        image.name = xml_carriable(in.text());
        image.file = xml_carriable(in.text());
        nic.images.push_back(image);
    }
    return nic;
}

check_result compare(const nic_info &port, const report_device &device)
{
    const nic_info &rec = device.rec;
    // Each text as written and as read back, which must be what XML can carry of it.
    const std::tuple<const char *, opt_text, opt_text> texts[] = {
        {"device_id", port.pinterfacename, rec.pinterfacename}, {"macaddress", port.pcurrent_mac, rec.pcurrent_mac},
        {"slotnumber", port.pPort, rec.pPort}, {"firmware_id", port.psid, device.firmware_id}};
    for (const auto &[item, wrote, read] : texts) {
        if (read != xml_carriable(wrote.value_or("")))
            return std::string(item) + " written as " + printable(xml_carriable(wrote.value_or(""))) +
                   " reads back as " + printable(read.value_or("(none)"));
    }
    if (std::tie(rec.ven_id, rec.dev_id, rec.sub_ven_id, rec.sub_dev_id) !=
        std::tie(port.ven_id, port.dev_id, port.sub_ven_id, port.sub_dev_id))
        return "the PCI IDs do not read back";
    if (!rec.has(nic_complete) || rec.current != port.current)
        return "the installed version does not read back";
    // Every action but "Nothing" asks for a burn, and "Nothing" is written only for a board without images.
    if (rec.has(nic_flash_requested) == port.images.empty())
        return "the action does not read back as the images ask";
    if (rec.address != port.address || (port.address && rec.pbus_info != port.address->text()))
        return "the bus address " + (port.address ? port.address->text() : "(none)") + " reads back as " +
               printable(rec.pbus_info.value_or("(none)"));
    return std::nullopt;
}

} // namespace

// The input is an inventory of up to eight ports, field by field.
check_result check_report_roundtrip(std::string_view input)
{
    byte_source in {input};
    std::vector<nic_info> ports;
    while (!in.in.empty() && ports.size() < 8)
        ports.push_back(take_port(in));

    const std::string path = (scratch_dir() / "roundtrip.xml").string();
    event_log nowhere;
    if (xml_discovery_report(nowhere, ports, path))
        return "the writer could not write the report";
    const std::optional<std::vector<report_device>> devices = read_report_devices(nowhere, path);
    if (!devices)
        return "the report written is not well-formed";
    std::erase_if(ports, [](const nic_info &port) { return !port.has(nic_complete); });
    if (devices->size() != ports.size())
        return std::to_string(ports.size()) + " complete ports read back as " + std::to_string(devices->size()) +
               " devices";
    for (size_t i = 0; i < ports.size(); ++i) {
        if (check_result failed = compare(ports[i], (*devices)[i]))
            return "device " + std::to_string(i + 1) + ": " + *failed;
    }
    return std::nullopt;
}
