#pragma once

// Shared by the upgrade-run tests: simulated servers with one adapter per
// port, images and catalog entries for them, and readers of the burns that
// the stand-in flash tool received.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim_server.h"

namespace upgrade_test {

using Calls = std::vector<std::vector<std::string>>;

const std::string k_psid = "MT_0000000080";
const std::string k_port_a = "0000:05:00.0";
const std::string k_port_b = "0000:06:00.0";
const std::string k_mac_a = "b8cef6000510";
const std::string k_mac_b = "b8cef6000520";

// One adapter port: its PCI function and what the flash tool reports for it.
inline sim::FlashDevice add_port(sim::SimServer &server, const std::string &address, const std::string &installed,
                                 const std::string &mac)
{
    sim::PciFunction fn;
    fn.address = address;
    server.add_function(fn);
    sim::FlashDevice dev;
    dev.address = address;
    dev.fw_version = installed;
    dev.psid = k_psid;
    dev.base_mac = mac;
    server.add_flash_device(dev);
    return dev;
}

// An image for the ports' board and its catalog entry.
inline sim::CatalogEntry image_entry(sim::SimServer &server, const std::string &version, const std::string &file,
                                     const std::string &name = "ConnectX-5 EN")
{
    sim::Image image;
    image.file = file;
    image.psid = k_psid;
    image.version = version;
    server.add_image(image);
    sim::CatalogEntry entry;
    entry.name = name;
    entry.rom = version;
    entry.fwFile = file;
    return entry;
}

// A server whose ports A (and B, when b_installed is given) have the board's
// one image, 16.35.2000.
inline void two_ports(sim::SimServer &server, const std::string &a_installed, const std::string &b_installed = "")
{
    add_port(server, k_port_a, a_installed, k_mac_a);
    if (!b_installed.empty())
        add_port(server, k_port_b, b_installed, k_mac_b);
    server.set_catalog({image_entry(server, "16.35.2000", "fw-16.35.2000.bin")});
}

inline bool is_burn(const std::vector<std::string> &call)
{
    return !call.empty() && call.back() == "b";
}

inline Calls burns(const sim::SimServer &server)
{
    Calls found;
    for (const auto &call : server.tool_calls())
        if (is_burn(call))
            found.push_back(call);
    return found;
}

inline std::vector<std::string> burn_argv(const std::string &address, const std::string &image, bool silent = false,
                                          const std::string &program = "mstflint")
{
    std::vector<std::string> argv {program};
    if (silent)
        argv.push_back("-s");
    for (const std::string &word : {std::string("-y"), std::string("-d"), address, std::string("-i"),
                                    "./nic_fw/" + image, std::string("b")})
        argv.push_back(word);
    return argv;
}

inline size_t count_of(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// Log entries carry a time stamp; this strips "[tag] [time] " down to the
// tag, so a test can compare whole entries.
inline std::string log_without_times(const std::string &log)
{
    std::string out;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t open = line.find(" [");
        const size_t close = line.find("] ", open == std::string::npos ? 0 : open + 2);
        if (line.starts_with("[") && open == 11 && close != std::string::npos)
            line = line.substr(0, 11) + line.substr(close + 2);
        out += line + "\n";
    }
    return out;
}

// The simulated /tmp after a run holds only the inventory's query-error
// file, which is kept for the operator; no copy of the tool's output stays.
inline void expect_no_burn_files_left(const sim::SimServer &server)
{
    const std::vector<std::string> left = server.tmp_files();
    EXPECT_LE(left.size(), 1u);
    for (const std::string &name : left) {
        std::ifstream in(std::filesystem::path(server.root()) / "tmp" / name);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str().find("FW version"), std::string::npos) << name << " holds the tool's output";
    }
}

} // namespace upgrade_test
