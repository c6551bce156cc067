// The one interface through which the program runs outside programs, so that tests can stand in for them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/query_tool.h"

class tool_runner {
public:
    virtual ~tool_runner() = default;
    // Runs a command through the shell and returns its standard output as lines
    // (line ends kept), or nothing when it could not be started.
    virtual std::optional<std::vector<std::string>> read_lines(const std::string &command) = 0;
    // Runs a command through the shell: its exit status, 127 when not found, -1 when no shell ran.
    virtual int shell(const std::string &command) = 0;
    // Runs a query tool without a shell and keeps the first output line carrying each label; see
    // run_query_tool. Called from several threads at once.
    virtual query_lines query(const std::string &path, const std::vector<std::string> &argv,
                              const std::vector<std::string> &labels, int time_limit_s) = 0;
    // Runs the flash tool's burn without a shell; see run_flash_tool. Called from several threads at once.
    virtual burn_outcome burn(const std::string &path, const std::vector<std::string> &argv, int capture_fd,
                              const burn_echo &echo) = 0;
};

// The real programs of the system.
class system_tools final : public tool_runner {
public:
    std::optional<std::vector<std::string>> read_lines(const std::string &command) override
    {
        return read_command_lines(command);
    }
    int shell(const std::string &command) override { return shell_exit_status(command); }
    query_lines query(const std::string &path, const std::vector<std::string> &argv,
                      const std::vector<std::string> &labels, int time_limit_s) override
    {
        return run_query_tool(path, argv, labels, time_limit_s);
    }
    burn_outcome burn(const std::string &path, const std::vector<std::string> &argv, int capture_fd,
                      const burn_echo &echo) override
    {
        return run_flash_tool(path, argv, capture_fd, echo);
    }
};
