// Command-line shape, option parsing, the table of modes and the usage text.
#include "app/command_line.h"

#include <array>
#include <cstring>
#include <string>
#include <unistd.h>

#include "core/console.h"
#include "core/package_files.h"

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

std::optional<int> parse_options(int argc, char **argv, options &opts)
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
        case 'h': usage(opts); return 1;
        default:
            print_message(opts, "Unknown command line option: " + std::string(1, static_cast<char>(opt)) + "\n");
            usage(opts);
            return 1;
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

void usage(const options &opts)
{
    print_message(opts, "USAGE: rovan [ -s ] [ -s [ -F ] ] [ -s [ -f ] ] [ -y ] [ -d ] [ -c ] [ -h ]\n");
    print_message(opts, "\t With no option, interactively upgrade firmware. \n");
    print_message(opts, "\t -s  Silently upgrade firmware.\n");
    print_message(opts, "\t -y  Assume default repsonse for all prompts.\n");
    print_message(opts, "\t -d  Generates NIC Discovery xml file for currently installed version.\n");
    print_message(opts, "\t -c  Display currently installed firmware information.\n");
    print_message(opts, "\t -h  Display this help menu.\n");
}
