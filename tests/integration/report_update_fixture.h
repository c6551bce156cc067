#pragma once

// Shared by the -u tests: a simulated server with flash devices, catalog and
// images, and reports written by hand.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sim_server.h"

namespace report_test {

// One device element of a hand-written report, in the writer's item order.
struct ReportDevice {
    std::string device_id = "eth2";
    std::string venid = "15B3";
    std::string devid = "1017";
    std::string subvenid = "15B3";
    std::string subdevid = "0007";
    std::string mac = "b8cef6000000";
    std::string product = "ConnectX-5 EN";
    std::string busnumber = "0000:05";
    std::string devicenumber = "00";
    std::string funcnumber = "0";
    std::string psid = "MT_0000000080";
    std::string version = "16.35.2000";
    std::string active_version = "16.34.1002";
    std::string action = "upgrade";
};

inline std::string item(const std::string &name, const std::string &value, int depth)
{
    return std::string(static_cast<size_t>(depth) * 4, ' ') + "<" + name + " value=\"" + value + "\"/>\n";
}

inline std::vector<std::string> device_items(const ReportDevice &d)
{
    return {item("device_id", d.device_id, 3),       item("venid", d.venid, 3),
            item("devid", d.devid, 3),               item("subvenid", d.subvenid, 3),
            item("subdevid", d.subdevid, 3),         item("macaddress", d.mac, 3),
            item("product_id", d.product, 3),        item("busnumber", d.busnumber, 3),
            item("devicenumber", d.devicenumber, 3), item("funcnumber", d.funcnumber, 3),
            item("slotnumber", "", 3),               item("nictype", "MELLANOX", 3)};
}

inline std::vector<std::string> fw_items(const ReportDevice &d)
{
    return {item("type", "ROM", 4),         item("firmware_id", d.psid, 4), item("version", d.version, 4),
            item("active_version", d.active_version, 4), item("action", d.action, 4),
            item("duration", "210", 4),     item("message", "", 4),         item("shared", "no", 4)};
}

inline std::string join(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line;
    return text;
}

inline std::string device_element(const std::vector<std::string> &items, const std::vector<std::string> &fw)
{
    return "        <device>\n" + join(items) + "            <fw_item>\n" + join(fw) + "            </fw_item>\n" +
           "        </device>\n";
}

inline std::string device_element(const ReportDevice &d)
{
    return device_element(device_items(d), fw_items(d));
}

inline std::string report_text(const std::string &device_elements)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<valtrix_rom_discovery version=\"2.0.0.0\">\n" +
           item("type", "MELLANOX_NIC", 1) +
           item("alt_name", "Valtrix Mellanox InfiniBand Online Firmware Upgrade Utility for Linux", 1) +
           item("version", "1.0.0", 1) + item("takes_effect", "reboot", 1) + "    <devices>\n" + device_elements +
           "    </devices>\n</valtrix_rom_discovery>\n";
}

inline std::string report_text(const std::vector<ReportDevice> &devices)
{
    std::string elements;
    for (const ReportDevice &d : devices)
        elements += device_element(d);
    return report_text(elements);
}

inline std::string pci_address(const ReportDevice &d)
{
    return d.busnumber + ":" + d.devicenumber + "." + d.funcnumber;
}

inline std::vector<std::string> burn_call(const std::string &address, const std::string &image_file)
{
    return {"mstflint", "-s", "-y", "-d", address, "-i", "./nic_fw/" + image_file, "b"};
}

class ReportUpdate : public ::testing::Test {
protected:
    // A device of the default board at the address, installed 16.34.1002.
    void add_device(const std::string &address, int burn_exit = 0)
    {
        sim::FlashDevice dev;
        dev.address = address;
        dev.fw_version = "16.34.1002";
        dev.burn_exit = burn_exit;
        server.add_flash_device(dev);
    }
    // The default catalog entry with its image file.
    void add_default_image() { catalog({sim::CatalogEntry {}}); }
    void catalog(const std::vector<sim::CatalogEntry> &entries)
    {
        server.set_catalog(entries);
        for (const sim::CatalogEntry &e : entries) {
            if (e.fwFile && e.psid && e.rom)
                server.add_image({*e.fwFile, *e.psid, *e.rom});
        }
    }
    static sim::CatalogEntry entry(const std::string &rom, const std::string &file)
    {
        sim::CatalogEntry e;
        e.rom = rom;
        e.fwFile = file;
        return e;
    }

    sim::Result update(const std::vector<ReportDevice> &devices, const std::string &option = "-u")
    {
        server.write_package_file("report.xml", report_text(devices));
        return server.run({option, "report.xml"});
    }
    sim::Result update_text(const std::string &xml, const std::string &option = "-u")
    {
        server.write_package_file("report.xml", xml);
        return server.run({option, "report.xml"});
    }

    // The calls of one stand-in, by its argv[0].
    std::vector<std::vector<std::string>> calls_of(const std::string &program) const
    {
        std::vector<std::vector<std::string>> found;
        for (const auto &call : server.tool_calls()) {
            if (!call.empty() && call[0] == program)
                found.push_back(call);
        }
        return found;
    }
    std::vector<std::vector<std::string>> burns() const { return calls_of("mstflint"); }

    bool logged(const std::string &tag, const std::string &text) const
    {
        const std::string log = server.log();
        for (size_t at = log.find(tag + " ["); at != std::string::npos; at = log.find(tag + " [", at + 1)) {
            const size_t close = log.find("] ", at + tag.size() + 2);
            if (close != std::string::npos && log.compare(close + 2, text.size(), text) == 0)
                return true;
        }
        return false;
    }
    bool logged_error(const std::string &text) const { return logged("[ERROR]    ", text); }

    // Answer files of getmlnxinfo left in the package directory.
    std::vector<std::string> answer_files() const
    {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(server.package_dir())) {
            const std::string name = e.path().filename().string();
            if (name.size() == 10 && name.rfind("data", 0) == 0)
                names.push_back(name);
        }
        return names;
    }

    sim::SimServer server;
};

} // namespace report_test
