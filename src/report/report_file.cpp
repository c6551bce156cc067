#include "report/report_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/fd_write.h"

namespace {

// A file made by mkstemp: closed, and removed unless it was renamed into place.
class temp_file {
public:
    explicit temp_file(const std::string &name_template) : name_(name_template.begin(), name_template.end())
    {
        name_.push_back('\0');
        fd_ = mkstemp(name_.data());
        exists_ = fd_ >= 0;
    }
    ~temp_file()
    {
        if (fd_ >= 0)
            close(fd_);
        if (exists_)
            std::remove(name_.data());
    }
    temp_file(const temp_file &) = delete;
    temp_file &operator=(const temp_file &) = delete;

    bool created() const { return exists_; }
    int fd() const { return fd_; }
    const char *name() const { return name_.data(); }

    bool close_file()
    {
        const int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }
    // After a rename the name belongs to the report, not to us.
    void mark_renamed() { exists_ = false; }

private:
    std::vector<char> name_;
    int fd_ = -1;
    bool exists_ = false;
};

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

} // namespace

std::optional<std::string> save_document_atomically(xmlDocPtr doc, const std::string &path)
{
    xmlChar *raw = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(doc, &raw, &size, "UTF-8");
    const std::unique_ptr<xmlChar, xml_freer> text(raw);
    if (!text || size < 0)
        return std::string("the document could not be serialized");

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
    if (!temp.close_file())
        return error_text(errno);
    if (std::rename(temp.name(), path.c_str()) != 0)
        return error_text(errno);
    temp.mark_renamed();
    return std::nullopt;
}
