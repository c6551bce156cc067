// rovan-simserver DIR: builds the demo server (or, with --bench, a server for
// timing the utility) into DIR and prints, as shell assignments, where it is
// and how to run the utility on it.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim_server.h"

namespace fs = std::filesystem;

namespace {

// Single-quoted, so that the output can be eval'ed whatever the path holds.
std::string shell_word(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

const char *const k_usage = "usage: rovan-simserver DIR (builds the demo server there; prints shell assignments)\n"
                           "       rovan-simserver --bench ADAPTERS CATALOG_ENTRIES QUERY_MS REPORT_DEVICES "
                           "[BURN_SECONDS] DIR\n"
                           "       (a server for timing the utility instead; with BURN_SECONDS, newer images to burn)\n";

} // namespace

int main(int argc, char **argv)
{
    const std::string first = argc > 1 ? argv[1] : "";
    if (argc == 2 && (first == "--help" || first == "-h")) {
        std::fputs(k_usage, stdout);
        return 0;
    }
    const bool bench = (argc == 7 || argc == 8) && first == "--bench";
    // A lone word that starts with '-' is a mistyped option, not a directory to build in (./-dir is one).
    if ((argc != 2 && !bench) || (argc == 2 && first.starts_with('-'))) {
        std::fputs(k_usage, stderr);
        return 2;
    }
    try {
        // A directory of an earlier server is rebuilt; anything else that is not empty is left alone.
        const fs::path dir = argv[argc - 1], marker = dir / ".rovan-simserver";
        if (fs::exists(dir) && !fs::is_empty(dir)) {
            if (!fs::exists(marker)) {
                std::fprintf(stderr, "rovan-simserver: %s is not empty and holds no earlier simulated server; "
                                     "not touched\n", argv[argc - 1]);
                return 1;
            }
            for (const auto &entry : fs::directory_iterator(dir))
                fs::remove_all(entry.path());
        }
        sim::SimServer server(dir.string());
        if (bench)
            sim::build_bench_server(server, std::stoi(argv[2]), std::stoi(argv[3]), std::stoi(argv[4]),
                                    std::stoi(argv[5]), argc == 8 ? std::stoi(argv[6]) : -1);
        else
            sim::build_demo_server(server);
        std::ofstream touch(marker);
        std::printf("ROVAN_SYSROOT=%s\nROVAN_PACKAGE=%s\n", shell_word(server.root()).c_str(),
                    shell_word(server.package_dir()).c_str());
        std::printf("ROVAN_SIM_STATE=%s\nROVAN_SIM=%s\n", shell_word(server.state_dir()).c_str(),
                    shell_word(ROVAN_SIM_BINARY).c_str());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "rovan-simserver: %s\n", e.what());
        return 1;
    }
    return 0;
}
