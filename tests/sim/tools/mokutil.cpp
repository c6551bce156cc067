// Stand-in for the Secure Boot query tool: answers "--sb-state" with the
// line the simulated server configured, and records every call.

#include <cstdio>
#include <string>

#include "../sim_state.h"

int main(int argc, char **argv)
{
    const std::string state = sim::state::state_dir_from_env();
    if (state.empty()) {
        std::fprintf(stderr, "mokutil (simulated): neither ROVAN_SIM_STATE nor ROVAN_SYSROOT is set\n");
        return 99;
    }
    sim::state::append_call(state, argc, argv);

    if (argc != 2 || std::string(argv[1]) != "--sb-state") {
        std::fprintf(stderr, "Usage: mokutil --sb-state\n");
        return 1;
    }
    std::optional<sim::state::KeyValues> config =
        sim::state::read_key_values(sim::state::tool_file(state, "mokutil"));
    const std::string line =
        config ? sim::state::value_of(*config, "first_line").value_or("") : "SecureBoot disabled";
    std::printf("%s\n", line.c_str());
    return 0;
}
