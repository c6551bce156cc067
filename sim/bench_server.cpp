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

    std::vector<ReportDevice> report;
    for (int i = 0; i < report_devices; ++i)
        report.push_back({.bus = "0000:" + hex2(i / 32), .psid = psid_of(i * 7919 % boards),
                          .id = "eth" + std::to_string(i), .devnum = hex2(i % 32), .action = "Nothing",
                          .active_version = "16.35.1000"});
    server.write_package_file("bench-report.xml", discovery_report(report));
}

} // namespace sim
