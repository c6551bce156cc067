#pragma once

// File helpers of the simulated-server builder. Every failure throws: a
// server that could not be built must stop the test, not mislead it.

#include <filesystem>
#include <string>

namespace sim::files {

// Creates the parent directories and replaces the file (a new inode, so a
// copy of a tool is never written through).
void write_file(const std::string &path, const std::string &content);
void make_dirs(const std::string &path);
void remove_path(const std::string &path);
// Empty when absent.
std::string read_file(const std::string &path);
// A copy, executable.
void copy_program(const std::string &from, const std::string &to);

} // namespace sim::files
