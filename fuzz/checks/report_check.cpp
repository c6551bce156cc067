// The report-driven update over a fuzzed report: only PCI addresses of devices that asked reach the flash tool.
#include <algorithm>
#include <fstream>

#include "app/report_update.h"
#include "checks.h"
#include "core/pci_address.h"
#include "fake_tools.h"
#include "report/report_reader.h"

namespace {

// What reached the stand-ins for the outside programs: the device argument of each burn, the address
// handed to each run of the flash tool or getmlnxinfo, any other program.
struct tool_calls {
    std::vector<std::string> burned, handed, other;
};

// Runs -u over the report at path in the scratch directory, as rovan works in its package directory. Every
// device answers as the corpus reports' live board (MT_0000000080 at the catalog's newest version): one that
// names it is checked, burned and verified. getmlnxinfo names an image. The fuzzer needs its directory back.
int run_update(const std::string &path, tool_calls &calls)
{
    test_run run;
    run.opts.update = true;
    run.opts.report_path = path;
    run.tools.on_run = [&](const std::vector<std::string> &argv) {
        if (argv.size() == 3 && argv[0] == "./getmlnxinfo" && argv[1] == "imgfile") {
            calls.handed.push_back(argv[2]);
            return fake_program {.out = "srv#fw-resolved.bin\n"};
        }
        const auto d = std::ranges::find(argv, "-d");
        calls.handed.push_back(d != argv.end() && d + 1 != argv.end() ? *(d + 1) : "(none)");
        if (argv.back() == "q")
            return fake_program {.out = "FW Version:            16.35.2000\nPSID:                  MT_0000000080\n"};
        if (argv.back() != "b") {
            calls.other.push_back(argv.front());
            return fake_program {.status = 1};
        }
        calls.burned.push_back(calls.handed.back());
        return fake_program {};
    };
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(scratch_dir());
    const int status = read_discovery_report(run.ctx).result.status;
    std::filesystem::current_path(previous);
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
    if (!devices)
        return status == 2 && calls.handed.empty() ? check_result() : "a report the reader refuses was acted on";
    if (status == 0 && devices->empty())
        return "a report without devices ended with status 0";
    // The bus_address target holds pci_address::parse to an independent reading of the form, so it
    // can judge here what reached a command line.
    for (const std::string &address : calls.handed) {
        if (!pci_address::parse(address))
            return "the flash tool or getmlnxinfo was handed " + printable(address);
    }
    // Burns follow the report's order, one at most per device that asked; with status 0, one for each.
    auto next = devices->begin();
    for (const std::string &address : calls.burned) {
        next = std::find_if(next, devices->end(), [&](const report_device &device) {
            return device.rec.has(nic_flash_requested) && device.rec.pbus_info == address;
        });
        if (next == devices->end())
            return "burned " + printable(address) + ", which no device asked for in that order";
        ++next;
    }
    const auto asked = std::ranges::count_if(*devices, [](const report_device &device) {
        return device.rec.has(nic_flash_requested);
    });
    if (status == 0 && calls.burned.size() != static_cast<size_t>(asked))
        return "status 0, yet " + std::to_string(calls.burned.size()) + " burns for " + std::to_string(asked) +
               " devices that asked";
    return std::nullopt;
}
