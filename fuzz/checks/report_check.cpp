// The report-driven update over a fuzzed report: only PCI addresses of devices that asked reach the flash tool.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <utility>
#include <vector>

#include "app/report_update.h"
#include "checks.h"
#include "fake_tools.h"
#include "report/report_reader.h"
#include "support.h"

namespace {

// What reached the stand-ins for the outside programs.
struct tool_calls {
    std::vector<std::string> burned;   // the device argument of each burn
    std::vector<std::string> resolved; // the address of each getmlnxinfo run
    std::vector<std::string> other;    // any other command
};

// The device argument of a burn: the word after "-d".
std::string burn_device(const std::vector<std::string> &argv)
{
    const auto d = std::find(argv.begin(), argv.end(), "-d");
    return d != argv.end() && d + 1 != argv.end() ? *(d + 1) : std::string("(none)");
}

// The PCI address form, judged apart from the program's own check: an optional
// domain of 1-8 hexadecimal digits and its ':', a bus of 1-2, a device of 1-2, a function 0-7.
bool pci_address_form(const std::string &text)
{
    std::vector<std::pair<int, char>> fields {{2, ':'}, {2, '.'}};
    if (std::count(text.begin(), text.end(), ':') == 2)
        fields.insert(fields.begin(), {8, ':'});
    size_t pos = 0;
    for (const auto &[most, end] : fields) {
        const size_t start = pos;
        while (pos < text.size() && pos - start < static_cast<size_t>(most) &&
               std::isxdigit(static_cast<unsigned char>(text[pos])))
            ++pos;
        if (pos == start || pos >= text.size() || text[pos++] != end)
            return false;
    }
    return pos + 1 == text.size() && text[pos] >= '0' && text[pos] <= '7';
}

// Runs -u over the report at path, with burns that succeed and a getmlnxinfo that names an image.
int run_update(const std::string &path, tool_calls &calls)
{
    test_run run;
    run.opts.update = true;
    run.opts.report_path = path;
    const std::string resolver = "./getmlnxinfo imgfile ";
    run.tools.on_shell = [&](const std::string &command) {
        const size_t to = command.rfind(" > ");
        if (!command.starts_with(resolver) || to == std::string::npos) {
            calls.other.push_back(command);
            return 1;
        }
        calls.resolved.push_back(command.substr(resolver.size(), to - resolver.size()));
        std::ofstream(scratch_dir() / command.substr(to + 3)) << "srv#fw-resolved.bin\n";
        return 0;
    };
    run.tools.on_burn = [&](const std::vector<std::string> &argv) {
        calls.burned.push_back(burn_device(argv));
        burn_outcome done;
        done.started = done.exited = true;
        return done;
    };
    return read_discovery_report(run.ctx).result.status;
}

} // namespace

// The input is the whole report.
check_result check_report(std::string_view input)
{
    const std::string path = (scratch_dir() / "report.xml").string();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << input;
    event_log nowhere;
    const std::optional<std::vector<report_device>> devices =
        read_report_devices_from_memory(nowhere, std::string(input), path);

    tool_calls calls;
    int status;
    {
        const in_scratch_dir package;
        status = run_update(path, calls);
    }
    if (status != 0 && status != 2)
        return "the update ended with status " + std::to_string(status);
    if (!calls.other.empty())
        return "the update ran " + printable(calls.other.front());
    if (!devices) {
        if (status != 2 || !calls.burned.empty() || !calls.resolved.empty())
            return "a report the reader refuses was acted on";
        return std::nullopt;
    }
    if (status == 0 && devices->empty())
        return "a report without devices ended with status 0";

    std::vector<std::string> asked; // the addresses of the devices that asked for a burn, in report order
    for (const report_device &device : *devices) {
        if (device.rec.has(nic_flash_requested))
            asked.push_back(device.rec.pbus_info.value_or(""));
    }
    for (const std::vector<std::string> *addresses : {&calls.burned, &calls.resolved}) {
        for (const std::string &address : *addresses) {
            if (!pci_address_form(address))
                return "the flash tool or getmlnxinfo was handed " + printable(address);
        }
    }
    // Burns follow the report's order, one at most per device that asked.
    size_t next = 0;
    for (const std::string &address : calls.burned) {
        while (next < asked.size() && asked[next] != address)
            ++next;
        if (next == asked.size())
            return "burned " + printable(address) + ", which no device asked for in that order";
        ++next;
    }
    return std::nullopt;
}
