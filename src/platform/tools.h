// The one interface through which the program runs outside programs: the seam where tests hand in their bytes.
#pragma once

#include "platform/process.h"

class tool_runner {
public:
    virtual ~tool_runner() = default;
    // Runs one program as run_process does. Called from several threads at once.
    virtual process_result run(const process_request &request) = 0;
};

// The real programs of the system.
class system_tools final : public tool_runner {
public:
    process_result run(const process_request &request) override { return run_process(request); }
};
