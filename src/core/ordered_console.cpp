// The blocks of console text of adapters handled side by side, written in the adapters' order.
#include "core/ordered_console.h"

#include <cstdio>

#include <unistd.h>

#include "platform/fd_write.h"

ordered_console::ordered_console(size_t blocks, bool progress) : progress_(progress)
{
    for (size_t i = 0; i < blocks; ++i)
        blocks_.push_back(std::make_unique<slot>(*this, i));
}

ordered_console::~ordered_console()
{
    for (size_t i = 0; i < blocks_.size(); ++i)
        close(i);
}

void ordered_console::close(size_t i)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    blocks_[i]->closed_ = true;
    advance_head();
}

void ordered_console::write(size_t i, int fd, std::string_view text)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (i == head_)
        emit(fd, text);
    else
        blocks_[i]->kept_.push_back({fd, std::string(text)});
}

void ordered_console::progress(const std::string &line)
{
    if (!progress_)
        return;
    const std::lock_guard<std::mutex> lock(mutex_);
    emit(STDERR_FILENO, (line_started_ ? "\n" : "") + line + "\n");
}

void ordered_console::emit(int fd, std::string_view text)
{
    if (text.empty())
        return;
    std::fflush(stdout);
    write_all(fd, text.data(), text.size());
    line_started_ = text.back() != '\n';
}

// Past every complete block at the head; each block that becomes the head writes what it kept.
void ordered_console::advance_head()
{
    while (head_ < blocks_.size() && blocks_[head_]->closed_) {
        if (++head_ == blocks_.size())
            return;
        for (const piece &p : blocks_[head_]->kept_)
            emit(p.fd, p.text);
        blocks_[head_]->kept_.clear();
    }
}
