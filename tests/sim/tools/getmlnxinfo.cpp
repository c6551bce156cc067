// Stand-in for the package's image-information program: "imgfile ADDRESS"
// prints the answer line configured for that address ("0", no image, when
// none is) and exits with the configured status; records every call.

#include <cstdio>
#include <string>

#include "../sim_state.h"

int main(int argc, char **argv)
{
    const std::string state = sim::state::state_dir_from_env();
    if (state.empty()) {
        std::fprintf(stderr, "getmlnxinfo (simulated): neither ROVAN_SIM_STATE nor ROVAN_SYSROOT is set\n");
        return 99;
    }
    sim::state::append_call(state, argc, argv);

    if (argc != 3 || std::string(argv[1]) != "imgfile") {
        std::fprintf(stderr, "Usage: getmlnxinfo imgfile <bus address>\n");
        return 1;
    }
    sim::state::KeyValues answers = sim::state::read_key_values(sim::state::tool_file(state, "getmlnxinfo"))
                                        .value_or(sim::state::KeyValues{});
    const std::string address = argv[2];
    std::printf("%s\n", sim::state::value_of(answers, "answer " + address).value_or("0").c_str());
    return sim::state::number_of(answers, "status " + address);
}
