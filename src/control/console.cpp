#include "control/console.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include "globals.h"
#include "platform/process.h"

const char *const LOG_INFO = "[INFO]     ";
const char *const LOG_WARNING = "[WARNING]  ";
const char *const LOG_ERROR = "[ERROR]    ";

namespace {
// Longest line the prompt reads at once, and longest logged exchange.
constexpr size_t k_prompt_line_max = 499;

bool console_silenced()
{
    return (g_iFlag & 0x0002) || (g_iFlag & 0x0040) || (g_iFlag & 0x0020);
}
} // namespace

void print_message(const std::string &msg)
{
    if (console_silenced())
        return;
    std::fwrite(msg.data(), 1, msg.size(), stdout);
    std::fflush(stdout);
}

void log_mellanox_event(FILE *pevent_file, const char *pevent_tag, const std::string &pextra_text)
{
    if (!pevent_file)
        return;
    std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char when[64];
    // The 24-character ctime form without its newline.
    std::strftime(when, sizeof when, "%a %b %e %H:%M:%S %Y", &local);
    std::fprintf(pevent_file, "%s [%s] %s\n", pevent_tag, when, pextra_text.c_str());
    std::fflush(pevent_file);
}

namespace {
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

int nfwu_yesno(const std::string &prompt, int /*sil_ans*/, int /*frc_ans*/, int def_ans, const std::string &yorn)
{
    if (g_iFlag & 0x0002)
        return 0;
    if (g_iFlag & 0x0010)
        return 0;

    const std::string question = prompt + " y/n/q (" + yorn + "):";
    print_message(question);

    std::optional<std::string> line = read_prompt_line();
    if (!line) {
        print_message("Unknown input problem!\nQuit...\n");
        return 2;
    }

    std::string exchange = question + " " + *line + "\n";
    if (exchange.size() > k_prompt_line_max)
        exchange.resize(k_prompt_line_max);
    log_mellanox_event(pmstflint_fout, LOG_INFO, exchange);

    const size_t length = line->size();
    if (!line->empty() && line->back() == '\n')
        line->pop_back();
    if (length == 1)
        return def_ans;

    const std::string &answer = *line;
    if (answer == "y" || answer == "yes" || answer == "Y" || answer == "Yes" || answer == "YES")
        return 0;
    if (answer == "q" || answer == "Q" || answer == "Quit" || answer == "QUIT" || answer == "quit")
        return 2;
    if (answer == "c" || answer == "C")
        return 3;
    return 1;
}

int do_command(const std::string &command)
{
    std::printf("%s \n", command.c_str());
    std::fflush(stdout);
    return shell_exit_status(command);
}

void open_event_log()
{
    static const char log_name[] = "mstflint.log";
    pmstflint_fout = std::fopen(log_name, "a");
    if (!pmstflint_fout) {
        int err = errno;
        std::fprintf(stderr, "FWUPG_ERROR: could not open %s (%d), %s,%d\n", log_name, err, "mstflint", __LINE__);
        std::exit(1);
    }
}
