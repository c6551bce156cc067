// Finding a PCI function's network interface among the links of /sys/class/net.
#include "report/interface_name.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

// Visible entry names of a directory in byte order; none when it cannot be read.
std::vector<std::string> sorted_entry_names(const fs::path &dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!name.empty() && name[0] != '.')
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string last_component(const std::string &target)
{
    const size_t slash = target.rfind('/');
    return slash == std::string::npos ? target : target.substr(slash + 1);
}

} // namespace

std::optional<std::string> find_interface_name(const std::string &bus_address)
{
    const fs::path net_dir = system_path("/sys/class/net");
    for (const std::string &name : sorted_entry_names(net_dir)) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(net_dir / name, ec);
        if (ec)
            continue; // not a link: it names no device
        const std::string target_text = target.string();
        if (!contains_nocase(name, bus_address) && !contains_nocase(target_text, bus_address))
            continue;
        std::string interface = last_component(target_text);
        if (!interface.empty())
            return interface;
    }
    return std::nullopt;
}
