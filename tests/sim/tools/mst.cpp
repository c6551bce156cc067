// Stand-in for the Mellanox adapter service tool: "status" and "start" with
// the exit statuses the simulated server configured; records every call.

#include <cstdio>
#include <string>

#include "../sim_state.h"

namespace {

void print_status(bool started)
{
    std::printf("MST modules:\n------------\n");
    if (!started) {
        std::printf("    MST PCI module is not loaded\n    MST PCI configuration module is not loaded\n");
        return;
    }
    std::printf("    MST PCI module loaded\n    MST PCI configuration module loaded\n\n"
                "MST devices:\n------------\n/dev/mst/mt4119_pciconf0         - PCI configuration cycles access.\n");
}

} // namespace

int main(int argc, char **argv)
{
    const std::string state = sim::state::state_dir_from_env();
    if (state.empty()) {
        std::fprintf(stderr, "mst (simulated): neither ROVAN_SIM_STATE nor ROVAN_SYSROOT is set\n");
        return 99;
    }
    sim::state::append_call(state, argc, argv);

    const std::string file = sim::state::tool_file(state, "mst");
    sim::state::KeyValues config = sim::state::read_key_values(file).value_or(sim::state::KeyValues{});
    const std::string command = argc == 2 ? argv[1] : "";
    if (command == "status") {
        print_status(sim::state::number_of(config, "started"));
        return sim::state::number_of(config, "status_exit");
    }
    if (command == "start") {
        std::printf("Starting MST (Mellanox Software Tools) driver set\n");
        int code = sim::state::number_of(config, "start_exit");
        if (code != 0) {
            std::printf("Loading MST PCI module - Failure\n");
            return code;
        }
        std::printf("Loading MST PCI module - Success\nLoading MST PCI configuration module - Success\n"
                    "Create devices\n");
        config["started"] = "1";
        sim::state::write_key_values(file, config);
        return 0;
    }
    std::fprintf(stderr, "Usage: mst {start|stop|status}\n");
    return 1;
}
