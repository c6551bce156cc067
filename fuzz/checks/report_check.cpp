// The report-driven update over a fuzzed report: only PCI addresses of devices that asked reach the flash tool.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

#include "app/report_update.h"
#include "checks.h"
#include "fake_tools.h"
#include "report/report_reader.h"
#include "support.h"

namespace {

// The PCI address form, judged apart from the program's own check: an optional domain of 1-8
// hexadecimal digits and its ':', a bus of 1-2, a device of 1-2, a function 0-7.
bool pci_address_form(const std::string &text)
{
    std::vector<std::pair<size_t, char>> fields {{2, ':'}, {2, '.'}};
    if (std::ranges::count(text, ':') == 2)
        fields.insert(fields.begin(), {8, ':'});
    size_t pos = 0;
    for (const auto &[most, end] : fields) {
        const size_t start = pos;
        while (pos < text.size() && pos - start < most && std::isxdigit(static_cast<unsigned char>(text[pos])))
            ++pos;
        if (pos == start || pos >= text.size() || text[pos++] != end)
            return false;
    }
    return pos + 1 == text.size() && text[pos] >= '0' && text[pos] <= '7';
}

// What reached the stand-ins for the outside programs: the device argument of each burn,
// the address of each getmlnxinfo run, any other command.
struct tool_calls {
    std::vector<std::string> burned, resolved, other;
};

// Runs -u over the report at path, with burns that succeed and a getmlnxinfo that names an image, in the
// scratch directory as rovan works in its package directory (the fuzzer's relative paths need the old one back).
int run_update(const std::string &path, tool_calls &calls)
{
    test_run run;
    run.opts.update = true;
    run.opts.report_path = path;
    run.tools.on_run = [&](const std::vector<std::string> &argv) {
        if (argv.size() == 3 && argv[0] == "./getmlnxinfo" && argv[1] == "imgfile") {
            calls.resolved.push_back(argv[2]);
            return fake_program {.out = "srv#fw-resolved.bin\n"};
        }
        if (argv.back() == "q")
            return fake_program {};
        if (argv.back() != "b") {
            std::string command;
            for (const std::string &arg : argv)
                command += (command.empty() ? "" : " ") + arg;
            calls.other.push_back(command);
            return fake_program {.status = 1};
        }
        const auto d = std::ranges::find(argv, "-d");
        calls.burned.push_back(d != argv.end() && d + 1 != argv.end() ? *(d + 1) : "(none)");
        return fake_program {};
    };
    const int previous = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (previous < 0 || chdir(scratch_dir().c_str()) != 0)
        std::abort();
    const int status = read_discovery_report(run.ctx).result.status;
    if (fchdir(previous) != 0)
        std::abort();
    close(previous);
    return status;
}

} // namespace

// The input is the whole report.
check_result check_report(std::string_view input)
{
    const std::string path = (scratch_dir() / "report.xml").string();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << input;
    event_log nowhere;
    const auto devices = read_report_devices_from_memory(nowhere, std::string(input), path);
    tool_calls calls;
    const int status = run_update(path, calls);
    if (status != 0 && status != 2)
        return "the update ended with status " + std::to_string(status);
    if (!calls.other.empty())
        return "the update ran " + printable(calls.other.front());
    if (!devices && (status != 2 || !calls.burned.empty() || !calls.resolved.empty()))
        return "a report the reader refuses was acted on";
    if (!devices)
        return std::nullopt;
    if (status == 0 && devices->empty())
        return "a report without devices ended with status 0";
    for (const std::vector<std::string> *addresses : {&calls.burned, &calls.resolved}) {
        for (const std::string &address : *addresses) {
            if (!pci_address_form(address))
                return "the flash tool or getmlnxinfo was handed " + printable(address);
        }
    }
    // Burns follow the report's order, one at most per device that asked.
    auto next = devices->begin();
    for (const std::string &address : calls.burned) {
        next = std::find_if(next, devices->end(), [&](const report_device &device) {
            return device.rec.has(nic_flash_requested) && device.rec.pbus_info == address;
        });
        if (next == devices->end())
            return "burned " + printable(address) + ", which no device asked for in that order";
        ++next;
    }
    return std::nullopt;
}
