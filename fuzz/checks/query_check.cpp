// The flash tool's query output: each label's line is the first that carries it, however the pipe
// splits the output, and the value cut from it stays within that line.
#include <algorithm>

#include "checks.h"
#include "core/flash_query.h"
#include "platform/query_tool.h"
#include "support.h"

// The first byte picks how the pipe splits the rest, the tool's whole output.
check_result check_query(std::string_view input)
{
    if (input.empty())
        return std::nullopt;
    const size_t chunk = static_cast<unsigned char>(input[0]) + 1;
    const std::string output(input.substr(1));
    const std::vector<std::string> labels = {"FW Version", "PSID", "Base MAC"};
    const std::vector<std::optional<std::string>> picked = pick_labelled_lines(output, labels, chunk);
    const std::vector<std::string> lines = split_lines(output);

    for (size_t i = 0; i < labels.size(); ++i) {
        const std::string &label = labels[i];
        const auto carrier = std::find_if(lines.begin(), lines.end(),
                                          [&](const std::string &line) { return has_nocase(line, label); });
        if (carrier == lines.end()) {
            if (picked[i])
                return "no line carries " + label + ", yet the query picked " + printable(*picked[i]);
            continue;
        }
        // A line longer than the part the query keeps is cut; the kept part starts the same.
        const std::string &line = *carrier;
        if (!picked[i] || !(*picked[i] == line || (line.size() > 4096 && line.starts_with(*picked[i]))))
            return "the line " + printable(line) + " carries " + label + ", yet the query picked " +
                   printable(picked[i].value_or("nothing"));
        bool had_text = false;
        const std::optional<std::string> value = cut_labelled_value(*picked[i], label, &had_text);
        if (!value)
            return "no value cut from " + printable(*picked[i]) + " for " + label;
        if (value->size() > picked[i]->size())
            return "the value " + printable(*value) + " for " + label + " is longer than its line " +
                   printable(*picked[i]);
        if (picked[i]->find(*value) == std::string::npos)
            return "the value " + printable(*value) + " for " + label + " is not part of its line";
        if (value->find_first_of(" \t\r\n") != std::string::npos)
            return "the value " + printable(*value) + " for " + label + " holds a blank or a line end";
    }
    return std::nullopt;
}
