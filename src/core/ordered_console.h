// The console of adapters handled side by side, as one after another would show it: one block per adapter, in order.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/console.h"

// Each adapter's console text is one block; the blocks come out in the adapters' order, byte for byte
// what the adapters handled one after another would have written. The block at the head is written as
// it comes; a later one is kept until every block before it is complete, then written and followed.
// Any thread may write to any block.
class ordered_console {
public:
    // progress: show the progress lines (standard error is a terminal).
    ordered_console(size_t blocks, bool progress);
    // Writes what is still kept, in order.
    ~ordered_console();
    ordered_console(const ordered_console &) = delete;
    ordered_console &operator=(const ordered_console &) = delete;

    console_block &block(size_t i) { return *blocks_[i]; }
    // Block i is complete.
    void close(size_t i);

private:
    struct piece {
        int fd;
        std::string text;
    };
    class slot final : public console_block {
    public:
        slot(ordered_console &owner, size_t index) : owner_(owner), index_(index) {}
        void write(int fd, std::string_view text) override { owner_.write(index_, fd, text); }
        void progress(const std::string &line) override { owner_.progress(line); }

    private:
        friend class ordered_console;
        ordered_console &owner_;
        size_t index_;
        std::vector<piece> kept_;
        bool closed_ = false;
    };

    void write(size_t i, int fd, std::string_view text);
    void progress(const std::string &line);
    // Writes on the console now; under the lock.
    void emit(int fd, std::string_view text);
    void advance_head();

    std::mutex mutex_;
    std::vector<std::unique_ptr<slot>> blocks_;
    size_t head_ = 0;
    bool progress_ = false;
    bool line_started_ = false; // the console's last byte was no line end: a progress line starts a new one
};
