// Append-only files for records that must survive a crash: every write is one
// write() call on a descriptor opened for appending, so a reader never sees
// two writes interleaved, and a write cut short is taken back.
#pragma once

#include <cstddef>
#include <cstdint>

// Opens (creating it if needed, never truncating) a file for appending.
// Returns 0 with the descriptor in *fd and the file's present size in *size,
// or the errno.
int AppendFileOpen(const char* path, int* fd, int64_t* size);
// Appends all len bytes with one write call, or nothing: a short write (a disk
// that filled up in the middle) is cut off again, so the file never ends in
// part of a record. *size is the file's size before the call and is moved on
// by a whole write. Returns 0, or the errno (ENOSPC for a write cut short).
int AppendFileWrite(int fd, const char* data, size_t len, int64_t* size);
// Puts what was written on the disk; 0 or the errno.
int AppendFileSync(int fd);
void AppendFileClose(int fd);
