// Stand-in for the package's image-information program: "imgfile ADDRESS"
// prints the answer configured for that address ("0", no image, when none
// is) and exits with the configured status, after the configured wait.

#include "../sim_state.h"

int main(int argc, char **argv)
{
    const std::string state = sim::state::begin_call(argc, argv);
    if (argc != 3 || std::string(argv[1]) != "imgfile") {
        std::fprintf(stderr, "Usage: getmlnxinfo imgfile <bus address>\n");
        return 1;
    }
    const std::string answer = state + "/getmlnxinfo/" + sim::state::file_name(argv[2]);
    if (int ms = sim::state::number(answer + ".wait_ms"); ms > 0)
        usleep(static_cast<useconds_t>(ms) * 1000);
    std::printf("%s\n", sim::state::read_text(answer).value_or("0").c_str());
    return sim::state::number(answer + ".status");
}
