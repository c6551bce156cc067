// The demo server of the README: one adapter per situation that a mode
// shows, and a catalog whose versions are out of numeric order.

#include "sim_server.h"

namespace sim {

namespace {

FlashDevice flash_device(const std::string &address, const std::string &version, const std::string &psid,
                         const std::string &mac)
{
    FlashDevice dev;
    dev.address = address;
    dev.fw_version = version;
    dev.psid = psid;
    dev.base_mac = mac;
    return dev;
}

void add_connectx5(SimServer &server)
{
    // Dual-port: two functions of one device; the utility lists the device once.
    for (const auto &[address, netif] : {std::pair{"0000:05:00.0", "eth0"}, std::pair{"0000:05:00.1", "eth1"}}) {
        server.add_function({address, 0x020000, 0x15b3, 0x1017, 0x15b3, 0x0007, netif});
        server.add_flash_device(flash_device(address, "16.10.700", "MT_0000000080", "b8cef60a1234"));
    }
    // Text order would pick 16.9.1000; the newest is 16.35.2000.
    for (const char *version : {"16.9.1000", "16.35.2000", "16.10.700"}) {
        const std::string file = std::string("fw-ConnectX5-") + version + ".bin";
        server.add_image({file, "MT_0000000080", version});
    }
}

void add_connectx4_lx(SimServer &server)
{
    // Ports enumerated as two devices with the same PSID and Base MAC: the second is skipped.
    for (const auto &[address, netif] : {std::pair{"0000:06:00.0", "eth2"}, std::pair{"0000:07:00.0", "eth3"}}) {
        server.add_function({address, 0x020000, 0x15b3, 0x1015, 0x15b3, 0x0003, netif});
        server.add_flash_device(flash_device(address, "14.32.1010", "MT_2420110034", "98039b1f2c40"));
    }
    server.add_image({"fw-ConnectX4Lx-14.32.1010.bin", "MT_2420110034", "14.32.1010"});
}

CatalogEntry entry(const char *name, const char *devid, const char *psid, const char *subdevid, const char *rom,
                   const std::string &file)
{
    return {name, "15B3", devid, "15B3", psid, subdevid, rom, file};
}

} // namespace

void build_demo_server(SimServer &server)
{
    server.set_mokutil("SecureBoot disabled");
    server.add_function({"0000:03:00.0", 0x020000, 0x8086, 0x1533, 0x8086, 0x0001, "eno1"});
    add_connectx5(server);
    add_connectx4_lx(server);
    server.set_catalog({
        entry("ConnectX-5 EN", "1017", "MT_0000000080", "0007", "16.9.1000", "fw-ConnectX5-16.9.1000.bin"),
        entry("ConnectX-5 EN", "1017", "MT_0000000080", "0007", "16.35.2000", "fw-ConnectX5-16.35.2000.bin"),
        entry("ConnectX-5 EN", "1017", "MT_0000000080", "0007", "16.10.700", "fw-ConnectX5-16.10.700.bin"),
        entry("ConnectX-4 Lx EN", "1015", "MT_2420110034", "0003", "14.32.1010", "fw-ConnectX4Lx-14.32.1010.bin"),
    });
    server.set_getmlnxinfo("0000:05:00.0", "demo-server#fw-ConnectX5-16.35.2000.bin image for 0000:05:00.0");
}

} // namespace sim
