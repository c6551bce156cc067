#include "sim_files.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace sim::files {

void make_dirs(const std::string &path)
{
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec)
        throw std::runtime_error("simulated server: cannot create " + path + ": " + ec.message());
}

void remove_path(const std::string &path)
{
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec)
        throw std::runtime_error("simulated server: cannot remove " + path + ": " + ec.message());
}

void write_file(const std::string &path, const std::string &content)
{
    make_dirs(fs::path(path).parent_path().string());
    remove_path(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush())
        throw std::runtime_error("simulated server: cannot write " + path);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void copy_program(const std::string &from, const std::string &to)
{
    make_dirs(fs::path(to).parent_path().string());
    remove_path(to);
    std::error_code ec;
    fs::copy_file(from, to, ec);
    if (!ec)
        fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec, ec);
    if (ec)
        throw std::runtime_error("simulated server: cannot install " + from + " as " + to + ": " + ec.message());
}

} // namespace sim::files
