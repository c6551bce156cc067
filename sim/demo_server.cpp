// The demo server of the README: one adapter per situation that a mode
// shows, and a catalog whose versions are out of numeric order.

#include "sim_server.h"

namespace sim {

namespace {

// Functions of one adapter's devices, each with its flash state and interface.
void add_ports(SimServer &server, unsigned device, unsigned subsystem_device, const std::string &version,
               const std::string &psid, const std::string &mac,
               const std::vector<std::pair<std::string, std::string>> &ports)
{
    for (const auto &[address, netif] : ports) {
        server.add_function({address, 0x020000, 0x15b3, device, 0x15b3, subsystem_device, netif});
        server.add_flash_device({.address = address, .fw_version = version, .psid = psid, .base_mac = mac});
    }
}

} // namespace

void build_demo_server(SimServer &server)
{
    server.set_mokutil("SecureBoot disabled");
    server.add_function({"0000:03:00.0", 0x020000, 0x8086, 0x1533, 0x8086, 0x0001, "eno1"});
    // Dual-port: two functions of one device; the utility lists the device once.
    add_ports(server, 0x1017, 0x0007, "16.10.700", "MT_0000000080", "b8cef60a1234",
              {{"0000:05:00.0", "eth0"}, {"0000:05:00.1", "eth1"}});
    // Ports enumerated as two devices with the same PSID and Base MAC: the second is skipped.
    add_ports(server, 0x1015, 0x0003, "14.32.1010", "MT_2420110034", "98039b1f2c40",
              {{"0000:06:00.0", "eth2"}, {"0000:07:00.0", "eth3"}});

    // Text order would pick 16.9.1000; the newest is 16.35.2000.
    std::vector<CatalogEntry> catalog;
    for (const char *version : {"16.9.1000", "16.35.2000", "16.10.700"}) {
        const std::string file = std::string("fw-ConnectX5-") + version + ".bin";
        catalog.push_back({"ConnectX-5 EN", "15B3", "1017", "15B3", "MT_0000000080", "0007", version, file});
    }
    catalog.push_back({"ConnectX-4 Lx EN", "15B3", "1015", "15B3", "MT_2420110034", "0003", "14.32.1010",
                       "fw-ConnectX4Lx-14.32.1010.bin"});
    server.set_catalog(catalog, true);
    server.set_getmlnxinfo("0000:05:00.0", "demo-server#fw-ConnectX5-16.35.2000.bin image for 0000:05:00.0");
}

} // namespace sim
