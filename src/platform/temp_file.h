// Files made unique by mkstemp and removed when their owner goes, unless kept.
#pragma once

#include <string>

class temp_file {
public:
    // Creates a file from a template ending in "XXXXXX" (extra open flags such as O_CLOEXEC allowed).
    explicit temp_file(const std::string &name_template, int flags = 0);
    ~temp_file();
    temp_file(const temp_file &) = delete;
    temp_file &operator=(const temp_file &) = delete;

    bool created() const { return !name_.empty(); }
    int fd() const { return fd_; }
    const std::string &name() const { return name_; }

    // Closes the descriptor; the file stays until the owner goes. False when close failed.
    bool close_fd();
    // The file outlives its owner (renamed into place, or left for the operator).
    void keep() { keep_ = true; }

private:
    std::string name_;
    int fd_ = -1;
    bool keep_ = false;
};
