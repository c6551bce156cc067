// Console output, the y/n/q prompt with its logged exchange, and the commands run where a shell ran them.
#include "core/console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "core/event_log.h"
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

void print_message(const options &opts, const std::string &msg)
{
    if (opts.console_silenced())
        return;
    std::fwrite(msg.data(), 1, msg.size(), stdout);
    std::fflush(stdout);
}

void print_message(const run_context &ctx, const std::string &msg)
{
    print_message(ctx.opts, msg);
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

process_result run_command(tool_runner &tools, const process_request &request)
{
    process_result result = tools.run(request);
    if (result.exec_error != 0) {
        std::fprintf(stderr, "rovan: cannot run %s: %s\n", request.path.c_str(), std::strerror(result.exec_error));
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

int do_command(tool_runner &tools, const process_request &request)
{
    std::printf("%s \n", command_text(request).c_str());
    std::fflush(stdout);
    return shell_status(run_command(tools, request));
}
