// The temporary-file helper.
#include "platform/temp_file.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unistd.h>

temp_file::temp_file(const std::string &name_template, int flags)
{
    std::vector<char> name(name_template.begin(), name_template.end());
    name.push_back('\0');
    fd_ = mkostemp(name.data(), flags);
    if (fd_ >= 0)
        name_ = name.data();
}

temp_file::~temp_file()
{
    close_fd();
    if (created() && !keep_)
        std::remove(name_.c_str());
}

bool temp_file::close_fd()
{
    if (fd_ < 0)
        return true;
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
}
