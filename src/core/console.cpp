// Console output (at once, or into an adapter's block), the y/n/q prompt with its logged exchange, and the
// commands run where a shell ran them.
#include "core/console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include <unistd.h>

#include "core/event_log.h"
#include "platform/fd_write.h"
#include "platform/tools.h"

namespace {
// Longest line the prompt reads at once, and longest logged exchange.
constexpr size_t k_prompt_line_max = 499;

// Reads one line of at most k_prompt_line_max characters; the rest of a
// longer line is left for the next read. Nothing when input has ended.
std::optional<std::string> read_prompt_line()
{
    std::string line;
    int c;
    while (line.size() < k_prompt_line_max && (c = std::fgetc(stdin)) != EOF) {
        line.push_back(static_cast<char>(c));
        if (c == '\n')
            break;
    }
    if (line.empty())
        return std::nullopt;
    return line;
}
} // namespace

bool console_write(const run_context &ctx, int fd, std::string_view text)
{
    if (ctx.console) {
        ctx.console->write(fd, text);
        return true;
    }
    std::fflush(stdout);
    return write_all(fd, text.data(), text.size());
}

void console_progress(const run_context &ctx, const std::string &line)
{
    if (ctx.console)
        ctx.console->progress(line);
}

void print_message(const options &opts, const std::string &msg)
{
    if (opts.console_silenced())
        return;
    std::fwrite(msg.data(), 1, msg.size(), stdout);
    std::fflush(stdout);
}

void print_message(const run_context &ctx, const std::string &msg)
{
    if (!ctx.opts.console_silenced())
        console_write(ctx, STDOUT_FILENO, msg);
}

answer nfwu_yesno(run_context &ctx, const std::string &prompt, answer def_ans, const std::string &yorn)
{
    if (ctx.opts.silent || ctx.opts.yes)
        return answer::yes;

    const std::string question = prompt + " y/n/q (" + yorn + "):";
    print_message(ctx, question);

    std::optional<std::string> line = read_prompt_line();
    if (!line) {
        print_message(ctx, "Unknown input problem!\nQuit...\n");
        return answer::quit;
    }

    std::string exchange = question + " " + *line + "\n";
    if (exchange.size() > k_prompt_line_max)
        exchange.resize(k_prompt_line_max);
    log_mellanox_event(ctx.log, LOG_INFO, log_piece::verbatim(exchange));

    // Only a bare newline is Enter; a single character at the end of input is an answer.
    if (*line == "\n")
        return def_ans;
    if (line->back() == '\n')
        line->pop_back();

    const std::string &text = *line;
    if (text == "y" || text == "yes" || text == "Y" || text == "Yes" || text == "YES")
        return answer::yes;
    if (text == "q" || text == "Q" || text == "Quit" || text == "QUIT" || text == "quit")
        return answer::quit;
    if (text == "c" || text == "C")
        return answer::continue_all;
    return answer::no;
}

namespace {
std::string cannot_run(const process_request &request, const process_result &result)
{
    return "rovan: cannot run " + request.path + ": " + std::strerror(result.exec_error) + "\n";
}
} // namespace

process_result run_command(tool_runner &tools, const process_request &request)
{
    process_result result = tools.run(request);
    if (result.exec_error != 0) {
        std::fputs(cannot_run(request, result).c_str(), stderr);
        std::fflush(stderr);
    }
    return result;
}

int shell_status(const process_result &result)
{
    if (!result.started)
        return -1;
    if (result.exec_error != 0)
        return result.exec_error == ENOENT || result.exec_error == ENOTDIR ? 127 : 126;
    if (result.exited)
        return result.exit_code;
    return 128 + result.term_signal;
}

int do_command(const run_context &ctx, const process_request &request)
{
    console_write(ctx, STDOUT_FILENO, command_text(request) + " \n");
    const process_result result = ctx.tools.run(request);
    if (result.exec_error != 0)
        console_write(ctx, STDERR_FILENO, cannot_run(request, result));
    return shell_status(result);
}
