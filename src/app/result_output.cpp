// Reasons on standard error and the result document on a standard output kept aside for it.
#include "app/result_output.h"

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "core/console.h"
#include "platform/fd_write.h"
#include "platform/paths.h"

void say(const std::string &reason)
{
    std::fflush(stdout);
    std::fprintf(stderr, "rovan: %s\n", reason.c_str());
    std::fflush(stderr);
}

void say(const run_context &ctx, const std::string &reason)
{
    console_write(ctx, STDERR_FILENO, "rovan: " + reason + "\n");
}

result_output::result_output(bool json) : json_(json)
{
    if (!json_)
        return;
    std::fflush(stdout);
    // Close-on-exec: no tool inherits the document's descriptor.
    document_fd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        // Without a standard error the console text goes nowhere, never into the document.
        const int null_fd = open(null_device(), O_WRONLY | O_CLOEXEC);
        if (null_fd >= 0) {
            dup2(null_fd, STDOUT_FILENO);
            close(null_fd);
        }
    }
}

result_output::~result_output()
{
    if (document_fd_ >= 0)
        close(document_fd_);
}

void result_output::write(const run_result &result)
{
    if (!json_)
        return;
    std::fflush(stdout);
    const std::string document = run_result_json(result);
    if (document_fd_ >= 0)
        write_all(document_fd_, document.data(), document.size());
}
