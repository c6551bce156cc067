// The adapter inventory: every network function, queried, identified and joined with the catalog.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/records.h"
#include "core/run_result.h"
#include "core/run_state.h"

enum class inventory_status {
    ok,            // at least one complete Mellanox port
    no_mellanox,   // no Mellanox port
    none_readable, // no Mellanox port whose version and PSID could be read
    cut_short,     // the build stopped: see inventory::failure and inventory::signal
};

// What a listed function is to the run.
enum class port_role {
    other_vendor,  // not Mellanox, or not reached by a build cut short
    second_device, // a further device of an adapter listed before it
    unqueried,     // Mellanox, its query gave no version or PSID
    complete,      // version and PSID read, looked up in the catalog
};

// The query-error file of a build, named on the console for the operator: kept when a line went
// into it, removed with its owner (the inventory, at the end of the run) when none did.
class query_error_file {
public:
    // Makes the file, or says on the console that it cannot; its lines are then dropped.
    query_error_file();
    ~query_error_file();
    query_error_file(query_error_file &&) = default;
    query_error_file &operator=(query_error_file &&) = delete;

    const std::string &name() const { return name_; }
    void write(const std::string &line) const;

private:
    struct closer {
        void operator()(FILE *f) const { std::fclose(f); }
    };
    std::string name_;
    std::unique_ptr<FILE, closer> stream_;
};

struct inventory {
    std::vector<nic_info> ports;              // one per listed function, in address order; a Mellanox
                                              // function's record carries its address
    std::vector<port_role> roles;             // one per port
    std::vector<result_unqueried> unqueried;  // the Mellanox functions whose query gave no version or PSID, and why
    int mellanox_ports = 0;                   // Mellanox functions that are not the second device of an adapter
    inventory_status status = inventory_status::ok;
    std::optional<std::string> failure;       // why the build stopped: a sysfs ID file or the catalog unreadable
    int signal = 0;                           // the signal that ended the queries: the run ends by it
    std::optional<query_error_file> errors;   // made once the functions are listed
};

// Builds the inventory from the machine.
inventory build_NIC_list(run_context &ctx);

// Reads the four PCI IDs of a function from sysfs: 0 stored, 1 failed.
int get_pci_info(const opt_text &pbus_info, int32_t *ppci_ven, int32_t *ppci_dev, int32_t *ppci_sub_ven,
                 int32_t *ppci_sub_dev);
