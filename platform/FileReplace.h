// Writing a whole file so that a crash or a full disk never leaves it half
// written: the old contents or the new, nothing in between.
#pragma once

#include <cstddef>

// Writes the bytes to a temporary file beside the target, syncs it and renames
// it over the target. Through a symbolic link the file it leads to is replaced
// and the link stays; an existing file keeps its permission bits, a new one
// gets the usual ones. Returns 0, or the system's error number (errno) of the
// step that failed; the target is then unchanged and no temporary file is left.
int SysReplaceFile(const char* path, const void* data, std::size_t size);

// Names for the temporary file that a caller chooses: pattern is a printf
// format with one int conversion, tried with 0, 1, ... up to count - 1 in the
// target's folder. A name that exists moves on to the next; so does one that
// access is refused for, at most accessRetries times in all. With every name
// taken the result is EEXIST.
struct SysTempNames {
    const char* pattern;
    int count;
    int accessRetries;
};

// SysReplaceFile with the temporary file named from names. *tempFailed (when
// given) says whether the failure came from making the temporary file, before
// anything was written.
int SysReplaceFileNamed(const char* path, const void* data, std::size_t size,
                        const SysTempNames& names, bool* tempFailed);
