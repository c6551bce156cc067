// The command line in-process: its shape, the options parsed and the mode each set of options selects.
#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

// What main's command-line steps make of the words after "rovan": help, version, "long: <why refused>",
// malformed, ignored, "exit N" (" quietly" when nothing was printed), or the mode chosen ("refused": none) and
// the options set (--json followed by the report path, --prometheus as "prom=FILE").
std::string parse(std::vector<std::string> words)
{
    words.insert(words.begin(), "rovan");
    std::vector<char *> all;
    for (std::string &word : words)
        all.push_back(word.data());
    options o;
    long_options_taken taken = take_long_options(static_cast<int>(all.size()), all.data(), o);
    if (taken.request != long_request::none)
        return taken.request == long_request::help ? "help" : "version";
    if (taken.error)
        return "long: " + *taken.error;
    std::vector<char *> &argv = taken.words;
    const int argc = static_cast<int>(argv.size()) - 1;
    if (const cmdline_check check = verify_cmd_line_options(argc, argv.data(), o); check != cmdline_check::proceed)
        return check == cmdline_check::ignored ? "ignored" : "malformed";
    ::testing::internal::CaptureStdout();
    const std::optional<parse_stop> status = parse_options(argc, argv.data(), o);
    if (const bool quiet = ::testing::internal::GetCapturedStdout().empty(); status)
        return "exit " + std::to_string(status->status) + (quiet ? " quietly" : "");
    const std::string set = std::string(o.show_current ? "c" : "") + (o.silent ? "s" : "") + (o.force ? "F" : "") +
                            (o.prompt ? "p" : "") + (o.yes ? "y" : "") + (o.discover ? "d" : "") +
                            (o.update ? "u" : "");
    const char *const modes[] = {"upgrade", "show_current", "discover", "update"};
    const std::optional<run_mode> mode = choose_mode(o);
    return (mode ? modes[static_cast<int>(*mode)] : "refused") + (set.empty() ? "" : " " + set) +
           (o.json ? " json " + o.report_path : "") + (o.prometheus_path.empty() ? "" : " prom=" + o.prometheus_path);
}

// The accepted sets of each mode and a few refused ones, the command line's shapes and slash spellings, and the
// options that end the run before any mode.
TEST(CommandLine, SelectsTheModeOfEachAcceptedSetAndRefusesTheRest)
{
    const std::string r4095(4095, 'r');
    for (const auto &[words, result] : std::vector<std::pair<std::vector<std::string>, std::string>> {
             {{}, "upgrade"}, {{"-s"}, "upgrade s"}, {{"-sF"}, "upgrade sF"}, {{"-sf"}, "upgrade sF"},
             {{"-F"}, "upgrade F"}, {{"-p"}, "upgrade p"}, {{"-y"}, "upgrade y"}, {{"-i"}, "upgrade"},
             {{"-c"}, "show_current c"}, {{"-d"}, "discover d"}, {{"-u", "r"}, "update u"}, {{"-su", "r"}, "update su"},
             {{"-sc"}, "refused cs"}, {{"-cy"}, "refused cy"}, {{"-sy"}, "refused sy"}, {{"-Fd"}, "refused Fd"},
             {{"-du", "r"}, "refused du"}, {{"-sp"}, "refused sp"}, {{"-Fp"}, "refused Fp"},
             {{"-Fu", "r"}, "refused Fu"}, {{"-py"}, "refused py"}, {{"-yu", "r"}, "refused yu"},
             {{"-cd"}, "refused cd"}, {{"-h", "-s"}, "exit 1"}, {{"/s", "/F"}, "upgrade sF"}, {{"/F"}, "upgrade F"},
             {{"/d", "r"}, "discover d"}, {{"/u", "r"}, "update u"}, {{"-ur"}, "update u"},
             {{"-c", r4095}, "show_current c"}, {{"-c", r4095 + "r"}, "malformed"}, {{"-"}, "malformed"},
             {{"upgrade"}, "malformed"}, {{"/c"}, "malformed"}, {{"/F", "/s"}, "malformed"},
             {{"-s", "-u", "r"}, "malformed"}, {{"eth0", "-bootenable", "rom"}, "ignored"},
             {{"eth3", "-bootenable", "iscsi"}, "ignored"}, {{"eth", "-bootenable", "disabled"}, "ignored"},
             {{"eth0", "-bootenable", "pxe"}, "malformed"}, {{"ens1", "-bootenable", "rom"}, "malformed"},
             {{"eth0", "-bootEnable", "rom"}, "malformed"}, {{"-u"}, "exit 1"},
             {{"eth0", "-bootenable", "rom", "-s"}, "malformed"}, {{"-h"}, "exit 1"}, {{"-sh"}, "exit 1 quietly"},
             // The long options leave the other words, in order, to the rules above.
             {{"--json", "-su", "r"}, "update su json r"}, {{"-su", "r", "--json"}, "update su json r"},
             {{"-d", "--prometheus", "-r"}, "long: --prometheus needs a file name"}, {{"--json", "-s", "-u", "r"},
             "malformed"}, {{"--prometheus=m", "-d", "r", "--json"}, "discover d json r prom=m"},
             {{"-c", "--prometheus", "m"}, "show_current c prom=m"}, {{"--prometheus="}, "long: --prometheus needs "
             "a file name"}, {{"-x", "--version", "--help"}, "version"}, {{"-sh", "--help"}, "help"},
             {{"--xyz"}, "exit 1"}, {{"--json"}, "upgrade json "}})
        EXPECT_EQ(parse(words), result) << ::testing::PrintToString(words);
}

} // namespace
