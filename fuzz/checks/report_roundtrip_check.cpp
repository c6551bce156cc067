// The report of a fuzzed inventory: written, it is well-formed and reads back to the same devices and values.
#include <algorithm>

#include "checks.h"
#include "core/bus_address.h"
#include "discovery/pci_enum.h"
#include "report/report_reader.h"
#include "report/report_writer.h"
#include "support.h"

namespace {

// Values from the flash tool and sysfs (device_id, macaddress, firmware_id) reach the writer raw: it
// writes "?" for each byte XML cannot carry. The others never hold such bytes where rovan takes them
// (a bus address it printed, catalog texts libxml2 parsed), so they are made carriable first.

// Takes the fields of an inventory from the input, byte by byte; zeros once it is used up.
class byte_source {
public:
    explicit byte_source(std::string_view in) : in_(in) {}
    bool empty() const { return in_.empty(); }
    uint32_t number(size_t bytes)
    {
        uint32_t value = 0;
        for (size_t i = 0; i < bytes; ++i)
            value = value << 8 | byte();
        return value;
    }
    // A text of a length byte and as many bytes as it says (or as are left).
    std::string text()
    {
        const size_t length = std::min<size_t>(byte(), in_.size());
        std::string out(in_.substr(0, length));
        in_.remove_prefix(length);
        return out;
    }

private:
    uint8_t byte()
    {
        if (in_.empty())
            return 0;
        const auto b = static_cast<uint8_t>(in_.front());
        in_.remove_prefix(1);
        return b;
    }
    std::string_view in_;
};

std::string writable(const std::string &raw)
{
    return xml_carriable(raw);
}

// One port: a shape byte says which texts it has and how many images.
nic_info take_port(byte_source &in)
{
    const uint32_t shape = in.number(1);
    nic_info nic;
    nic.flags = shape & 0x01 ? uint32_t {nic_complete} : 0;
    if (shape & 0x02)
        nic.pbus_info = writable(in.text());
    else
        nic.pbus_info = pci_address_text(static_cast<int>(in.number(2)), static_cast<int>(in.number(1)),
                                         static_cast<int>(in.number(1) & 0x1f), static_cast<int>(in.number(1) & 7));
    nic.pinterfacename = shape & 0x04 ? in.text() : nic.pbus_info;
    nic.ven_id = static_cast<int32_t>(in.number(2));
    nic.dev_id = static_cast<int32_t>(in.number(2));
    nic.sub_ven_id = static_cast<int32_t>(in.number(2));
    nic.sub_dev_id = static_cast<int32_t>(in.number(2));
    if (shape & 0x08)
        nic.pcurrent_mac = in.text();
    if (shape & 0x10)
        nic.pPort = writable(in.text());
    if (shape & 0x20)
        nic.psid = in.text();
    nic.current = {in.number(4), in.number(4), in.number(4)};
    for (uint32_t i = 0; i < (shape >> 6); ++i) {
        catalog_image image;
        image.version = {in.number(4), in.number(4), in.number(4)};
        image.name = writable(in.text());
        image.file = writable(in.text());
        nic.images.push_back(image);
    }
    return nic;
}

// What the reader must give back for a written value.
std::string read_back(const opt_text &value)
{
    return xml_carriable(value.value_or(""));
}

check_result compare(const nic_info &port, const report_device &device, size_t idx)
{
    const nic_info &rec = device.rec;
    const std::string where = "device " + std::to_string(idx + 1) + ": ";
    const auto differs = [&](const char *item, const std::string &wrote, const std::string &read) {
        return where + item + " written as " + printable(wrote) + " reads back as " + printable(read);
    };
    if (rec.pinterfacename != read_back(port.pinterfacename))
        return differs("device_id", read_back(port.pinterfacename), rec.pinterfacename.value_or("(none)"));
    if (rec.ven_id != port.ven_id || rec.dev_id != port.dev_id || rec.sub_ven_id != port.sub_ven_id ||
        rec.sub_dev_id != port.sub_dev_id)
        return where + "the PCI IDs do not read back";
    if (rec.pcurrent_mac != read_back(port.pcurrent_mac))
        return differs("macaddress", read_back(port.pcurrent_mac), rec.pcurrent_mac.value_or("(none)"));
    if (rec.pPort != read_back(port.pPort))
        return differs("slotnumber", read_back(port.pPort), rec.pPort.value_or("(none)"));
    if (device.firmware_id != read_back(port.psid))
        return differs("firmware_id", read_back(port.psid), device.firmware_id);
    if (!rec.has(nic_complete) || rec.current != port.current)
        return where + "the installed version does not read back";
    // Every action but "Nothing" asks for a burn, and "Nothing" is written only for a board without images.
    if (rec.has(nic_flash_requested) == port.images.empty())
        return where + "the action does not read back as the images ask";
    const std::string address = port.pbus_info.value_or("");
    // The writer splits the domain form; the report's own address form is the reader's business.
    if (is_pci_address(address) && std::count(address.begin(), address.end(), ':') == 2 && rec.pbus_info != address)
        return differs("bus address", address, rec.pbus_info.value_or("(none)"));
    return std::nullopt;
}

} // namespace

// The input is an inventory of up to eight ports, field by field.
check_result check_report_roundtrip(std::string_view input)
{
    byte_source in(input);
    std::vector<nic_info> ports;
    while (!in.empty() && ports.size() < 8)
        ports.push_back(take_port(in));

    const std::string path = (scratch_dir() / "roundtrip.xml").string();
    event_log nowhere;
    if (xml_discovery_report(nowhere, ports, path))
        return "the writer could not write the report";
    const std::optional<std::vector<report_device>> devices = read_report_devices(nowhere, path);
    if (!devices)
        return "the report written is not well-formed";

    std::vector<const nic_info *> complete;
    for (const nic_info &port : ports) {
        if (port.has(nic_complete))
            complete.push_back(&port);
    }
    if (devices->size() != complete.size())
        return std::to_string(complete.size()) + " complete ports read back as " + std::to_string(devices->size()) +
               " devices";
    for (size_t i = 0; i < complete.size(); ++i) {
        if (check_result failed = compare(*complete[i], (*devices)[i], i))
            return failed;
    }
    return std::nullopt;
}
