// Command-line shape, option parsing, the table of modes and the usage text.
#include "app/command_line.h"

#include <array>
#include <cstring>
#include <string>
#include <unistd.h>

#include "core/console.h"
#include "core/package_files.h"
#include "core/run_result.h"

namespace {
// The report path buffer of the original held 4095 characters; longer paths are refused.
constexpr size_t k_report_path_max = 4095;

void rewrite_slash_option(char *word, bool allow_force)
{
    if (std::strcmp(word, "/d") == 0 || std::strcmp(word, "/u") == 0 || std::strcmp(word, "/s") == 0 ||
        (allow_force && std::strcmp(word, "/F") == 0))
        word[0] = '-';
}

bool looks_like_option(const char *word)
{
    return std::strchr(word, '-') != nullptr && std::strlen(word) != 1;
}
} // namespace

long_options_taken take_long_options(int argc, char **argv, options &opts)
{
    long_options_taken taken;
    const std::string prometheus = "--prometheus";
    for (int i = 0; i < argc; ++i) {
        const std::string word = argv[i];
        long_request request = long_request::none;
        if (i == 0)
            taken.words.push_back(argv[i]);
        else if (word == "--help")
            request = long_request::help;
        else if (word == "--version")
            request = long_request::version;
        else if (word == "--json")
            opts.json = true;
        else if (word.starts_with(prometheus + "=") && word.size() > prometheus.size() + 1)
            opts.prometheus_path = word.substr(prometheus.size() + 1);
        // A separate word starting with "-" is an option forgotten, not a file: "./-s" names such a file.
        else if (word == prometheus && i + 1 < argc && argv[i + 1][0] != '-' && argv[i + 1][0] != '\0')
            opts.prometheus_path = argv[++i];
        else if (word == prometheus || word == prometheus + "=")
            taken.error = "--prometheus needs a file name";
        else
            taken.words.push_back(argv[i]);
        if (taken.request == long_request::none)
            taken.request = request;
    }
    taken.words.push_back(nullptr);
    return taken;
}

cmdline_check verify_cmd_line_options(int argc, char **pargv, options &opts)
{
    if (argc < 1 || argc > 4)
        return cmdline_check::malformed;
    if (argc == 4) {
        const std::string third = pargv[3];
        if (std::strstr(pargv[1], "eth") && std::strcmp(pargv[2], "-bootenable") == 0 &&
            (third == "rom" || third == "iscsi" || third == "disabled"))
            return cmdline_check::ignored;
        return cmdline_check::malformed;
    }
    if (argc == 1)
        return cmdline_check::proceed;
    if (argc == 2) {
        rewrite_slash_option(pargv[1], true);
        if (!looks_like_option(pargv[1]))
            return cmdline_check::malformed;
        opts.report_path = k_default_report;
        return cmdline_check::proceed;
    }
    rewrite_slash_option(pargv[1], false);
    if (std::strcmp(pargv[2], "/F") == 0)
        pargv[2][0] = '-';
    if (!looks_like_option(pargv[1]))
        return cmdline_check::malformed;
    if (std::strlen(pargv[2]) > k_report_path_max)
        return cmdline_check::malformed;
    opts.report_path = pargv[2];
    return cmdline_check::proceed;
}

std::string shape_refusal(int argc, char **pargv)
{
    if (argc > 4)
        return "more than three words";
    if (argc == 4)
        return "three words are only taken as \"ethN -bootenable rom|iscsi|disabled\"";
    if (argc > 1 && !looks_like_option(pargv[1]))
        return "\"" + std::string(pargv[1]) + "\" is not an option";
    return "the report path is longer than " + std::to_string(k_report_path_max) + " characters";
}

namespace {

// Why getopt refused the option it answered '?' for.
std::string option_refusal(int argc, char **argv)
{
    if (optopt == 'u')
        return "-u needs the report path";
    for (int i = 1; i < argc; ++i) {
        // getopt reads "--xyz" as the options "-", "x", ...: name the word.
        if (optopt == '-' && std::strncmp(argv[i], "--", 2) == 0)
            return "unknown option " + std::string(argv[i]);
    }
    return "unknown option -" + std::string(1, static_cast<char>(optopt));
}

} // namespace

std::optional<parse_stop> parse_options(int argc, char **argv, options &opts)
{
    // getopt keeps its place between calls; 0 makes it start afresh, so that every call reads the whole line.
    optind = 0;
    int opt;
    while ((opt = getopt(argc, argv, "hcsFfipydu:")) != -1) {
        switch (opt) {
        case 'c': opts.show_current = true; break;
        case 's': opts.silent = true; break;
        case 'F':
        case 'f': opts.force = true; break;
        case 'p': opts.prompt = true; break;
        case 'y': opts.yes = true; break;
        case 'd': opts.discover = true; break;
        case 'u': opts.update = true; break;
        case 'i': break; // accepted and ignored
        case 'h': usage(opts); return parse_stop {};
        default:
            print_message(opts, "Unknown command line option: " + std::string(1, static_cast<char>(opt)) + "\n");
            usage(opts);
            return parse_stop {.refusal = option_refusal(argc, argv)};
        }
    }
    return std::nullopt;
}

namespace {

// The options a run may combine: per mode, every accepted set (c s F p y d u).
struct allowed_set {
    run_mode mode;
    bool c, s, F, p, y, d, u;
};
constexpr std::array<allowed_set, 10> k_modes = {{
    {run_mode::show_current, true, false, false, false, false, false, false},
    {run_mode::discover, false, false, false, false, false, true, false},
    {run_mode::update, false, false, false, false, false, false, true},
    {run_mode::update, false, true, false, false, false, false, true},
    {run_mode::upgrade, false, false, false, false, false, false, false},
    {run_mode::upgrade, false, true, false, false, false, false, false},
    {run_mode::upgrade, false, true, true, false, false, false, false},
    {run_mode::upgrade, false, false, true, false, false, false, false},
    {run_mode::upgrade, false, false, false, true, false, false, false},
    {run_mode::upgrade, false, false, false, false, true, false, false},
}};

} // namespace

std::optional<run_mode> choose_mode(const options &o)
{
    for (const allowed_set &a : k_modes) {
        if (a.c == o.show_current && a.s == o.silent && a.F == o.force && a.p == o.prompt && a.y == o.yes &&
            a.d == o.discover && a.u == o.update)
            return a.mode;
    }
    return std::nullopt;
}

std::string combination_refusal(const options &o)
{
    std::vector<std::string> given;
    for (const auto &[set, name] : {std::pair {o.show_current, "-c"}, {o.silent, "-s"}, {o.force, "-F"},
                                    {o.prompt, "-p"}, {o.yes, "-y"}, {o.discover, "-d"}, {o.update, "-u"}}) {
        if (set)
            given.push_back(name);
    }
    std::string text;
    for (size_t i = 0; i < given.size(); ++i)
        text += (i == 0 ? "" : i + 1 == given.size() ? " and " : ", ") + given[i];
    return (given.size() < 2 ? "these options" : text) + " cannot be combined";
}

void usage(const options &opts)
{
    for (const char *line : {
             "USAGE: rovan [ -s [ -F | -f ] ] [ -y ] [ -p ] [ -c ] [ -d [ REPORT ] ] [ -u REPORT | -su REPORT ] [ -h ]\n",
             "             [ --json ] [ --prometheus FILE ] [ --help ] [ --version ]\n",
             "\t With no option, interactively upgrade firmware.\n",
             "\t -s  Silently upgrade firmware: no prompt; adapters with the newest image are left alone.\n",
             "\t -s -F, -s -f  Silently upgrade firmware, burning the newest image even where it is installed.\n",
             "\t -y  Answer yes to every prompt.\n",
             "\t -p  Interactively upgrade firmware, as with no option.\n",
             "\t -c  Display currently installed firmware information.\n",
             "\t -d  Write the NIC discovery report (XML) of the installed firmware to REPORT,\n"
             "\t     the second word of the command line (default nicdiscovery.xml).\n",
             "\t -u, -su  Burn the adapters whose action in the discovery report REPORT asks for it.\n",
             "\t -h  Display this help menu (exit status 1).\n",
             "\t --help  Display this help menu (exit status 0).\n",
             "\t --version  Display the program's version and the version of its result document.\n",
             "\t --json  Write one JSON document describing the run to standard output, and nothing else.\n",
             "\t --prometheus FILE  Write the adapters' firmware state to FILE for node_exporter.\n",
         })
        print_message(opts, line);
}

std::string version_text()
{
    return std::string("rovan ") + program_version() + "\nresult schema " + std::to_string(k_result_schema) + "\n";
}
