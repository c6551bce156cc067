// The simulated server: fake sysfs, PCI ID database, stand-in tools and a package, and runs of the utility on it.
#pragma once

// A simulated server for driving rovan-sim (and, in a private mount
// namespace, rovan) as an operator would: fake sysfs, fake PCI ID database,
// stand-in outside programs with per-device state, a package directory.

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sim {

// One PCI function as libpci and sysfs show it.
struct PciFunction {
    std::string address {};         // "0000:05:00.0"
    unsigned pci_class = 0x020000;  // sysfs "class": base class, subclass, programming interface
    unsigned vendor = 0x15b3;
    unsigned device = 0x1017;
    unsigned subsystem_vendor = 0x15b3;
    unsigned subsystem_device = 0x0007;
    std::string netif {};           // name of its /sys/class/net link; empty: none
};

// What the stand-in flash tool knows of one device, by address.
struct FlashDevice {
    std::string address {};
    std::optional<std::string> fw_version = "16.35.2000"; // no "FW Version:" line when absent
    std::optional<std::string> psid = "MT_0000000080";    // no "PSID:" line when absent
    std::optional<std::string> base_mac = "b8cef6000000"; // no "Base MAC:" line when absent
    std::string extra_query_lines {}; // written verbatim before the usual query lines
    bool query_fails = false;       // query prints "-E- Cannot open Device: ..." and exits 1
    int query_ms = 0;               // the query waits this long first, with a helper process of its own
    bool one_query_per_adapter = false; // while a query of a device with the same PSID and Base MAC (and this
                                        // setting) runs, the query is refused: "-E- ... busy", exit 1
    int burn_exit = 0;              // non-zero: the burn prints an error and exits with it
    bool burn_killed = false;       // the burn ends itself by SIGKILL
    int burn_seconds = 0;           // the burn waits this long before it finishes
    bool burn_keeps_old = false;    // the burn exits 0 but leaves the old firmware
    bool silent_after_burn = false; // once burned, every query fails
    int signal_in_verify = 0;       // once burned, a query sends this signal to its parent, answers 300 ms later
};

// A firmware image file in nic_fw/; the stand-in burn checks its PSID.
struct Image {
    std::string file {};     // name within nic_fw/
    std::string psid {};
    std::string version {};  // what the device reports after a burn of it
};

// One catalog element, attributes written in this order (absent ones left out):
// name, venid, devid, subvenid, PSID, subdevid, rom, fwFile.
struct CatalogEntry {
    std::optional<std::string> name = "ConnectX-5 EN";
    std::optional<std::string> venid = "15B3";
    std::optional<std::string> devid = "1017";
    std::optional<std::string> subvenid = "15B3";
    std::optional<std::string> psid = "MT_0000000080";
    std::optional<std::string> subdevid = "0007";
    std::optional<std::string> rom = "16.35.2000";
    std::optional<std::string> fwFile = "fw-16.35.2000.bin";
};

// One device of a discovery report as a deployment manager hands it over: its IDs in lower case, as a hand may
// write them, a single firmware item.
struct ReportDevice {
    std::string bus = "0000:05", psid = "MT_0000000080", id = "eth2", venid = "15b3", devnum = "00", func = "0";
    std::optional<std::string> action = "upgrade"; // absent: no action item
    std::string active_version = "16.34.1002";
};

// The text of a discovery report of these devices, each with its items in the writer's order, and then the text
// after them as it stands.
std::string discovery_report(const std::vector<ReportDevice> &devices, const std::string &after = "");

struct Result {
    int status = -1;     // exit status, or 128 + signal when ended by a signal
    int term_signal = 0; // the signal that ended the run, if any
    std::string out {};
    std::string err {};
};

// A fresh server has no PCI functions, no flash devices, an empty catalog, no
// images, the default PCI ID database, no mokutil (so Secure Boot counts as
// disabled, and the shell's "not found" reaches standard error), no mst and no
// /usr/bin/flint; its package holds nic_fw/mstflint and getmlnxinfo. Its
// temporary directory lies in the build tree, not in /tmp, so that a private
// mount of /tmp does not hide it.
class SimServer {
public:
    // A fresh server in a new temporary directory (removed by the destructor),
    // or in dir (kept) when one is given.
    explicit SimServer(const std::string &dir = "");
    ~SimServer();
    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    std::string root() const;         // the ROVAN_SYSROOT of the server
    std::string package_dir() const;  // the working directory of a run

    // Each of these writes its part of the server at once.
    void add_function(const PciFunction &fn);
    void add_flash_device(const FlashDevice &dev);
    // A port: the function fn (a ConnectX-5 by default) at dev's address, and its flash.
    void add_port(const FlashDevice &dev, PciFunction fn = {});
    void add_image(const Image &image);
    // With images, each entry's fwFile is written too, an image of its PSID and rom version.
    void set_catalog(const std::vector<CatalogEntry> &entries, bool with_images = false);
    void set_catalog_text(const std::string &xml);  // nic_fw/NICFWData.xml verbatim
    void remove_catalog();
    // The PCI ID database; the default names vendors 15b3 and 8086. Absent: no file.
    void set_pci_ids(const std::optional<std::string> &text);
    // First line of the Secure Boot query tool; absent: no such tool.
    void set_mokutil(const std::optional<std::string> &first_line);
    // The adapter service tool: absent when not installed, else exit statuses.
    void set_mst(bool installed, int status_exit = 0, int start_exit = 0);
    // The boot time /proc/stat gives; a fresh server booted when it was built.
    void set_boot_time(std::time_t when);
    // The installed flash tool /usr/bin/flint (the same stand-in as the package's).
    void set_installed_flint(bool installed);
    // Answer of ./getmlnxinfo for a bus address: first output line, exit status, and how long it waits first.
    void set_getmlnxinfo(const std::string &address, const std::string &answer, int exit_status = 0, int wait_ms = 0);
    void write_package_file(const std::string &relative_path, const std::string &content);

    // Runs rovan-sim (or the given binary; a relative one is taken from the
    // package directory) in the package directory with ROVAN_SYSROOT and
    // ROVAN_SIM_STATE set, env added on top, and input as all of standard input.
    // A run still going after the timeout is killed and reported by an exception.
    Result run(const std::vector<std::string> &args, const std::string &input = "",
               const std::map<std::string, std::string> &env = {}, const std::string &binary = "") const;
    // The same, started in the background; finish() waits for it.
    pid_t start(const std::vector<std::string> &args, const std::string &input = "",
                const std::map<std::string, std::string> &env = {}, const std::string &binary = "");
    Result finish(pid_t pid);
    // rovan-sim started in the background as an operator's session: a pseudo-terminal is its controlling
    // terminal and its standard input, output and error (all in Result::out). finish() waits for it.
    pid_t start_at_terminal(const std::vector<std::string> &args);
    // Types at the terminal of a run started there ("\x03" is the interrupt character, ^C).
    void type_at_terminal(pid_t pid, const std::string &keys);

    std::string log() const; // mstflint.log, empty when absent or no regular file (a link to /dev/full)
    std::string read_package_file(const std::string &relative_path) const;
    bool package_file_exists(const std::string &relative_path) const;
    // Every call any stand-in received, in order: argv[0] first, then the arguments.
    // An argv[0] under root() is shown without that prefix ("/usr/bin/flint").
    std::vector<std::vector<std::string>> tool_calls() const;
    // The firmware version the stand-in flash tool now reports for a device
    // (empty when it reports none); throws for a device never added.
    std::string device_fw_version(const std::string &address) const;
    // The processes that queries of a device waiting query_ms ran (the stand-in and its helper).
    std::vector<pid_t> query_pids(const std::string &address) const;
    // When the stand-in's burns of a device started, and when those that succeeded ended (ms since the epoch).
    std::vector<long long> burn_times(const std::string &address, bool ends = false) const;
    // Names of the files now in the simulated /tmp, sorted.
    std::vector<std::string> tmp_files() const;

    // Where the stand-ins keep their state (ROVAN_SIM_STATE of a run).
    std::string state_dir() const;
    // Forgets the calls recorded so far.
    void clear_tool_calls();
    void remove_package_file(const std::string &relative_path);
    // While held, every burn waits before it finishes, until released.
    void hold_burns(bool held);
    // Seconds after which run() and finish() kill a run; 60 by default.
    void set_run_timeout(int seconds);

private:
    // A run's input, output and error files live in one directory of sim-runs.
    struct Capture {
        std::string dir;
        std::string description;
        int terminal = -1; // the pseudo-terminal's master side, for a run started at one
    };
    pid_t spawn(const std::vector<std::string> &args, const std::string &input,
                const std::map<std::string, std::string> &env, const std::string &binary, Capture &capture) const;
    Result collect(pid_t pid, const Capture &capture) const;

    std::string root_;
    bool keep_ = false;
    int timeout_seconds_ = 60;
    std::map<pid_t, Capture> started_;
};

// The demo server of the README: adapters, catalog and images that show each mode.
void build_demo_server(SimServer &server);

// A server for timing the utility: adapters (one device each, every one with its own PSID and
// Base MAC, queries waiting query_ms), a catalog of catalog_entries entries that holds every
// adapter's board, and in the package bench-report.xml, a discovery report of report_devices
// devices of the catalog's boards whose actions ask for nothing. With burn_seconds of 0 or more, the catalog
// offers each adapter's board a newer image, whose burn takes that long.
void build_bench_server(SimServer &server, int adapters, int catalog_entries, int query_ms, int report_devices,
                        int burn_seconds = -1);

} // namespace sim
