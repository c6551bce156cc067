// The state files shared by the simulated server and its stand-in tools.
#pragma once

// What the simulated server and its stand-in tools share, through files under
// $ROVAN_SIM_STATE: one file per setting (absent when unset) and a calls file
// that every stand-in appends its command line to. Header-only so that each
// stand-in stays a single self-contained program.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>

namespace sim::state {

// First line of a firmware image file; its PSID and version follow, one a line.
inline const std::string k_image_head = "# firmware image of the simulated server";

inline std::optional<std::string> read_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Written to a side file and renamed: a reader never sees half a file, and a
// file that a running program holds open is replaced, not written through.
inline bool write_text(const std::string &path, const std::string &text)
{
    const std::string side = path + ".new." + std::to_string(getpid());
    {
        std::ofstream out(side, std::ios::binary | std::ios::trunc);
        if (!out.write(text.data(), static_cast<std::streamsize>(text.size())).flush())
            return false;
    }
    return std::rename(side.c_str(), path.c_str()) == 0;
}

inline int number(const std::string &path)
{
    return std::atoi(read_text(path).value_or("0").c_str());
}

// A setting named after an address or a device, kept out of the path syntax.
inline std::string file_name(std::string text)
{
    std::replace(text.begin(), text.end(), '/', '_');
    return text.empty() ? "_" : text;
}

// Flash tools accept a device with or without its PCI domain.
inline std::string device_dir(const std::string &state, const std::string &address)
{
    const bool short_form = std::count(address.begin(), address.end(), ':') == 1;
    return state + "/flash/" + file_name(short_form ? "0000:" + address : address);
}

// Records the call (escaped words, tab-separated, one line) and returns the
// state directory; ends the stand-in when no simulated server is set.
inline std::string begin_call(int argc, char **argv)
{
    const char *dir = std::getenv("ROVAN_SIM_STATE");
    if (!dir || !*dir) {
        std::fprintf(stderr, "%s (simulated): ROVAN_SIM_STATE is not set\n", argv[0]);
        std::exit(99);
    }
    std::string line;
    for (int i = 0; i < argc; ++i) {
        line += i ? "\t" : "";
        for (const char *c = argv[i]; *c; ++c)
            line += *c == '\\' ? "\\\\" : *c == '\t' ? "\\t" : *c == '\n' ? "\\n" : std::string(1, *c);
    }
    line += "\n";
    // One write to a file opened for appending, so that concurrent calls never interleave.
    const int fd = open((std::string(dir) + "/calls").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        while (write(fd, line.data(), line.size()) < 0 && errno == EINTR) {
        }
        close(fd);
    }
    return dir;
}

} // namespace sim::state
