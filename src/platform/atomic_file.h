// Replacing a whole file so that a reader sees the old content or the new, never a part.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

// Writes content to a temporary file in path's directory, syncs it, gives it mode (whatever the umask)
// and renames it over path, then syncs the directory. Nothing on success, else why it failed; on failure
// any earlier file at path is left as it was, and no temporary file is left either way. The temporary
// name starts with a dot and ends in six random characters, so that a collector reading "*.prom" never
// reads it.
std::optional<std::string> replace_file_atomically(const std::string &path, std::string_view content, mode_t mode);
