// Writing a whole buffer to a descriptor.
#include "platform/fd_write.h"

#include <cerrno>
#include <unistd.h>

bool write_all(int fd, const void *data, size_t len)
{
    const char *next = static_cast<const char *>(data);
    while (len > 0) {
        const ssize_t n = write(fd, next, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        next += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}
