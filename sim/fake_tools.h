// In-process stand-ins for the outside programs, for the tests and the fuzz targets: each run answered with
// the bytes a program would write and how it ended, which the program's own reading then takes.
#pragma once

#include <csignal>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/event_log.h"
#include "core/run_state.h"
#include "platform/fd_write.h"
#include "platform/tools.h"

// What a stand-in program does.
struct fake_program {
    std::string out {}, err {}; // written to its standard output and error
    int status = 0;         // its exit status
    int exec_error = 0;     // it cannot be run (ENOENT: no such program)
    int term_signal = 0;    // ended by this signal
    bool times_out = false; // still running at the time limit
};

class fake_tools : public tool_runner {
public:
    // The program each run meets, by its argument list; called from several threads at once.
    std::function<fake_program(const std::vector<std::string> &argv)> on_run = [](const std::vector<std::string> &) {
        return fake_program {};
    };
    std::vector<std::string> calls; // every command line, as command_text shows it

    process_result run(const process_request &request) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls.push_back(command_text(request));
        }
        const fake_program program = on_run(request.argv);
        process_result result {.started = true, .exec_error = program.exec_error};
        if (program.exec_error != 0) {
            result.exited = true;
            result.exit_code = 127;
            return result;
        }
        deliver(request, request.out, program.out, result);
        deliver(request, request.err_to_out ? request.out : request.err, program.err, result);
        result.timed_out = program.times_out;
        result.term_signal = program.times_out ? SIGKILL : program.term_signal;
        result.exited = result.term_signal == 0;
        result.exit_code = result.exited ? program.status : 0;
        return result;
    }

private:
    // Where the bytes go, as run_process sends them; what would reach the console goes nowhere.
    static void deliver(const process_request &request, const output_sink &sink, const std::string &bytes,
                        process_result &result)
    {
        if (sink.to == output_sink::kind::capture && !bytes.empty())
            take_output(request, bytes, result);
        else if (sink.to == output_sink::kind::file)
            write_all(sink.fd, bytes.data(), bytes.size());
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
