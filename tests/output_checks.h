// The outside checkers of the machine-readable outputs: the JSON Schema validator, promtool, systemd-analyze.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace checks {

struct program_result {
    int status = -1; // the exit status; -1 when it could not start or a signal ended it
    std::string output; // standard output and standard error together
};

// Runs argv (found on PATH) with the file input as standard input.
inline program_result run_program(const std::vector<std::string> &args, const std::string &input = "/dev/null")
{
    char out_name[] = "/tmp/rovan-check-XXXXXX";
    const int out = mkstemp(out_name);
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, out, 2);
    pid_t pid = -1;
    int wstatus = 0;
    program_result result;
    if (out >= 0 && posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
        waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream in(out_name);
    result.output.assign(std::istreambuf_iterator<char>(in), {});
    if (out >= 0)
        close(out);
    unlink(out_name);
    return result;
}

// Whether a checker is installed: it answers --version.
inline bool installed(const std::string &program)
{
    return run_program({program, "--version"}).status == 0;
}

// What promtool finds wrong with the metrics file at path, lint included; empty when nothing.
inline std::string metrics_errors(const std::string &path)
{
    const program_result r = run_program({"promtool", "check", "metrics"}, path);
    return r.status == 0 && r.output.empty() ? "" : "promtool (status " + std::to_string(r.status) + "): " + r.output;
}

// A file holding text, removed with its owner.
struct scratch_file {
    explicit scratch_file(const std::string &text, const std::string &suffix = "")
        : path(std::filesystem::temp_directory_path() / ("rovan-check-" + std::to_string(getpid()) + "-" +
                                                        std::to_string(++count()) + suffix))
    {
        std::ofstream(path) << text;
    }
    ~scratch_file() { std::filesystem::remove(path); }
    static int &count() { static int n = 0; return n; }
    std::string path;
};

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
