// Stand-in for the Mellanox flash tool (installed as nic_fw/mstflint and as
// /usr/bin/flint). Answers the query and burn command lines from the
// per-device state of the simulated server and records every call.

#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "../sim_state.h"

namespace {

using sim::state::KeyValues;
using sim::state::value_of;

struct Request {
    std::string command;  // "q" or "b"
    std::optional<std::string> device;
    std::optional<std::string> image;
    bool yes = false;
    bool silent = false;
    bool help = false;
};

std::string program_name(const char *argv0)
{
    std::string name = argv0;
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

int usage_error(const std::string &program, const std::string &why)
{
    std::cerr << "-E- " << why << "\n"
              << "    Usage: " << program << " [-s] [-y] -d <device> [-i <image>] <q|query|b|burn>\n";
    return 1;
}

// Parses the options the utility uses; anything else is a usage error.
std::optional<Request> parse(int argc, char **argv, std::string &why)
{
    Request req;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if ((word == "-d" || word == "--device" || word == "-i" || word == "--image") && i + 1 < argc) {
            const bool device = word == "-d" || word == "--device";
            (device ? req.device : req.image) = argv[++i];
        } else if (word == "-y" || word == "--yes") {
            req.yes = true;
        } else if (word == "-s" || word == "--silent") {
            req.silent = true;
        } else if (word == "-h" || word == "--help") {
            req.help = true;
        } else if ((word == "q" || word == "query" || word == "b" || word == "burn") && req.command.empty()) {
            req.command = word.substr(0, 1);
        } else {
            why = "Unexpected argument: \"" + word + "\"";
            return std::nullopt;
        }
    }
    if (req.help)
        return req;
    if (req.command.empty())
        why = "No command given";
    else if (!req.device)
        why = "Missing device (-d)";
    else if (req.command == "q" && (req.image || req.yes))
        why = "The query command takes only a device";
    else if (req.command == "b" && !req.image)
        why = "Missing image file (-i)";
    return why.empty() ? std::optional<Request>(req) : std::nullopt;
}

int cannot_open_device(const std::string &address)
{
    std::cerr << "-E- Cannot open Device: " << address << ". No such file or directory\n";
    return 1;
}

void print_field(const std::string &label, const std::string &value)
{
    std::printf("%-23s%s\n", (label + ":").c_str(), value.c_str());
}

int query(const std::string &address, const KeyValues &dev)
{
    if (sim::state::number_of(dev, "query_fails"))
        return cannot_open_device(address);
    std::optional<std::string> version = value_of(dev, "fw_version");
    std::optional<std::string> psid = value_of(dev, "psid");
    std::optional<std::string> mac = value_of(dev, "base_mac");

    std::fputs(value_of(dev, "extra_query_lines").value_or("").c_str(), stdout);
    print_field("Image type", "FS4");
    if (version)
        print_field("FW Version", *version);
    print_field("FW Release Date", "30.3.2023");
    if (version)
        print_field("Product Version", *version);
    print_field("Rom Info", "type=UEFI version=14.29.15 cpu=AMD64");
    print_field("Description", "UID                GuidsNumber");
    if (mac && mac->size() == 12)
        print_field("Base GUID", mac->substr(0, 6) + "0300" + mac->substr(6) + "        4");
    if (mac)
        print_field("Base MAC", *mac + "        4");
    print_field("Image VSD", "N/A");
    print_field("Device VSD", "N/A");
    if (psid)
        print_field("PSID", *psid);
    print_field("Security Attributes", "N/A");
    return 0;
}

bool confirmed()
{
    std::printf("\n Do you want to continue ? (y/n) [n] : ");
    std::string answer;
    return std::getline(std::cin, answer) && (answer == "y" || answer == "Y");
}

int burn(const std::string &file, const Request &req, KeyValues dev)
{
    const std::string &address = *req.device;
    std::optional<KeyValues> image = sim::state::read_key_values(*req.image);
    if (!image) {
        std::cerr << "-E- Cannot open " << *req.image << ": No such file or directory\n";
        return 1;
    }
    std::optional<std::string> image_psid = value_of(*image, "psid");
    std::optional<std::string> image_version = value_of(*image, "version");
    if (!image_psid || !image_version) {
        std::cerr << "-E- " << *req.image << ": not a valid firmware image\n";
        return 1;
    }
    std::optional<std::string> psid = value_of(dev, "psid");
    if (psid != image_psid) {
        std::cerr << "-E- Burning FW image failed: PSID Mismatch. The image PSID (" << *image_psid
                  << ") differs from the device PSID (" << psid.value_or("none") << ").\n";
        return 1;
    }

    std::printf("\n    Current FW version on flash:  %s\n    New FW version:               %s\n",
                value_of(dev, "fw_version").value_or("N/A").c_str(), image_version->c_str());
    if (!req.yes && !confirmed()) {
        std::cerr << "-E- Aborted by user\n";
        return 1;
    }
    std::printf("\nBurning FW image without signatures%s", req.silent ? "" : " - 0%");

    if (int seconds = sim::state::number_of(dev, "burn_seconds"); seconds > 0)
        sleep(static_cast<unsigned>(seconds));
    if (sim::state::number_of(dev, "burn_killed"))
        raise(SIGKILL);
    if (int code = sim::state::number_of(dev, "burn_exit"); code != 0) {
        std::cerr << "\n-E- Burning FW image failed: flash write error on " << address << "\n";
        return code;
    }

    dev["fw_version"] = *image_version;
    if (!sim::state::write_key_values(file, dev)) {
        std::cerr << "\n-E- Burning FW image failed: could not save the device state\n";
        return 1;
    }
    std::printf("%s\nRestoring signature                     - OK\n", req.silent ? "  - OK" : " - 100% - OK");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string state = sim::state::state_dir_from_env();
    const std::string program = program_name(argv[0]);
    if (state.empty()) {
        std::cerr << "-E- " << program << " (simulated): neither ROVAN_SIM_STATE nor ROVAN_SYSROOT is set\n";
        return 99;
    }
    sim::state::append_call(state, argc, argv);
    // Unbuffered, so that progress shown before a failure or a kill is not lost
    // and the order with the error stream is kept.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    std::string why;
    std::optional<Request> req = parse(argc, argv, why);
    if (!req)
        return usage_error(program, why);
    if (req->help) {
        std::printf("    %s - Mellanox firmware burning and diagnostics tool (simulated)\n"
                    "    Usage: %s [-s] [-y] -d <device> [-i <image>] <q|query|b|burn>\n",
                    program.c_str(), program.c_str());
        return 0;
    }

    const std::string file = sim::state::device_file(state, *req->device);
    std::optional<KeyValues> dev = sim::state::read_key_values(file);
    if (!dev)
        return cannot_open_device(*req->device);
    return req->command == "q" ? query(*req->device, *dev) : burn(file, *req, *dev);
}
