// A stand-in for the outside programs in in-process tests: canned answers, every call recorded.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/event_log.h"
#include "core/run_state.h"
#include "platform/tools.h"

class fake_tools : public tool_runner {
public:
    std::map<std::string, std::vector<std::string>> lines;            // output of read_lines, by command
    std::function<int(const std::string &)> on_shell = [](const std::string &) { return 0; };
    std::function<burn_outcome(const std::vector<std::string> &)> on_burn = [](const std::vector<std::string> &) {
        burn_outcome done;
        done.started = done.exited = true;
        return done;
    };
    std::vector<std::string> calls; // every command, a burn as its arguments joined by blanks

    std::optional<std::vector<std::string>> read_lines(const std::string &command) override
    {
        calls.push_back(command);
        const auto it = lines.find(command);
        return it == lines.end() ? std::vector<std::string> {} : it->second;
    }
    int shell(const std::string &command) override
    {
        calls.push_back(command);
        return on_shell(command);
    }
    burn_outcome burn(const std::string &, const std::vector<std::string> &argv, int) override
    {
        std::string joined;
        for (const std::string &arg : argv)
            joined += (joined.empty() ? "" : " ") + arg;
        calls.push_back(joined);
        return on_burn(argv);
    }
};

// A run context over fake tools and a log that was never opened (entries go nowhere).
struct test_run {
    options opts;
    event_log log;
    fake_tools tools;
    run_context ctx {opts, boot_state {}, log, tools};
};
