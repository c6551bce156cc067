// Running the flash tool's query once and cutting the labelled values from its output.
#include "core/flash_query.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "core/package_files.h"
#include "platform/paths.h"
#include "platform/query_tool.h"
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

flash_query_command flash_query_arguments(const run_context &ctx, const std::string &address)
{
    flash_query_command cmd;
    cmd.path = ctx.boot.installed_tool ? system_path(k_installed_tool) : std::string(k_package_tool);
    // The program name as a shell would have passed it: the path as written.
    cmd.argv = {cmd.path, "-d", address, "q"};
    return cmd;
}

query_answer query_flash_device(run_context &ctx, const std::string &address)
{
    static const std::vector<std::string> labels = {"FW Version", "PSID", "Base MAC"};
    const flash_query_command cmd = flash_query_arguments(ctx, address);
    const query_lines out = ctx.tools.query(cmd.path, cmd.argv, labels, ctx.query_time_limit_s);

    query_answer answer;
    answer.started = out.started;
    answer.timed_out = out.timed_out;
    answer.interrupted = out.interrupted;
    answer.exit_failed = out.exit_failed;
    answer.not_run = out.not_run;
    answer.exit_status = out.exit_status;
    query_field *const fields[] = {&answer.fw_version, &answer.psid, &answer.base_mac};
    for (size_t i = 0; i < labels.size() && i < out.lines.size(); ++i) {
        if (!out.lines[i])
            continue;
        bool had_text = false;
        fields[i]->value = cut_labelled_value(*out.lines[i], labels[i], &had_text);
        fields[i]->rc = fields[i]->value && had_text ? 0 : 1;
    }
    return answer;
}

result_unqueried unqueried_of(const std::string &address, const query_answer &answer)
{
    result_unqueried why {.address = address};
    if (answer.timed_out)
        why.cause = unqueried_cause::timeout;
    else if (!answer.started || answer.not_run || answer.exit_status == 127)
        why.cause = unqueried_cause::tool_missing;
    else if (answer.exit_status.value_or(0) != 0)
        why = {address, unqueried_cause::status, *answer.exit_status};
    return why;
}

near_burn_answer query_device_near_burn(run_context &ctx, const std::string &address)
{
    const query_signal_guard signals;
    near_burn_answer near {.answer = query_flash_device(ctx, address)};
    near.signal = query_signal();
    return near;
}

int query_time_limit(const char *text)
{
    if (!text || *text < '0' || *text > '9')
        return k_default_query_time_limit_s;
    errno = 0;
    char *end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || seconds < 1 || seconds > INT_MAX)
        return k_default_query_time_limit_s;
    return static_cast<int>(seconds);
}
