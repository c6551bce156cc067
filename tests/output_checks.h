// The outside checkers of the machine-readable outputs: the JSON Schema validator, promtool, systemd-analyze.
#pragma once

#include <string>
#include <vector>

#include "platform/process.h"

namespace checks {

struct program_result {
    int status = -1; // the exit status; -1 when it could not start or a signal ended it
    std::string output; // standard output and standard error together
};

// Runs args (args[0] found on PATH) with an empty standard input.
inline program_result run_program(const std::vector<std::string> &args)
{
    const process_result r = run_process({.path = args[0], .argv = args, .empty_stdin = true,
                                          .out = {.to = output_sink::kind::capture}, .err_to_out = true});
    return {r.exited && r.exec_error == 0 ? r.exit_code : -1, r.output};
}

// Whether a checker is installed: it answers --version.
inline bool installed(const std::string &program)
{
    return run_program({program, "--version"}).status == 0;
}

// What promtool finds wrong with the metrics file at path, lint included; empty when nothing.
inline std::string metrics_errors(const std::string &path)
{
    // promtool reads the metrics from its standard input only.
    const program_result r = run_program({"sh", "-c", "exec promtool check metrics <\"$1\"", "sh", path});
    return r.status == 0 && r.output.empty() ? "" : "promtool (status " + std::to_string(r.status) + "): " + r.output;
}

// What Debian's python3-jsonschema finds wrong with a result document (docs/result-json.schema.json),
// one line per fault; empty when it is valid. The document goes as an argument, which holds up to 128 KiB.
inline std::string result_schema_errors(const std::string &document)
{
    static const char *const validate =
        "import json, sys\n"
        "from jsonschema import validators\n"
        "schema = json.load(open(sys.argv[1]))\n"
        "cls = validators.validator_for(schema)\n"
        "cls.check_schema(schema)\n"
        "for e in cls(schema).iter_errors(json.loads(sys.argv[2])):\n"
        "    print('/'.join(map(str, e.absolute_path)) + ': ' + e.message)\n";
    // Debian's interpreter, where its python3-jsonschema is, whatever else PATH puts first.
    const program_result r = run_program(
        {"/usr/bin/python3", "-c", validate, ROVAN_SOURCE_DIR "/docs/result-json.schema.json", document});
    return r.status == 0 ? r.output : "the validator failed (status " + std::to_string(r.status) + "): " + r.output;
}

} // namespace checks
