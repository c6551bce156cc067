#include "sim_server.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sys/wait.h>

#include "sim_files.h"
#include "sim_state.h"
#include "sim_sysfs.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

// Kept in the build tree: a test that gives a run a private /tmp must not hide its server.
std::string servers_parent()
{
    return (fs::path(SIM_TOOLS_DIR).parent_path() / "sim-servers").string();
}

std::string make_temporary_root()
{
    files::make_dirs(servers_parent());
    std::string pattern = servers_parent() + "/server-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("simulated server: cannot create a directory in " + servers_parent());
    return pattern;
}

std::string xml_escape(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
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

void put_optional(state::KeyValues &values, const std::string &key, const std::optional<std::string> &value)
{
    if (value)
        values[key] = *value;
}

void write_state(const std::string &path, const state::KeyValues &values)
{
    files::make_dirs(fs::path(path).parent_path().string());
    if (!state::write_key_values(path, values))
        throw std::runtime_error("simulated server: cannot write " + path);
}

} // namespace

SimServer::SimServer(const std::string &dir) : keep_(!dir.empty())
{
    if (keep_) {
        files::make_dirs(dir);
        root_ = fs::canonical(dir).string();
    } else {
        root_ = make_temporary_root();
    }
    try {
        for (const char *sub : {"/sys/bus/pci/devices", "/sys/class/net", "/usr/bin", "/usr/share/misc", "/tmp",
                                "/sim-state/flash", "/sim-runs", "/package/nic_fw"})
            files::make_dirs(root_ + sub);
        set_pci_ids(sysfs::default_pci_ids());
        set_mokutil(std::nullopt);
        set_mst(false);
        set_installed_flint(false);
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
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    std::error_code ec;
    if (keep_)
        fs::remove_all(root_ + "/sim-runs", ec);
    else
        fs::remove_all(root_, ec);
}

std::string SimServer::root() const { return root_; }
std::string SimServer::package_dir() const { return root_ + "/package"; }
std::string SimServer::state_dir() const { return root_ + "/sim-state"; }

void SimServer::install_tool(const std::string &tool, const std::string &path) const
{
    files::copy_program(std::string(SIM_TOOLS_DIR) + "/" + tool, path);
}

void SimServer::add_function(const PciFunction &fn)
{
    sysfs::write_function(root_, fn);
}

void SimServer::add_flash_device(const FlashDevice &dev)
{
    state::KeyValues values;
    values["address"] = dev.address;
    put_optional(values, "fw_version", dev.fw_version);
    put_optional(values, "psid", dev.psid);
    put_optional(values, "base_mac", dev.base_mac);
    values["extra_query_lines"] = dev.extra_query_lines;
    values["query_fails"] = dev.query_fails ? "1" : "0";
    values["burn_exit"] = std::to_string(dev.burn_exit);
    values["burn_killed"] = dev.burn_killed ? "1" : "0";
    values["burn_seconds"] = std::to_string(dev.burn_seconds);
    write_state(state::device_file(state_dir(), dev.address), values);
}

void SimServer::add_image(const Image &image)
{
    write_package_file("nic_fw/" + image.file, "# firmware image of the simulated server\npsid=" +
                                                   state::escape(image.psid) + "\nversion=" +
                                                   state::escape(image.version) + "\n");
}

void SimServer::set_catalog(const std::vector<CatalogEntry> &entries)
{
    set_catalog_text(catalog_xml(entries));
}

void SimServer::set_catalog_text(const std::string &xml)
{
    write_package_file("nic_fw/NICFWData.xml", xml);
}

void SimServer::remove_catalog()
{
    remove_package_file("nic_fw/NICFWData.xml");
}

void SimServer::set_pci_ids(const std::optional<std::string> &text)
{
    const std::string path = root_ + "/usr/share/misc/pci.ids";
    if (text)
        files::write_file(path, *text);
    else
        files::remove_path(path);
}

void SimServer::set_mokutil(const std::optional<std::string> &first_line)
{
    const std::string path = root_ + "/usr/bin/mokutil";
    if (!first_line) {
        files::remove_path(path);
        return;
    }
    write_state(state::tool_file(state_dir(), "mokutil"), {{"first_line", *first_line}});
    install_tool("mokutil", path);
}

void SimServer::set_mst(bool installed, int status_exit, int start_exit)
{
    const std::string path = root_ + "/usr/bin/mst";
    if (!installed) {
        files::remove_path(path);
        return;
    }
    write_state(state::tool_file(state_dir(), "mst"),
                {{"status_exit", std::to_string(status_exit)}, {"start_exit", std::to_string(start_exit)}});
    install_tool("mst", path);
}

void SimServer::set_installed_flint(bool installed)
{
    const std::string path = root_ + "/usr/bin/flint";
    if (installed)
        install_tool("mstflint", path);
    else
        files::remove_path(path);
}

void SimServer::set_getmlnxinfo(const std::string &address, const std::string &answer, int exit_status)
{
    const std::string path = state::tool_file(state_dir(), "getmlnxinfo");
    state::KeyValues answers = state::read_key_values(path).value_or(state::KeyValues{});
    answers["answer " + address] = answer;
    answers["status " + address] = std::to_string(exit_status);
    write_state(path, answers);
}

void SimServer::write_package_file(const std::string &relative_path, const std::string &content)
{
    files::write_file(package_dir() + "/" + relative_path, content);
}

void SimServer::remove_package_file(const std::string &relative_path)
{
    files::remove_path(package_dir() + "/" + relative_path);
}

std::string SimServer::log() const
{
    return read_package_file("mstflint.log");
}

std::string SimServer::read_package_file(const std::string &relative_path) const
{
    return files::read_file(package_dir() + "/" + relative_path);
}

bool SimServer::package_file_exists(const std::string &relative_path) const
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(package_dir() + "/" + relative_path, ec));
}

std::vector<std::vector<std::string>> SimServer::tool_calls() const
{
    std::vector<std::vector<std::string>> calls =
        state::parse_calls(files::read_file(state::calls_file(state_dir())));
    const std::string prefix = root_ + "/";
    for (auto &call : calls)
        if (call[0].starts_with(prefix))
            call[0].erase(0, root_.size());
    return calls;
}

void SimServer::clear_tool_calls()
{
    files::remove_path(state::calls_file(state_dir()));
}

std::string SimServer::device_fw_version(const std::string &address) const
{
    std::optional<state::KeyValues> dev = state::read_key_values(state::device_file(state_dir(), address));
    if (!dev)
        throw std::invalid_argument("simulated server: no flash device " + address);
    return state::value_of(*dev, "fw_version").value_or("");
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
