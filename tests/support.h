// What the tests share: scratch directories, whole files, waiting, and views of a simulated server's runs.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "sim_server.h"

namespace support {

using Calls = std::vector<std::vector<std::string>>;

inline std::string read_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A directory of the test's own (ctest runs tests side by side), removed with its owner.
struct scratch_dir {
    explicit scratch_dir(const std::string &parent = std::filesystem::temp_directory_path())
        : path(parent + "/rovan-test-XXXXXX")
    {
        if (!mkdtemp(path.data()))
            throw std::runtime_error("cannot create " + path);
    }
    ~scratch_dir() { std::error_code ec; std::filesystem::remove_all(path, ec); }
    std::string path;
};

// Polls until done() holds, for at most 20 s; answers whether it held.
inline bool wait_until(const std::function<bool()> &done)
{
    for (int tries = 0; tries < 2000; ++tries, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (done())
            return true;
    return false;
}

// Each line as an argument vector: "a b c" is {"a", "b", "c"}.
inline Calls as_calls(const std::vector<std::string> &lines)
{
    Calls calls;
    for (const std::string &line : lines) {
        std::istringstream in(line);
        calls.emplace_back(std::istream_iterator<std::string>(in), std::istream_iterator<std::string>());
    }
    return calls;
}

// The stand-ins' calls other than queries (the Secure Boot check, getmlnxinfo, burns), in order.
inline Calls commands(const sim::SimServer &server)
{
    Calls calls = server.tool_calls();
    std::erase_if(calls, [](const auto &call) { return call.back() == "q"; });
    return calls;
}

// The event log with each entry's time dropped: "[INFO]      [time] text" becomes "[INFO]     text".
inline std::string log_without_times(const sim::SimServer &server)
{
    return std::regex_replace(server.log(), std::regex(R"((^|\n)(\[[A-Z]+\] +) \[[^\]\n]*\] )"), "$1$2");
}

inline size_t count_of(const std::string &text, const std::string &pattern)
{
    const std::regex re(pattern);
    return std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator());
}

} // namespace support
