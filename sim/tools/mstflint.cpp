// Stand-in for the Mellanox flash tool, installed as nic_fw/mstflint and as
// /usr/bin/flint: "--help", and the query and burn command lines that the
// utility runs, answered from the per-device state of the simulated server.

#include <csignal>
#include <filesystem>
#include <iostream>
#include <sys/file.h>
#include <sys/wait.h>

#include "../sim_state.h"

namespace {

using sim::state::number;
using sim::state::read_text;

int usage_error(const std::string &program, const std::string &why)
{
    std::cerr << "-E- " << why << "\n    Usage: " << program << " [-s] [-y] -d <device> [-i <image>] <q|b>\n";
    return 1;
}

int cannot_open_device(const std::string &address)
{
    std::cerr << "-E- Cannot open Device: " << address << ". No such file or directory\n";
    return 1;
}

void field(const std::string &label, const std::string &value)
{
    std::printf("%-23s%s\n", (label + ":").c_str(), value.c_str());
}

// Notes a process of a slow query, so that a test can tell whether it was left running.
void note_query_pid(const std::string &dev)
{
    const std::string line = std::to_string(getpid()) + "\n";
    const int fd = open((dev + "/query_pids").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    while (write(fd, line.data(), line.size()) < 0 && errno == EINTR) {
    }
    close(fd);
}

// A slow query, as a real tool reading the adapter's flash: the wait is shared with a helper
// process, as a tool's own children would be.
void wait_like_a_flash_read(const std::string &dev, int ms)
{
    const pid_t helper = fork();
    note_query_pid(dev);
    usleep(static_cast<useconds_t>(ms) * 1000);
    if (helper == 0)
        _exit(0);
    if (helper > 0)
        waitpid(helper, nullptr, 0);
}

// The adapter's flash, held by the query (and its helper) until they end: false when another query holds it.
bool take_adapter_flash(const std::string &state, const std::string &dev)
{
    const std::string adapter = read_text(dev + "/psid").value_or("") + "-" + read_text(dev + "/base_mac").value_or("");
    const int fd = open((state + "/adapter-" + sim::state::file_name(adapter) + ".lock").c_str(),
                        O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    return fd < 0 || flock(fd, LOCK_EX | LOCK_NB) == 0;
}

int query(const std::string &state, const std::string &dev, const std::string &address)
{
    if (number(dev + "/one_query_per_adapter") && !take_adapter_flash(state, dev)) {
        std::cerr << "-E- Cannot open Device: " << address << ". Device or resource busy\n";
        return 1;
    }
    // A signal to the utility while it verifies a burn: sent, then the answer comes only later.
    if (int sig = number(dev + "/signal_in_verify"); sig > 0 && std::filesystem::exists(dev + "/burned")) {
        kill(getppid(), sig);
        usleep(300000);
    }
    if (int ms = number(dev + "/query_ms"); ms > 0)
        wait_like_a_flash_read(dev, ms);
    if (number(dev + "/query_fails"))
        return cannot_open_device(address);
    const std::optional<std::string> version = read_text(dev + "/fw_version");
    const std::optional<std::string> mac = read_text(dev + "/base_mac");
    const std::optional<std::string> psid = read_text(dev + "/psid");
    std::fputs(read_text(dev + "/extra_query_lines").value_or("").c_str(), stdout);
    field("Image type", "FS4");
    if (version)
        field("FW Version", *version);
    field("FW Release Date", "30.3.2023");
    if (version)
        field("Product Version", *version);
    field("Rom Info", "type=UEFI version=14.29.15 cpu=AMD64");
    field("Description", "UID                GuidsNumber");
    if (mac && mac->size() == 12)
        field("Base GUID", mac->substr(0, 6) + "0300" + mac->substr(6) + "        4");
    if (mac)
        field("Base MAC", *mac + "        4");
    field("Image VSD", "N/A");
    field("Device VSD", "N/A");
    if (psid)
        field("PSID", *psid);
    field("Security Attributes", "N/A");
    return 0;
}

int burn(const std::string &state, const std::string &dev, const std::string &address, const std::string &image,
         bool silent)
{
    const std::optional<std::string> text = read_text(image);
    if (!text) {
        std::cerr << "-E- Cannot open " << image << ": No such file or directory\n";
        return 1;
    }
    std::istringstream lines(*text);
    std::string head, image_psid, version;
    if (!std::getline(lines, head) || head != sim::state::k_image_head || !std::getline(lines, image_psid) ||
        !std::getline(lines, version)) {
        std::cerr << "-E- " << image << ": not a valid firmware image\n";
        return 1;
    }
    const std::optional<std::string> psid = read_text(dev + "/psid");
    if (psid != image_psid) {
        std::cerr << "-E- Burning FW image failed: PSID Mismatch. The image PSID (" << image_psid
                  << ") differs from the device PSID (" << psid.value_or("none") << ").\n";
        return 1;
    }
    std::printf("\n    Current FW version on flash:  %s\n    New FW version:               %s\n",
                read_text(dev + "/fw_version").value_or("N/A").c_str(), version.c_str());
    std::printf("\nBurning FW image without signatures%s", silent ? "" : " - 0%");
    if (int seconds = number(dev + "/burn_seconds"); seconds > 0)
        sleep(static_cast<unsigned>(seconds));
    while (std::filesystem::exists(state + "/hold_burns"))
        usleep(10000);
    if (number(dev + "/burn_killed"))
        raise(SIGKILL);
    if (int code = number(dev + "/burn_exit")) {
        std::cerr << "\n-E- Burning FW image failed: flash write error on " << address << "\n";
        return code;
    }
    if (number(dev + "/silent_after_burn"))
        sim::state::write_text(dev + "/query_fails", "1");
    if (!number(dev + "/burn_keeps_old") && !sim::state::write_text(dev + "/fw_version", version)) {
        std::cerr << "\n-E- Burning FW image failed: could not save the device state\n";
        return 1;
    }
    sim::state::write_text(dev + "/burned", "1");
    std::printf("%s\nRestoring signature                     - OK\n", silent ? "  - OK" : " - 100% - OK");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string state = sim::state::begin_call(argc, argv);
    const std::string program = std::filesystem::path(argv[0]).filename().string();
    // Unbuffered, so that progress shown before a failure or a kill is not lost.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    // Only the shapes that the utility uses; a burn without -y would ask, which the utility never wants.
    std::optional<std::string> device, image;
    bool yes = false, silent = false;
    std::string command;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if ((word == "-d" || word == "-i") && i + 1 < argc)
            (word == "-d" ? device : image) = argv[++i];
        else if (word == "-y" || word == "-s")
            (word == "-y" ? yes : silent) = true;
        else if ((word == "q" || word == "b" || word == "--help") && command.empty())
            command = word;
        else
            return usage_error(program, "Unexpected argument: \"" + word + "\"");
    }
    if (command == "--help" && argc == 2) {
        std::printf("    Usage: %s [-s] [-y] -d <device> [-i <image>] <q|b>\n", program.c_str());
        return 0;
    }
    const bool is_query = command == "q" && !image && !yes && !silent;
    if (!device || !(is_query || (command == "b" && image && yes)))
        return usage_error(program, "Not a command line of the utility");
    const std::string dev = sim::state::device_dir(state, *device);
    if (!std::filesystem::exists(dev))
        return cannot_open_device(*device);
    return is_query ? query(state, dev, *device) : burn(state, dev, *device, *image, silent);
}
