// In-process stand-ins for the outside programs, for the tests and the fuzz targets: canned answers, every call recorded.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/event_log.h"
#include "core/run_state.h"
#include "platform/text.h"
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
    std::map<std::string, std::vector<std::string>> query_output;     // output lines of a query, by device
    std::function<void(const std::string &)> on_query = [](const std::string &) {}; // runs inside each query
    std::vector<std::string> calls; // every command; a query or burn as its arguments joined by blanks

    // Every call may come from several threads at once.
    std::optional<std::vector<std::string>> read_lines(const std::string &command) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls.push_back(command);
        const auto it = lines.find(command);
        return it == lines.end() ? std::vector<std::string> {} : it->second;
    }
    int shell(const std::string &command) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls.push_back(command);
        }
        return on_shell(command);
    }
    query_lines query(const std::string &, const std::vector<std::string> &argv, const std::vector<std::string> &labels,
                      int) override
    {
        record(argv);
        on_query(argv.at(2));
        query_lines out {.started = true, .lines = std::vector<std::optional<std::string>>(labels.size())};
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string &line : query_output[argv.at(2)])
            for (size_t i = 0; i < labels.size(); ++i)
                if (!out.lines[i] && contains_nocase(line, labels[i]))
                    out.lines[i] = line;
        return out;
    }
    burn_outcome burn(const std::string &, const std::vector<std::string> &argv, int, const burn_echo &) override
    {
        record(argv);
        return on_burn(argv);
    }

private:
    void record(const std::vector<std::string> &argv)
    {
        std::string joined;
        for (const std::string &arg : argv)
            joined += (joined.empty() ? "" : " ") + arg;
        std::lock_guard<std::mutex> lock(mutex_);
        calls.push_back(joined);
    }
    std::mutex mutex_;
};

// A run context over fake tools and a log that was never opened (entries go nowhere).
struct test_run {
    options opts;
    event_log log;
    fake_tools tools;
    burn_history history;
    run_context ctx {opts, boot_state {}, log, tools, history};
};
