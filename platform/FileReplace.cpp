#include "platform/FileReplace.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

} // namespace

int SysReplaceFile(const char* path, const void* data, std::size_t size) {
    if (!path || !*path) {
        return ENOENT;
    }
    // Through a link the file it names is replaced, not the link.
    std::string target = path;
    char resolved[PATH_MAX];
    if (::realpath(path, resolved)) {
        target = resolved;
    }
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) {
        return EISDIR;
    }
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    std::string temp = dir + (slash == std::string::npos ? "/" : "") + ".vx52save.XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return errno;
    }
    // A new file gets the usual permissions, not mkstemp's private ones.
    mode_t mode = 0;
    if (exists) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    int err = ::fchmod(fd, mode) == 0 ? 0 : errno;
    if (err == 0) {
        err = WriteAll(fd, static_cast<const char*>(data), size);
    }
    if (err == 0 && ::fsync(fd) != 0) {
        err = errno;
    }
    if (::close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(temp.c_str());
        return err;
    }
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return 0;
}
