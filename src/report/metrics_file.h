// The host's firmware state for node_exporter's textfile collector (--prometheus FILE).
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "core/burn_history.h"

// A queried adapter function as the metrics show it.
struct metrics_adapter {
    std::string address {}, psid {}, installed {};
    std::string newest {};         // the catalog's newest version; empty when it offers none
    bool update_available = false; // newest is newer than installed
};

// What the run found, for the metrics file.
struct metrics_input {
    std::vector<metrics_adapter> adapters {}; // the functions queried
    int queried = 0, unqueried = 0;        // functions whose query gave, or did not give, a version and PSID
    std::time_t run_time = 0;
    int run_status = 0;                    // the run's exit status
    std::optional<std::time_t> boot_time {}; // none when unknown: rovan_reboot_required is then left out
};

// The file's text in Prometheus's text format: each metric with HELP and TYPE. The burns come from the
// burn history; a history that could not be read leaves its metrics out rather than show none.
std::string metrics_text(const metrics_input &input, const burn_ends_seen &burns);

// Writes metrics_text to path atomically (mode 0644, for the collector's user). Nothing on success, else
// why it failed; the earlier file at path is then left as it was.
std::optional<std::string> write_metrics_file(const std::string &path, const metrics_input &input,
                                              const burn_history &history);
