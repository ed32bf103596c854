#include "platform/FileReplace.h"

#include <cerrno>
#include <climits>
#include <cstdio>
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

// A name of the system's choosing in the folder; 0 or the errno.
int MakeUniqueTemp(const std::string& folder, std::string* temp, int* fd) {
    *temp = folder + ".vx52save.XXXXXX";
    *fd = ::mkstemp(temp->data());
    return *fd < 0 ? errno : 0;
}

// The first free name of the caller's series in the folder; 0 or the errno.
int MakeNamedTemp(const std::string& folder, const SysTempNames& names, std::string* temp,
                  int* fd) {
    int accessFailures = 0;
    char name[64];
    for (int counter = 0; counter < names.count; ++counter) {
        std::snprintf(name, sizeof name, names.pattern, counter);
        std::string candidate = folder + name;
        const int f = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (f >= 0) {
            *temp = candidate;
            *fd = f;
            return 0;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (errno == EACCES || errno == EPERM) {
            if (++accessFailures >= names.accessRetries) {
                return errno;
            }
            continue;
        }
        return errno;
    }
    return EEXIST;
}

int Replace(const char* path, const void* data, std::size_t size, const SysTempNames* names,
            bool* tempFailed) {
    if (tempFailed) {
        *tempFailed = false;
    }
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
    const std::string folder = dir + (slash == std::string::npos ? "/" : "");
    std::string temp;
    int fd = -1;
    int err =
        names ? MakeNamedTemp(folder, *names, &temp, &fd) : MakeUniqueTemp(folder, &temp, &fd);
    if (err != 0) {
        if (tempFailed) {
            *tempFailed = true;
        }
        return err;
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
    err = ::fchmod(fd, mode) == 0 ? 0 : errno;
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

} // namespace

int SysReplaceFile(const char* path, const void* data, std::size_t size) {
    return Replace(path, data, size, nullptr, nullptr);
}

int SysReplaceFileNamed(const char* path, const void* data, std::size_t size,
                        const SysTempNames& names, bool* tempFailed) {
    return Replace(path, data, size, &names, tempFailed);
}
