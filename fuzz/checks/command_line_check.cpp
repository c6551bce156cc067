// The command line: its check, parsing and the mode chosen, against the combination rules of the option bits.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "app/command_line.h"
#include "checks.h"
#include "support.h"

namespace {

// A command line as main receives it: writable words and a null after the last.
class argv_copy {
public:
    explicit argv_copy(const std::vector<std::string> &words) : words_(words)
    {
        for (std::string &word : words_)
            pointers_.push_back(word.data());
        pointers_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(words_.size()); }
    char **argv() { return pointers_.data(); }
    // The words as they stand now (the check and getopt rewrite and reorder them).
    std::vector<std::string> words() const
    {
        std::vector<std::string> now;
        for (size_t i = 0; i + 1 < pointers_.size(); ++i)
            now.emplace_back(pointers_[i]);
        return now;
    }

private:
    std::vector<std::string> words_;
    std::vector<char *> pointers_;
};

// The mode the option bits allow, by the rules of the bit masks: c 0x01, s 0x02,
// F 0x04, p 0x08, y 0x10, d 0x20, u 0x40. Written apart from the program's table.
std::optional<run_mode> mode_by_masks(const options &o)
{
    const unsigned bits = (o.show_current ? 0x01u : 0) | (o.silent ? 0x02u : 0) | (o.force ? 0x04u : 0) |
                          (o.prompt ? 0x08u : 0) | (o.yes ? 0x10u : 0) | (o.discover ? 0x20u : 0) |
                          (o.update ? 0x40u : 0);
    if (((bits & 0x02) && (bits & 0x39)) || ((bits & 0x04) && (bits & 0x79)) || ((bits & 0x10) && (bits & 0x6d)) ||
        ((bits & 0x08) && (bits & 0x67)))
        return std::nullopt;
    if (bits & 0x01)
        return bits & 0x7e ? std::nullopt : std::optional(run_mode::show_current);
    if (bits & 0x20)
        return bits & 0x5f ? std::nullopt : std::optional(run_mode::discover);
    if (bits & 0x40)
        return bits & 0x3d ? std::nullopt : std::optional(run_mode::update);
    return run_mode::upgrade;
}

bool same_options(const options &a, const options &b)
{
    return a.show_current == b.show_current && a.silent == b.silent && a.force == b.force && a.prompt == b.prompt &&
           a.yes == b.yes && a.discover == b.discover && a.update == b.update && a.report_path == b.report_path;
}

std::string shown(const std::vector<std::string> &words)
{
    std::string out;
    for (const std::string &word : words)
        out += (out.empty() ? "" : " ") + printable(word);
    return out;
}

} // namespace

// The input is the words after the program's name, separated by NUL bytes (no word can hold one).
check_result check_command_line(std::string_view input)
{
    std::vector<std::string> words = split_at(input, '\0');
    if (words.size() > 5)
        words.resize(5);
    words.insert(words.begin(), "rovan");

    // The long options come out first; the words left, in their order, are what the rules below read.
    argv_copy given(words);
    options checked;
    const long_options_taken taken = take_long_options(given.argc(), given.argv(), checked);
    std::vector<std::string> left;
    for (size_t i = 0; i + 1 < taken.words.size(); ++i)
        left.emplace_back(taken.words[i]);
    auto next = words.begin();
    for (const std::string &word : left) {
        next = std::find(next, words.end(), word);
        if (next == words.end() || word == "--json" || word == "--help" || word == "--version" ||
            word.starts_with("--prometheus="))
            return "the long options left " + shown(left) + " of " + shown(words);
        ++next;
    }
    if (taken.request != long_request::none || taken.error)
        return std::nullopt;
    words = left;
    argv_copy line(words);
    const cmdline_check verdict = verify_cmd_line_options(line.argc(), line.argv(), checked);
    if (line.argc() > 4 && verdict != cmdline_check::malformed)
        return "more than three words passed the check: " + shown(words);
    if (verdict != cmdline_check::proceed)
        return std::nullopt;
    if (line.argc() == 3 && checked.report_path != line.words()[2])
        return "the report path is " + printable(checked.report_path) + ", not the second word of " + shown(words);
    if (checked.report_path.size() > 4095)
        return "a report path of " + std::to_string(checked.report_path.size()) + " characters passed the check";

    // Parsing the same line twice gives the same options: nothing of the first parse is left for the second.
    const std::vector<std::string> rewritten = line.words();
    argv_copy first(rewritten), second(rewritten);
    options once = checked, again = checked;
    const std::optional<parse_stop> stop_once = parse_options(first.argc(), first.argv(), once);
    const std::optional<parse_stop> stop_again = parse_options(second.argc(), second.argv(), again);
    if (stop_once != stop_again || !same_options(once, again))
        return "parsing " + shown(rewritten) + " twice gave two different results";
    if (stop_once)
        return stop_once->status == 1 ? std::nullopt
                                      : check_result("parsing ended with status " + std::to_string(stop_once->status));

    if (choose_mode(once) != mode_by_masks(once))
        return "choose_mode and the combination rules disagree on " + shown(rewritten);
    return std::nullopt;
}
