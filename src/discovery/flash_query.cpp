// Running the flash tool's query and cutting labelled values from its output.
#include "discovery/flash_query.h"

#include <cstdio>

#include "core/package_files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/tools.h"

namespace {
bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

bool is_line_end(char c)
{
    return c == '\n' || c == '\r';
}
} // namespace

std::optional<std::string> cut_labelled_value(const std::string &line, const std::string &label, bool *had_text)
{
    *had_text = false;
    if (!contains_nocase(line, label))
        return std::nullopt;
    size_t pos = label.size() + 1;
    if (pos >= line.size())
        return std::string();
    // Blanks alone count as no text; a line end counts.
    *had_text = line.find_first_not_of(' ', pos) != std::string::npos;
    while (pos < line.size() && is_blank(line[pos]))
        ++pos;
    size_t end = pos;
    while (end < line.size() && !is_blank(line[end]) && !is_line_end(line[end]))
        ++end;
    return line.substr(pos, end - pos);
}

std::string flash_query_command(const run_context &ctx, const std::string &address)
{
    const std::string tool = ctx.boot.installed_tool ? system_path(k_installed_tool) : std::string(k_package_tool);
    return tool + " -d " + address + " q 2>&1";
}

int get_firmware_info(run_context &ctx, const std::string &pif, opt_text *ppfw, const std::string &fw_match_pattern)
{
    std::optional<std::vector<std::string>> lines = ctx.tools.read_lines(flash_query_command(ctx, pif));
    if (!lines) {
        std::fputs("\n In popen for mstflint fork(2) or pipe(2) calls fail, \t\t\t\t or cannot allocate memory. \n\n",
                   stderr);
        return 1;
    }
    for (const std::string &line : *lines) {
        bool had_text = false;
        std::optional<std::string> value = cut_labelled_value(line, fw_match_pattern, &had_text);
        if (value) {
            *ppfw = std::move(value);
            return had_text ? 0 : 1;
        }
    }
    return 1;
}
