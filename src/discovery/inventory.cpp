// Building the adapter inventory: enumeration, queries, second devices, PCI IDs and catalog images.
#include "discovery/inventory.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "core/console.h"
#include "core/event_log.h"
#include "core/versions.h"
#include "discovery/catalog.h"
#include "discovery/pci_enum.h"
#include "discovery/query_batch.h"
#include "platform/paths.h"
#include "platform/temp_file.h"
#include "platform/text.h"

namespace {

const char *const k_unit = "inventory.cpp";

std::string hex_lower(int32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

struct file_closer {
    void operator()(FILE *f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

std::string query_failure_line(int rc, int line)
{
    return "\n\nFWUPG_ERROR: get_firmware_info filed RC = " + std::to_string(rc) + "\n" + k_unit + "," +
           std::to_string(line) + "\n\n";
}

bool is_mellanox(const std::string &vendor)
{
    return contains_nocase(vendor, "Mellanox") || contains_nocase(vendor, "15B3");
}

// PSID and Base MAC of each Mellanox function met so far, in meeting order,
// to tell the second device of one adapter.
struct seen_function {
    opt_text psid;
    opt_text mac;
};

bool same_adapter(const seen_function &a, const seen_function &b)
{
    return a.psid && a.mac && b.psid && b.mac && *a.psid == *b.psid && *a.mac == *b.mac;
}

// Prints one skip line per earlier function of the same adapter; true when any.
bool is_second_device(const run_context &ctx, const std::vector<seen_function> &seen, const std::string &address)
{
    const seen_function &current = seen.back();
    bool matched = false;
    for (size_t n = 0; n + 1 < seen.size(); ++n) {
        if (!same_adapter(seen[n], current))
            continue;
        print_message(ctx, "Skipping interface " + address + " as it is the second device of Mellanox adapter with PSID " +
                      *current.psid + ".\n");
        matched = true;
    }
    return matched;
}

void print_position(const run_context &ctx, const std::string &address)
{
    unsigned domain = 0, bus = 0, slot = 0, func = 0;
    if (std::sscanf(address.c_str(), "%x:%2x:%2x.%x", &domain, &bus, &slot, &func) != 4)
        domain = bus = slot = func = 0;
    char text[64];
    std::snprintf(text, sizeof text, "%04x:%02x:%02x.%x\n", domain, bus, slot, func);
    print_message(ctx, text);
}

// Why the IDs cannot be read, a fatal condition for the run; nothing when they were.
std::optional<std::string> read_pci_ids(const run_context &ctx, nic_info &rec, const std::string &address)
{
    int32_t ven = 0, dev = 0, sub_ven = 0, sub_dev = 0;
    int rc = get_pci_info(address, &ven, &dev, &sub_ven, &sub_dev);
    if (rc != 0) {
        std::fprintf(stderr, "\n\nFWUPG_ERROR: RC = %d\n%s,%d\n\n", rc, k_unit, __LINE__);
        return "cannot read the PCI IDs of " + address + " in sysfs";
    }
    print_message(ctx, "DEVICE INFO---------->" + hex_lower(ven) + " " + hex_lower(dev) + " " + hex_lower(sub_ven) + " " +
                  hex_lower(sub_dev) + "\n");
    rec.ven_id = ven;
    rec.dev_id = dev;
    rec.sub_ven_id = sub_ven;
    rec.sub_dev_id = sub_dev;
    return std::nullopt;
}

// An entry without "rom" offers no version to parse: it reads as 0.0.0.
void store_catalog_images(nic_info &rec, const std::vector<XMLFW_INFO> &entries)
{
    rec.images.clear();
    for (const XMLFW_INFO &entry : entries)
        rec.images.push_back({parseversions(entry.pxmlRom.value_or("")), entry.pxmlFwImage, entry.pxmlName});
}

// Fills the record of a Mellanox function whose version and PSID are known; why not, on a fatal condition.
std::optional<std::string> complete_record(run_context &ctx, firmware_catalog &catalog, nic_info &rec,
                                           const std::string &address, const std::string &version,
                                           const std::string &psid)
{
    rec.pinterfacename = address;
    print_message(ctx, "\nMellanox card info for " + address + " = FW_VERSION " + version + ", BUS_INFO " + address +
                           ", PSID " + psid + "\n");
    print_position(ctx, address);
    if (std::optional<std::string> failure = read_pci_ids(ctx, rec, address))
        return failure;

    const std::string pciIdString = catalog_key(rec, psid);
    print_message(ctx, "pciIdString-------------->" + pciIdString + "\n\n");

    const std::optional<std::vector<XMLFW_INFO>> entries = catalog.read_NIC_FW_xml_file(ctx.log, pciIdString, rec);
    if (!entries)
        return catalog.failure();
    if (!entries->empty())
        store_catalog_images(rec, *entries);
    else
        log_mellanox_event(ctx.log, LOG_ERROR, "For ", address, " no matching firmware file in XML\n");

    rec.current = parseversions(version);
    rec.flags |= nic_complete;
    return std::nullopt;
}

struct build_state {
    explicit build_state(const query_error_file &file) : errors(file) {}
    const query_error_file &errors;
    std::vector<seen_function> seen;
    int psid_fw_count = 0;
    firmware_catalog catalog;
};

// The query-error lines of one answer: one per label whose line held no text (or that no line
// carried), as when the tool ran once per label, after the time limit's own line.
void note_query_failures(const query_answer &answer, const std::string &address, const run_context &ctx,
                         const build_state &state)
{
    if (!answer.started) {
        for (int i = 0; i < 3; ++i)
            std::fputs("\n In popen for mstflint fork(2) or pipe(2) calls fail, \t\t\t\t or cannot allocate memory. \n\n",
                       stderr);
    }
    if (answer.timed_out)
        state.errors.write("FWUPG_ERROR: no answer from the flash tool for " + address + " within " +
                           std::to_string(ctx.query_time_limit_s) + " s\n");
    for (const query_field *field : {&answer.fw_version, &answer.psid, &answer.base_mac}) {
        if (field->rc != 0)
            state.errors.write(query_failure_line(field->rc, __LINE__));
    }
}

// One listed function (the i-th) with its query's answer, null for a function that is not Mellanox;
// why not, on a fatal condition.
std::optional<std::string> inventory_function(run_context &ctx, inventory &inv, size_t i, const std::string &address,
                                              const query_answer *answer, build_state &state)
{
    if (!answer) {
        print_message(ctx, "Interface " + address + " is not Mellanox one.\n");
        return std::nullopt;
    }
    nic_info &rec = inv.ports[i];
    rec.pbus_info = address;
    ++inv.mellanox_ports;
    note_query_failures(*answer, address, ctx, state);

    const opt_text &version = answer->fw_version.value;
    const opt_text &psid = answer->psid.value;
    rec.psid = psid;
    state.seen.push_back(seen_function {psid, std::nullopt});

    const opt_text &mac = answer->base_mac.value;
    if (mac) {
        rec.pcurrent_mac = mac;
        state.seen.back().mac = mac;
        if (is_second_device(ctx, state.seen, address)) {
            --inv.mellanox_ports;
            inv.roles[i] = port_role::second_device;
            return std::nullopt;
        }
    }

    if (!version || !psid) {
        state.errors.write("\n\nFWUPG_ERROR: PSID or FW_Version is not found for " + address + " interface\n");
        ++state.psid_fw_count;
        inv.roles[i] = port_role::unqueried;
        inv.unqueried.push_back(unqueried_of(address, *answer));
        return std::nullopt;
    }
    std::optional<std::string> failure = complete_record(ctx, state.catalog, rec, address, *version, *psid);
    if (!failure)
        inv.roles[i] = port_role::complete;
    return failure;
}

// Every listed function in address order, the Mellanox ones queried side by side beforehand; false
// on a fatal condition (inv.failure) or when a signal ended the queries (inv.signal).
bool inventory_functions(run_context &ctx, inventory &inv, const std::vector<std::string> &addresses,
                         const std::vector<std::string> &vendors, build_state &state)
{
    std::vector<std::string> mellanox;
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (is_mellanox(vendors[i]))
            mellanox.push_back(addresses[i]);
    }
    query_batch batch(ctx, std::move(mellanox));
    size_t queried = 0;
    for (size_t i = 0; i < addresses.size() && !inv.failure; ++i) {
        const query_answer *answer = nullptr;
        if (is_mellanox(vendors[i])) {
            answer = batch.answer(queried++);
            if (!answer)
                break;
        }
        inv.failure = inventory_function(ctx, inv, i, addresses[i], answer, state);
    }
    // The run ends by a signal that came during the queries, once they have all been ended.
    inv.signal = batch.signal();
    return !inv.failure && inv.signal == 0;
}

} // namespace

inventory build_NIC_list(run_context &ctx)
{
    std::vector<std::string> addresses;
    std::vector<std::string> vendors;
    int32_t count = 0;
    int rc = get_interface_list(addresses, vendors, class_code, &count);
    if (rc != 0) {
        std::fprintf(stderr, "\n\nFWUPG_ERROR: get_interface_list filed RC = %d\n%s,%d\n\n", rc, k_unit, __LINE__);
        std::fflush(stderr);
    }
    const size_t n = addresses.size();

    print_message(ctx, "List of Network Adapters detected on the Server.................\n");
    for (size_t i = 0; i < n; ++i)
        print_message(ctx, "[" + std::to_string(i) + "] " + addresses[i] + " " + vendors[i] + "\n");

    inventory inv;
    inv.ports.assign(n, nic_info {});
    inv.roles.assign(n, port_role::other_vendor);
    build_state state(inv.errors.emplace());
    print_message(ctx, "\nIf PSID or FW_Version is not found for some interfaces, please check " +
                           state.errors.name() + "\n\n");

    if (!inventory_functions(ctx, inv, addresses, vendors, state)) {
        inv.status = inventory_status::cut_short;
        return inv;
    }

    if (inv.mellanox_ports == 0)
        inv.status = inventory_status::no_mellanox;
    else if (inv.mellanox_ports == state.psid_fw_count)
        inv.status = inventory_status::none_readable;
    return inv;
}

query_error_file::query_error_file()
{
    temp_file made(system_path("/tmp/dataXXXXXX"));
    name_ = made.created() ? made.name() : system_path("/tmp/dataXXXXXX");
    if (made.created()) {
        made.keep();
        stream_.reset(fdopen(dup(made.fd()), "w"));
        // A file nobody could write to would stay empty forever.
        if (!stream_)
            std::remove(name_.c_str());
    }
    if (!stream_) {
        std::printf("Not able to open this %s file\n", name_.c_str());
        std::fflush(stdout);
    }
}

query_error_file::~query_error_file()
{
    struct stat st {};
    if (stream_ && fstat(fileno(stream_.get()), &st) == 0 && st.st_size == 0)
        std::remove(name_.c_str());
}

void query_error_file::write(const std::string &line) const
{
    if (!stream_)
        return;
    std::fputs(line.c_str(), stream_.get());
    std::fflush(stream_.get());
}

int get_pci_info(const opt_text &pbus_info, int32_t *ppci_ven, int32_t *ppci_dev, int32_t *ppci_sub_ven,
                 int32_t *ppci_sub_dev)
{
    if (!pbus_info || pbus_info->empty())
        return 1;
    const char *const files[] = {"vendor", "device", "subsystem_vendor", "subsystem_device"};
    int32_t values[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < 4; ++i) {
        const std::string path = system_path("/sys/bus/pci/devices") + "/" + *pbus_info + "/" + files[i];
        file_ptr f(std::fopen(path.c_str(), "r"));
        if (!f) {
            std::fprintf(stderr, "ERROR: could not open %s (errno=%d), %s,%d\n", path.c_str(), errno, k_unit,
                         __LINE__);
            return 1;
        }
        std::string text;
        int c;
        while ((c = std::fgetc(f.get())) != EOF)
            text.push_back(static_cast<char>(c));
        // A file without a number leaves the value 0.
        values[i] = static_cast<int32_t>(std::strtoul(text.c_str(), nullptr, 16));
    }
    *ppci_ven = values[0];
    *ppci_dev = values[1];
    *ppci_sub_ven = values[2];
    *ppci_sub_dev = values[3];
    return 0;
}
