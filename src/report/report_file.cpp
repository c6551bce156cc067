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
// those of a newly created file. The path's links are followed already: a link
// planted since is replaced, not read.
mode_t report_mode(const std::string &path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Whether the kernel's rule for links in shared directories (fs.protected_symlinks) lets this
// process follow the link at path: in a world-writable sticky directory only a link of this user's
// or of the directory's owner is followed, so that no other user's link sends the report elsewhere.
bool may_follow(const std::string &path, const struct stat &link)
{
    const std::string dir = std::filesystem::path(path).parent_path().string();
    struct stat st {};
    if (stat(dir.empty() ? "." : dir.c_str(), &st) != 0)
        return false;
    const bool shared = (st.st_mode & S_ISVTX) && (st.st_mode & S_IWOTH);
    return !shared || link.st_uid == geteuid() || link.st_uid == st.st_uid;
}

// Turns a report path into the file it names: links are followed (a relative target from its
// link's directory), so that a link stays a link. Answers why the path cannot be followed, if so.
std::optional<std::string> follow_links(std::string &path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return std::nullopt;
        if (!may_follow(path, st))
            return "the link " + path + " lies in a world-writable sticky directory and belongs neither to the user "
                   "running rovan nor to the directory's owner";
        std::error_code ec;
        const std::filesystem::path target = std::filesystem::read_symlink(path, ec);
        if (ec)
            return ec.message();
        path = (target.is_absolute() ? target : std::filesystem::path(path).parent_path() / target).string();
    }
    // A chain of links too long to be anything but a loop.
    return error_text(ELOOP);
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
    std::string path = link_path;
    if (std::optional<std::string> refused = follow_links(path))
        return refused;

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
