#include "platform/AppendFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int AppendFileOpen(const char* path, int* fdOut, int64_t* size) {
    int fd;
    do {
        // Non-blocking so that a named pipe nobody reads fails here instead of
        // stopping the program; for a regular file it changes nothing.
        fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return errno;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    // A pipe or a socket would block or drop rows; a character device such as
    // /dev/null is the operator's explicit choice.
    if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode)) {
        ::close(fd);
        return EINVAL;
    }
    *fdOut = fd;
    *size = st.st_size;
    return 0;
}

int AppendFileWrite(int fd, const char* data, size_t len, int64_t* size) {
    ssize_t n;
    do {
        n = ::write(fd, data, len);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(len)) {
        *size += static_cast<int64_t>(len);
        return 0;
    }
    if (n < 0) {
        return errno;
    }
    // Only a full disk or a file size limit stops a regular file's write
    // halfway; the part that went in is taken out again.
    if (n > 0) {
        (void)::ftruncate(fd, *size);
    }
    return ENOSPC;
}

int AppendFileSync(int fd) {
    if (::fdatasync(fd) == 0) {
        return 0;
    }
    // A character device such as /dev/null has nothing to put on a disk.
    if (errno == EINVAL || errno == EROFS) {
        return 0;
    }
    return errno;
}

void AppendFileClose(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}
