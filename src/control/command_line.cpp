#include "control/command_line.h"

#include <cstring>
#include <string>

#include "control/console.h"
#include "globals.h"

namespace {
// The report path buffer of the original held 4095 characters; longer paths are refused.
constexpr size_t k_report_path_max = 4095;

void rewrite_slash_option(char *word, bool allow_force)
{
    if (std::strcmp(word, "/d") == 0 || std::strcmp(word, "/u") == 0 || std::strcmp(word, "/s") == 0 ||
        (allow_force && std::strcmp(word, "/F") == 0))
        word[0] = '-';
}

bool looks_like_option(const char *word)
{
    return std::strchr(word, '-') != nullptr && std::strlen(word) != 1;
}
} // namespace

int verify_cmd_line_options(int argc, char **pargv)
{
    if (argc < 1 || argc > 4)
        return 2;
    if (argc == 4) {
        const std::string third = pargv[3];
        if (std::strstr(pargv[1], "eth") && std::strcmp(pargv[2], "-bootenable") == 0 &&
            (third == "rom" || third == "iscsi" || third == "disabled"))
            return 256;
        return 2;
    }
    if (argc == 1)
        return 0;
    if (argc == 2) {
        rewrite_slash_option(pargv[1], true);
        if (!looks_like_option(pargv[1]))
            return 2;
        g_XMLDiscoveryReport = g_XMLDiscoveryReportDefault;
        return 0;
    }
    rewrite_slash_option(pargv[1], false);
    if (std::strcmp(pargv[2], "/F") == 0)
        pargv[2][0] = '-';
    if (!looks_like_option(pargv[1]))
        return 2;
    if (std::strlen(pargv[2]) > k_report_path_max)
        return 2;
    g_XMLDiscoveryReport = pargv[2];
    return 0;
}

void usage()
{
    print_message("USAGE: rovan [ -s ] [ -s [ -F ] ] [ -s [ -f ] ] [ -y ] [ -d ] [ -c ] [ -h ]\n");
    print_message("\t With no option, interactively upgrade firmware. \n");
    print_message("\t -s  Silently upgrade firmware.\n");
    print_message("\t -y  Assume default repsonse for all prompts.\n");
    print_message("\t -d  Generates NIC Discovery xml file for currently installed version.\n");
    print_message("\t -c  Display currently installed firmware information.\n");
    print_message("\t -h  Display this help menu.\n");
}
