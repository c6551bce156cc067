// Writing a whole buffer to a descriptor, through short and interrupted writes.
#pragma once

#include <cstddef>

// Writes the whole buffer, retrying short and interrupted writes; false when
// the descriptor stopped taking output.
bool write_all(int fd, const void *data, size_t len);
