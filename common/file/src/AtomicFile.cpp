#include "file/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace atomicfile {

std::string partName(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + ".part";
}

bool commit(const std::string& part, const std::string& path) {
    const int fd = ::open(part.c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = fd >= 0 && ::fsync(fd) == 0;
    int saved = errno;
    if (fd >= 0)
        ::close(fd);
    if (ok && std::rename(part.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(part.c_str());
        errno = saved;
    }
    return ok;
}

bool write(const std::string& path, const void* data, size_t size) {
    const std::string part = partName(path);
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int saved = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(part.c_str());
            errno = saved;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        const int saved = errno;
        ::unlink(part.c_str());
        errno = saved;
        return false;
    }
    return commit(part, path);
}

}  // namespace atomicfile
