// Saving the report so that a reader never sees half a file.
#include "report/report_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fd_write.h"
#include "platform/temp_file.h"

namespace {

struct xml_freer {
    void operator()(xmlChar *p) const { xmlFree(p); }
};

std::string error_text(int err)
{
    return std::strerror(err);
}

// The permissions the report should have: those of the file it replaces, or
// those of a newly created file.
mode_t report_mode(const std::string &path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// The file that a report path names: links are followed (a relative target
// from its link's directory), so that a link stays a link. Nothing for a
// chain of links too long to be anything but a loop.
std::optional<std::string> link_target(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        const std::filesystem::path target = std::filesystem::read_symlink(path, ec);
        if (ec)
            return path;
        path = (target.is_absolute() ? target : std::filesystem::path(path).parent_path() / target).string();
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> save_document_atomically(xmlDocPtr doc, const std::string &link_path)
{
    xmlChar *raw = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(doc, &raw, &size, "UTF-8");
    const std::unique_ptr<xmlChar, xml_freer> text(raw);
    if (!text || size < 0)
        return std::string("the document could not be serialized");
    const std::optional<std::string> target = link_target(link_path);
    if (!target)
        return error_text(ELOOP);
    const std::string &path = *target;

    // Beside the target, so that the rename stays within one file system; a
    // short name of its own, so that any name the target may have still fits.
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    temp_file temp(dir + ".rovan-report-XXXXXX");
    if (!temp.created())
        return error_text(errno);

    if (fchmod(temp.fd(), report_mode(path)) != 0 ||
        !write_all(temp.fd(), text.get(), static_cast<size_t>(size)) || fsync(temp.fd()) != 0)
        return error_text(errno);
    if (!temp.close_fd())
        return error_text(errno);
    if (std::rename(temp.name().c_str(), path.c_str()) != 0)
        return error_text(errno);
    // After the rename the name belongs to the report.
    temp.keep();
    // The rename is on disk only once its directory is.
    const int dir_fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = dir_fd >= 0 && fsync(dir_fd) == 0;
    const int err = errno;
    if (dir_fd >= 0)
        close(dir_fd);
    return synced ? std::nullopt : std::optional(error_text(err));
}
