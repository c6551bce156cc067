// Stand-in for the Mellanox adapter service tool: "status" and "start" with
// the exit statuses the simulated server configured.

#include "../sim_state.h"

int main(int argc, char **argv)
{
    const std::string state = sim::state::begin_call(argc, argv);
    const std::string command = argc == 2 ? argv[1] : "";
    if (command == "status") {
        const bool started = sim::state::number(state + "/mst_started");
        std::fputs(started ? "MST PCI module loaded\n" : "MST PCI module is not loaded\n", stdout);
        return sim::state::number(state + "/mst_status_exit");
    }
    if (command == "start") {
        std::fputs("Starting MST (Mellanox Software Tools) driver set\n", stdout);
        if (int code = sim::state::number(state + "/mst_start_exit")) {
            std::fputs("Loading MST PCI module - Failure\n", stdout);
            return code;
        }
        std::fputs("Loading MST PCI module - Success\nCreate devices\n", stdout);
        sim::state::write_text(state + "/mst_started", "1");
        return 0;
    }
    std::fprintf(stderr, "Usage: mst {start|stop|status}\n");
    return 1;
}
