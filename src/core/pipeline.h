// The values a mode's steps hand on: what the run decided for each adapter, and what each burn did.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/records.h"
#include "core/run_result.h"

// What the run does with one record (an inventory's port or a report's device).
struct adapter_plan {
    adapter_decision decision = adapter_decision::not_asked;
    std::optional<catalog_image> image {};  // the image to burn, with the decision burn
    std::optional<std::string> refusal {};  // why a report's device cannot be handled; none when it can
};

// One entry per record of the mode, in their order.
struct run_plan {
    std::vector<adapter_plan> adapters {};
    bool quit = false; // the operator quit: no later adapter was offered
};

// What one burn did.
struct burn_result {
    result_burn burn {};                   // the image, the versions, the outcome, the tool's status, lines, time
    opt_text reported {};                  // the version the adapter reported once the tool had exited 0
    std::optional<std::string> failure {}; // why it failed, as a sentence; none when it succeeded
    int signal = 0;                        // a signal held back during the burn: the run ends by it afterwards

    bool succeeded() const { return burn.outcome == burn_verdict::success; }
};

// One entry per record of the mode; none where no burn ran.
using burn_results = std::vector<std::optional<burn_result>>;
