// The run's reasons on standard error, and with --json its result document as the whole of standard output.
#pragma once

#include <string>

#include "core/run_result.h"

// "rovan: <reason>" on standard error: why the run or an adapter failed, or why the run ended early.
void say(const std::string &reason);

// With --json, standard output carries the result document and nothing else: from construction until
// write(), what the run (and every program it starts) writes there goes to standard error instead:
// the banner, the messages, the prompts, the flash tool's output.
class result_output {
public:
    explicit result_output(bool json);
    ~result_output();
    result_output(const result_output &) = delete;
    result_output &operator=(const result_output &) = delete;

    // Writes the document on the real standard output; nothing without --json.
    void write(const run_result &result);

private:
    bool json_ = false;
    int document_fd_ = -1; // the real standard output, kept aside
};
