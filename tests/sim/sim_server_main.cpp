// rovan-simserver DIR: builds the demo server into DIR and prints, as shell
// assignments, where it is and how to run the utility on it.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "sim_server.h"

namespace fs = std::filesystem;

namespace {

const char *const k_marker = ".rovan-simserver";

// Plain when safe, else single-quoted, so that the output can be eval'ed.
std::string shell_word(const std::string &text)
{
    if (!text.empty() && text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                "0123456789/._-:+@%,") == std::string::npos)
        return text;
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A directory of an earlier demo is rebuilt; anything else that is not empty is refused.
bool prepare(const fs::path &dir)
{
    if (!fs::exists(dir) || fs::is_empty(dir))
        return true;
    if (!fs::exists(dir / k_marker)) {
        std::fprintf(stderr, "rovan-simserver: %s is not empty and holds no earlier demo server; not touched\n",
                     dir.c_str());
        return false;
    }
    for (const auto &entry : fs::directory_iterator(dir))
        fs::remove_all(entry.path());
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: rovan-simserver DIR\n"
                             "Builds the demo server into DIR and prints ROVAN_SYSROOT, ROVAN_PACKAGE,\n"
                             "ROVAN_SIM_STATE and ROVAN_SIM as shell assignments.\n");
        return 2;
    }
    try {
        if (!prepare(argv[1]))
            return 1;
        sim::SimServer server(argv[1]);
        sim::build_demo_server(server);
        std::FILE *marker = std::fopen((fs::path(server.root()) / k_marker).c_str(), "w");
        if (marker)
            std::fclose(marker);
        std::printf("ROVAN_SYSROOT=%s\n", shell_word(server.root()).c_str());
        std::printf("ROVAN_PACKAGE=%s\n", shell_word(server.package_dir()).c_str());
        std::printf("ROVAN_SIM_STATE=%s\n", shell_word(server.state_dir()).c_str());
        std::printf("ROVAN_SIM=%s\n", shell_word(ROVAN_SIM_BINARY).c_str());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "rovan-simserver: %s\n", e.what());
        return 1;
    }
    return 0;
}
