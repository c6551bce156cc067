#pragma once

// The files through which the simulated server and its stand-in tools share
// state: key=value files for each tool's configuration and each device, and
// one calls file that every stand-in appends its command line to. Header-only
// so that each stand-in stays a single self-contained program.

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace sim::state {

using KeyValues = std::map<std::string, std::string>;

// Backslash escapes keep every value on one line and every field free of
// the separators used around it.
inline std::string escape(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '=': out += "\\e"; break;
        default: out += c;
        }
    }
    return out;
}

inline std::string unescape(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'e': out += '='; break;
        default: out += text[i];
        }
    }
    return out;
}

// Where the state lives: $ROVAN_SIM_STATE, else $ROVAN_SYSROOT/sim-state.
inline std::string state_dir_from_env()
{
    if (const char *dir = std::getenv("ROVAN_SIM_STATE"); dir && *dir)
        return dir;
    if (const char *root = std::getenv("ROVAN_SYSROOT"); root && *root)
        return std::string(root) + "/sim-state";
    return "";
}

inline std::optional<std::string> read_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::optional<KeyValues> read_key_values(const std::string &path)
{
    std::optional<std::string> text = read_text(path);
    if (!text)
        return std::nullopt;
    KeyValues values;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[unescape(line.substr(0, eq))] = unescape(line.substr(eq + 1));
    }
    return values;
}

// Written to a side file and renamed, so a reader never sees half a file.
inline bool write_key_values(const std::string &path, const KeyValues &values)
{
    std::string text;
    for (const auto &[key, value] : values)
        text += escape(key) + "=" + escape(value) + "\n";
    const std::string side = path + ".new." + std::to_string(getpid());
    {
        std::ofstream out(side, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            return false;
    }
    return std::rename(side.c_str(), path.c_str()) == 0;
}

inline std::optional<std::string> value_of(const KeyValues &values, const std::string &key)
{
    auto it = values.find(key);
    if (it == values.end())
        return std::nullopt;
    return it->second;
}

inline int number_of(const KeyValues &values, const std::string &key, int fallback = 0)
{
    std::optional<std::string> text = value_of(values, key);
    return text ? std::atoi(text->c_str()) : fallback;
}

// One line per call: the escaped words separated by tabs. The whole line
// goes out in one write to a file opened for appending, so calls of
// concurrent tools never interleave.
inline std::string calls_file(const std::string &state_dir)
{
    return state_dir + "/calls";
}

inline void append_call(const std::string &state_dir, int argc, char **argv)
{
    std::string line;
    for (int i = 0; i < argc; ++i)
        line += (i ? "\t" : "") + escape(argv[i]);
    line += "\n";
    int fd = open(calls_file(state_dir).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    ssize_t written;
    do
        written = write(fd, line.data(), line.size());
    while (written < 0 && errno == EINTR);
    close(fd);
}

inline std::vector<std::vector<std::string>> parse_calls(const std::string &text)
{
    std::vector<std::vector<std::string>> calls;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> words;
        size_t start = 0;
        for (;;) {
            size_t tab = line.find('\t', start);
            words.push_back(unescape(line.substr(start, tab - start)));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        calls.push_back(std::move(words));
    }
    return calls;
}

// Flash tools accept a device with or without its PCI domain.
inline std::string full_pci_address(const std::string &address)
{
    size_t colons = 0;
    for (char c : address)
        colons += c == ':';
    return colons == 1 ? "0000:" + address : address;
}

// State file of one flash device; the address is kept out of the path syntax.
inline std::string device_file(const std::string &state_dir, const std::string &address)
{
    std::string name;
    for (char c : full_pci_address(address))
        name += c == '/' ? '_' : c;
    return state_dir + "/flash/" + name;
}

inline std::string tool_file(const std::string &state_dir, const std::string &tool)
{
    return state_dir + "/" + tool;
}

} // namespace sim::state
