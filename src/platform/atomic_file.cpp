// Whole-file replacement through a temporary file and a rename.
#include "platform/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fd_write.h"
#include "platform/temp_file.h"

std::optional<std::string> replace_file_atomically(const std::string &path, std::string_view content, mode_t mode)
{
    const auto failed = [&](const char *step) { return std::string(step) + " " + path + ": " + std::strerror(errno); };
    // Beside the target, so that the rename stays within one file system.
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    temp_file temp(dir + ".rovan-XXXXXX", O_CLOEXEC);
    if (!temp.created())
        return failed("cannot create a temporary file for");
    if (fchmod(temp.fd(), mode) != 0 || !write_all(temp.fd(), content.data(), content.size()) ||
        fsync(temp.fd()) != 0)
        return failed("cannot write");
    if (!temp.close_fd())
        return failed("cannot write");
    if (std::rename(temp.name().c_str(), path.c_str()) != 0)
        return failed("cannot replace");
    temp.keep(); // the name now belongs to path
    // The rename is on disk only once its directory is.
    const int dir_fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = dir_fd >= 0 && fsync(dir_fd) == 0;
    const std::optional<std::string> error = synced ? std::nullopt : std::optional(failed("cannot sync the directory of"));
    if (dir_fd >= 0)
        close(dir_fd);
    return error;
}
