// The server that scripts/bench.sh times the utility on: many adapters, a large catalog, a long report.

#include "sim_server.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

std::string psid_of(int board)
{
    char text[32];
    std::snprintf(text, sizeof text, "MT_%010d", board);
    return text;
}

std::string hex2(int value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02x", value & 0xff);
    return text;
}

std::string report_item(const std::string &name, const std::string &value)
{
    return "<" + name + " value=\"" + value + "\"/>";
}

} // namespace

void build_bench_server(SimServer &server, int adapters, int catalog_entries, int query_ms, int report_devices,
                        int burn_seconds)
{
    const int boards = std::max(catalog_entries, 1);
    for (int i = 0; i < adapters; ++i) {
        const std::string address = "0000:" + hex2(0x10 + i / 32) + ":" + hex2(i % 32) + ".0";
        server.add_function({.address = address});
        server.add_flash_device({.address = address, .psid = psid_of(i % boards),
                                 .base_mac = "b8cef6" + hex2(i >> 16) + hex2(i >> 8) + hex2(i), .query_ms = query_ms,
                                 .burn_seconds = std::max(burn_seconds, 0)});
    }
    std::vector<CatalogEntry> catalog;
    for (int i = 0; i < catalog_entries; ++i) {
        catalog.push_back({.psid = psid_of(i), .rom = "16.35." + std::to_string(i % 3000)});
        // Newer than what the adapters have, for the boards they carry.
        if (burn_seconds >= 0 && i < adapters) {
            catalog.back().rom = "16.36.0";
            catalog.back().fwFile = "bench-" + psid_of(i) + ".bin";
            server.add_image({*catalog.back().fwFile, psid_of(i), "16.36.0"});
        }
    }
    server.set_catalog(catalog);

    std::string report = "<?xml version=\"1.0\"?>\n<valtrix_rom_discovery version=\"2.0.0.0\"><devices>\n";
    for (int i = 0; i < report_devices; ++i)
        report += "<device>" + report_item("device_id", "eth" + std::to_string(i)) + report_item("venid", "15B3") +
                  report_item("devid", "1017") + report_item("subvenid", "15B3") + report_item("subdevid", "0007") +
                  report_item("busnumber", "0000:" + hex2(i / 32)) + report_item("devicenumber", hex2(i % 32)) +
                  report_item("funcnumber", "0") + "<fw_item>" + report_item("type", "ROM") +
                  report_item("firmware_id", psid_of(i * 7919 % boards)) +
                  report_item("active_version", "16.35.1000") + report_item("action", "Nothing") +
                  "</fw_item></device>\n";
    server.write_package_file("bench-report.xml", report + "</devices></valtrix_rom_discovery>\n");
}

} // namespace sim
