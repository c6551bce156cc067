// The flash tool's query output: what the query cuts out for each label stays within the line that carries it.
#include <algorithm>

#include "checks.h"
#include "discovery/flash_query.h"
#include "fake_tools.h"
#include "support.h"

// The input is the tool's whole output, read for each of the three labels the inventory asks for.
check_result check_query(std::string_view input)
{
    test_run run;
    const std::string address = "0000:05:00.0";
    const std::vector<std::string> lines = split_lines(input);
    run.tools.lines[flash_query_command(run.ctx, address)] = lines;

    for (const std::string label : {"FW Version", "PSID", "Base MAC"}) {
        opt_text value;
        const int rc = get_firmware_info(run.ctx, address, &value, label);
        const auto carrier = std::find_if(lines.begin(), lines.end(),
                                          [&](const std::string &line) { return has_nocase(line, label); });
        if (carrier == lines.end()) {
            if (value || rc != 1)
                return "no line carries " + label + ", yet the query gave " + printable(value.value_or("")) +
                       " with result " + std::to_string(rc);
            continue;
        }
        const std::string &line = *carrier;
        if (!value)
            return "the line " + printable(line) + " carries " + label + ", yet the query gave nothing";
        if (value->size() > line.size())
            return "the value " + printable(*value) + " for " + label + " is longer than its line " + printable(line);
        if (line.find(*value) == std::string::npos)
            return "the value " + printable(*value) + " for " + label + " is not part of its line " + printable(line);
        if (value->find_first_of(" \t\r\n") != std::string::npos)
            return "the value " + printable(*value) + " for " + label + " holds a blank or a line end";
        if (rc == 0 && line.size() <= label.size() + 1)
            return "the line " + printable(line) + " ends at the label, yet the query answered 0";
    }
    return std::nullopt;
}
