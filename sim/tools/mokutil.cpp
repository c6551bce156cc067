// Stand-in for the Secure Boot query tool: answers "--sb-state" with the
// text the simulated server configured.

#include "../sim_state.h"

int main(int argc, char **argv)
{
    const std::string state = sim::state::begin_call(argc, argv);
    if (argc != 2 || std::string(argv[1]) != "--sb-state") {
        std::fprintf(stderr, "Usage: mokutil --sb-state\n");
        return 1;
    }
    std::printf("%s\n", sim::state::read_text(state + "/mokutil").value_or("SecureBoot disabled").c_str());
    return 0;
}
