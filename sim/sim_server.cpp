// Building the simulated server. Every failure throws: a server that could
// not be built must stop the test, not mislead it.

#include "sim_server.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <iomanip>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

#include "sim_state.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

void write_file(const std::string &path, const std::string &content)
{
    fs::create_directories(fs::path(path).parent_path());
    if (!state::write_text(path, content))
        throw std::runtime_error("simulated server: cannot write " + path);
}

// A fresh copy, so that a running copy of the tool is never written through.
void install_tool(const std::string &tool, const std::string &path)
{
    fs::remove(path);
    fs::copy_file(std::string(SIM_TOOLS_DIR) + "/" + tool, path);
}

std::string hex(unsigned value, int digits)
{
    std::ostringstream text;
    text << "0x" << std::hex << std::setw(digits) << std::setfill('0') << value << "\n";
    return text.str();
}

void put16(std::string &config, size_t at, unsigned value)
{
    config[at] = static_cast<char>(value & 0xff);
    config[at + 1] = static_cast<char>((value >> 8) & 0xff);
}

// A type-0 header without capabilities and without decoded BARs, matching the
// all-zero "resource" file, so that libpci finds nothing to disagree about.
std::string config_space(const PciFunction &fn)
{
    std::string config(256, '\0');
    put16(config, 0x00, fn.vendor);
    put16(config, 0x02, fn.device);
    put16(config, 0x04, 0x0006); // memory space and bus master enabled
    put16(config, 0x09, fn.pci_class & 0xffff);
    config[0x0b] = static_cast<char>((fn.pci_class >> 16) & 0xff);
    put16(config, 0x2c, fn.subsystem_vendor);
    put16(config, 0x2e, fn.subsystem_device);
    config[0x3c] = 16; // interrupt line, as in "irq"
    config[0x3d] = 1;  // INTA
    return config;
}

const char *const k_pci_ids = "# PCI ID database of the simulated server\n"
                              "15b3  Mellanox Technologies\n"
                              "\t1015  MT27710 Family [ConnectX-4 Lx]\n"
                              "\t1017  MT27800 Family [ConnectX-5]\n"
                              "8086  Intel Corporation\n"
                              "\t1533  I210 Gigabit Network Connection\n"
                              "C 02  Network controller\n"
                              "\t00  Ethernet controller\n";

// An attribute value as XML carries it; a literal line end or tab would be read back as a blank.
std::string xml_escape(const std::string &text)
{
    std::string out;
    for (char c : text)
        out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;"
             : c == '\n' ? "&#10;" : c == '\t' ? "&#9;" : c == '\r' ? "&#13;" : std::string(1, c);
    return out;
}

std::string catalog_xml(const std::vector<CatalogEntry> &entries)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<NICFWData>\n";
    for (const CatalogEntry &e : entries) {
        xml += "  <NIC";
        const std::pair<const char *, const std::optional<std::string> *> attributes[] = {
            {"name", &e.name}, {"venid", &e.venid}, {"devid", &e.devid}, {"subvenid", &e.subvenid},
            {"PSID", &e.psid}, {"subdevid", &e.subdevid}, {"rom", &e.rom}, {"fwFile", &e.fwFile}};
        for (const auto &[name, value] : attributes)
            if (*value)
                xml += std::string(" ") + name + "=\"" + xml_escape(**value) + "\"";
        xml += "/>\n";
    }
    return xml + "</NICFWData>\n";
}

} // namespace

std::string discovery_report(const std::vector<ReportDevice> &devices, const std::string &after)
{
    const auto item = [](const std::string &n, const std::string &v) { return "<" + n + " value=\"" + v + "\"/>"; };
    std::string xml = R"(<?xml version="1.0"?><valtrix_rom_discovery version="2.0.0.0"><type value="MELLANOX_NIC"/>)"
                      "<devices>\n";
    for (const ReportDevice &d : devices)
        xml += "<device>" + item("device_id", d.id) + item("venid", d.venid) + R"(<devid value="1017"/>)"
               R"(<subvenid value="15b3"/><subdevid value="0007"/><macaddress value="b8cef6000000"/>)" +
               item("busnumber", d.bus) + item("devicenumber", d.devnum) + item("funcnumber", d.func) + "<fw_item>" +
               R"(<type value="ROM"/>)" + item("firmware_id", d.psid) + item("active_version", d.active_version) +
               (d.action ? item("action", *d.action) : "") + "</fw_item></device>\n";
    return xml + after + "</devices></valtrix_rom_discovery>\n";
}

SimServer::SimServer(const std::string &dir) : keep_(!dir.empty())
{
    // Kept in the build tree: a test that gives a run a private /tmp must not hide its server.
    const fs::path parent = fs::path(SIM_TOOLS_DIR).parent_path() / "sim-servers";
    fs::create_directories(keep_ ? fs::path(dir) : parent);
    std::string pattern = (parent / "server-XXXXXX").string();
    if (!keep_ && !mkdtemp(pattern.data()))
        throw std::runtime_error("simulated server: cannot create a directory in " + parent.string());
    root_ = keep_ ? fs::canonical(dir).string() : pattern;
    try {
        for (const char *sub : {"/sys/bus/pci/devices", "/sys/class/net", "/usr/bin", "/usr/share/misc", "/tmp",
                                "/sim-state/flash", "/sim-state/getmlnxinfo", "/sim-runs", "/package/nic_fw",
                                "/run", "/var/lib"})
            fs::create_directories(root_ + sub);
        set_pci_ids(k_pci_ids);
        set_boot_time(std::time(nullptr));
        set_catalog({});
        install_tool("mstflint", package_dir() + "/nic_fw/mstflint");
        install_tool("getmlnxinfo", package_dir() + "/getmlnxinfo");
    } catch (...) {
        if (!keep_)
            fs::remove_all(root_);
        throw;
    }
}

SimServer::~SimServer()
{
    for (const auto &[pid, capture] : started_) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(keep_ ? root_ + "/sim-runs" : root_, ec);
}

std::string SimServer::root() const { return root_; }
std::string SimServer::package_dir() const { return root_ + "/package"; }
std::string SimServer::state_dir() const { return root_ + "/sim-state"; }

void SimServer::add_function(const PciFunction &fn)
{
    if (!std::regex_match(fn.address, std::regex("[0-9a-f]{4,8}:[0-9a-f]{2}:[0-9a-f]{2}\\.[0-7]")))
        throw std::invalid_argument("simulated server: PCI address \"" + fn.address +
                                    "\" is not of the form 0000:05:00.0");
    const std::string dir = root_ + "/sys/bus/pci/devices/" + fn.address + "/";
    std::string resources;
    for (int i = 0; i < 13; ++i)
        resources += "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";
    const std::pair<const char *, std::string> attributes[] = {
        {"vendor", hex(fn.vendor, 4)}, {"device", hex(fn.device, 4)}, {"class", hex(fn.pci_class, 6)},
        {"subsystem_vendor", hex(fn.subsystem_vendor, 4)}, {"subsystem_device", hex(fn.subsystem_device, 4)},
        {"revision", hex(0, 2)}, {"irq", "16\n"}, {"resource", resources}, {"config", config_space(fn)}};
    for (const auto &[name, content] : attributes)
        write_file(dir + name, content);
    if (fn.netif.empty())
        return;
    // Only the link text matters: it ends in .../<address>/net/<interface>.
    const std::string link = root_ + "/sys/class/net/" + fn.netif;
    fs::remove(link);
    fs::create_symlink("../../devices/pci0000:00/0000:00:01.0/" + fn.address + "/net/" + fn.netif, link);
}

void SimServer::add_flash_device(const FlashDevice &dev)
{
    const std::string dir = state::device_dir(state_dir(), dev.address);
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::pair<const char *, std::optional<std::string>> settings[] = {
        {"fw_version", dev.fw_version}, {"psid", dev.psid}, {"base_mac", dev.base_mac},
        {"extra_query_lines", dev.extra_query_lines}, {"query_fails", std::to_string(dev.query_fails)},
        {"query_ms", std::to_string(dev.query_ms)},
        {"one_query_per_adapter", std::to_string(dev.one_query_per_adapter)},
        {"burn_exit", std::to_string(dev.burn_exit)}, {"burn_killed", std::to_string(dev.burn_killed)},
        {"burn_seconds", std::to_string(dev.burn_seconds)}, {"burn_keeps_old", std::to_string(dev.burn_keeps_old)},
        {"silent_after_burn", std::to_string(dev.silent_after_burn)},
        {"signal_in_verify", std::to_string(dev.signal_in_verify)}};
    for (const auto &[name, value] : settings)
        if (value)
            write_file(dir + "/" + name, *value);
}

void SimServer::add_port(const FlashDevice &dev, PciFunction fn)
{
    fn.address = dev.address;
    add_function(fn);
    add_flash_device(dev);
}

void SimServer::add_image(const Image &image)
{
    write_package_file("nic_fw/" + image.file, state::k_image_head + "\n" + image.psid + "\n" + image.version + "\n");
}

void SimServer::set_catalog(const std::vector<CatalogEntry> &entries, bool with_images)
{
    set_catalog_text(catalog_xml(entries));
    for (const CatalogEntry &e : entries)
        if (with_images && e.fwFile)
            add_image({*e.fwFile, e.psid.value_or(""), e.rom.value_or("")});
}

void SimServer::set_catalog_text(const std::string &xml) { write_package_file("nic_fw/NICFWData.xml", xml); }

void SimServer::remove_catalog() { remove_package_file("nic_fw/NICFWData.xml"); }

void SimServer::set_pci_ids(const std::optional<std::string> &text)
{
    const std::string path = root_ + "/usr/share/misc/pci.ids";
    if (text)
        write_file(path, *text);
    else
        fs::remove(path);
}

void SimServer::set_mokutil(const std::optional<std::string> &first_line)
{
    const std::string path = root_ + "/usr/bin/mokutil";
    fs::remove(path);
    if (first_line) {
        write_file(state_dir() + "/mokutil", *first_line);
        install_tool("mokutil", path);
    }
}

void SimServer::set_mst(bool installed, int status_exit, int start_exit)
{
    const std::string path = root_ + "/usr/bin/mst";
    fs::remove(path);
    fs::remove(state_dir() + "/mst_started");
    if (installed) {
        write_file(state_dir() + "/mst_status_exit", std::to_string(status_exit));
        write_file(state_dir() + "/mst_start_exit", std::to_string(start_exit));
        install_tool("mst", path);
    }
}

void SimServer::set_boot_time(std::time_t when)
{
    write_file(root_ + "/proc/stat", "cpu  1 0 1 100 0 0 0 0 0 0\nintr 0\nctxt 0\nbtime " + std::to_string(when) +
                                         "\nprocesses 1\nprocs_running 1\nprocs_blocked 0\n");
}

void SimServer::set_installed_flint(bool installed)
{
    const std::string path = root_ + "/usr/bin/flint";
    fs::remove(path);
    if (installed)
        install_tool("mstflint", path);
}

void SimServer::set_getmlnxinfo(const std::string &address, const std::string &answer, int exit_status, int wait_ms)
{
    const std::string path = state_dir() + "/getmlnxinfo/" + state::file_name(address);
    write_file(path, answer);
    write_file(path + ".status", std::to_string(exit_status));
    write_file(path + ".wait_ms", std::to_string(wait_ms));
}

void SimServer::write_package_file(const std::string &file, const std::string &content)
{
    write_file(package_dir() + "/" + file, content);
}

void SimServer::remove_package_file(const std::string &file) { fs::remove_all(package_dir() + "/" + file); }

std::string SimServer::log() const
{
    return fs::is_regular_file(package_dir() + "/mstflint.log") ? read_package_file("mstflint.log") : "";
}

std::string SimServer::read_package_file(const std::string &file) const
{
    return state::read_text(package_dir() + "/" + file).value_or("");
}

bool SimServer::package_file_exists(const std::string &file) const
{
    return fs::exists(fs::symlink_status(package_dir() + "/" + file));
}

std::vector<std::vector<std::string>> SimServer::tool_calls() const
{
    std::vector<std::vector<std::string>> calls;
    std::istringstream lines(state::read_text(state_dir() + "/calls").value_or(""));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> words(1);
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\t')
                words.emplace_back();
            else if (line[i] != '\\' || i + 1 == line.size())
                words.back() += line[i];
            else {
                const char c = line[++i];
                words.back() += c == 't' ? '\t' : c == 'n' ? '\n' : c;
            }
        }
        if (words[0].starts_with(root_ + "/"))
            words[0].erase(0, root_.size());
        calls.push_back(std::move(words));
    }
    return calls;
}

void SimServer::clear_tool_calls() { fs::remove(state_dir() + "/calls"); }

void SimServer::hold_burns(bool held)
{
    if (held)
        write_file(state_dir() + "/hold_burns", "1");
    else
        fs::remove(state_dir() + "/hold_burns");
}

std::string SimServer::device_fw_version(const std::string &address) const
{
    const std::string dir = state::device_dir(state_dir(), address);
    if (!fs::exists(dir))
        throw std::invalid_argument("simulated server: no flash device " + address);
    return state::read_text(dir + "/fw_version").value_or("");
}

std::vector<pid_t> SimServer::query_pids(const std::string &address) const
{
    std::vector<pid_t> pids;
    std::istringstream text(state::read_text(state::device_dir(state_dir(), address) + "/query_pids").value_or(""));
    for (pid_t pid; text >> pid;)
        pids.push_back(pid);
    return pids;
}

std::vector<long long> SimServer::burn_times(const std::string &address, bool ends) const
{
    std::vector<long long> times;
    std::istringstream text(state::read_text(state::device_dir(state_dir(), address) +
                                             (ends ? "/burn_ends" : "/burn_starts")).value_or(""));
    for (long long ms; text >> ms;)
        times.push_back(ms);
    return times;
}

std::vector<std::string> SimServer::tmp_files() const
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(root_ + "/tmp"))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace sim
