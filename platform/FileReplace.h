// Writing a whole file so that a crash or a full disk never leaves it half
// written: the old contents or the new, nothing in between.
#pragma once

#include <cstddef>

// Writes the bytes to a temporary file beside the target, syncs it and renames
// it over the target. Returns 0, or the system's error number (errno) of the
// step that failed; the target is then unchanged.
int SysReplaceFile(const char* path, const void* data, std::size_t size);
