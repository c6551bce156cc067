// The flash tool's query output: each label's line is the first that carries it, however the pipe
// splits the output, and the value cut from it stays within that line.
#include <algorithm>

#include "checks.h"
#include "core/flash_tool.h"
#include "platform/text.h"

// The first byte picks how the pipe splits the rest, the tool's whole output.
check_result check_query(std::string_view input)
{
    if (input.empty())
        return std::nullopt;
    const std::string output(input.substr(1));
    const std::vector<std::string> labels = {"FW Version", "PSID", "Base MAC"};
    const auto picked = pick_labelled_lines(output, labels, static_cast<unsigned char>(input[0]) + 1u);
    for (size_t i = 0; i < labels.size(); ++i) {
        // The first line carrying the label, its line end kept.
        std::optional<std::string> line;
        for (size_t start = 0; start < output.size() && !line;) {
            const size_t end = std::min(output.find('\n', start), output.size() - 1) + 1;
            if (contains_nocase(output.substr(start, end - start), labels[i]))
                line = output.substr(start, end - start);
            start = end;
        }
        // A line longer than the part the query keeps is cut; the kept part starts the same.
        if (line ? !picked[i] || !(*picked[i] == *line || (line->size() > 4096 && line->starts_with(*picked[i])))
                 : picked[i].has_value())
            return printable(line.value_or("no line")) + " carries " + labels[i] + ", yet the query picked " +
                   printable(picked[i].value_or("nothing"));
        if (!line)
            continue;
        bool had_text = false;
        const std::optional<std::string> value = cut_labelled_value(*picked[i], labels[i], &had_text);
        if (!value || picked[i]->find(*value) == std::string::npos ||
            value->find_first_of(" \t\r\n") != std::string::npos)
            return "the value " + printable(value.value_or("(none)")) + " for " + labels[i] +
                   " is no blank-free part of its line " + printable(*picked[i]);
    }
    return std::nullopt;
}
