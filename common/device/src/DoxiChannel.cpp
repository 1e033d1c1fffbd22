#include "device/DoxiChannel.h"

#include <aio.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace doxi {

struct DoxiChannel::AioSlot {
    std::unique_ptr<struct aiocb> control{new struct aiocb};
    std::vector<char> data;
};

DoxiChannel::DoxiChannel() = default;

DoxiChannel::~DoxiChannel() {
    close();
}

bool DoxiChannel::open(const char* node, int minValid) {
    fd = ::open(node, O_RDWR);
    if (fd < minValid) {
        if (fd >= 0)
            ::close(fd);
        fd = ::open(kGenericNode, O_RDWR);
    }
    if (fd < minValid) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        return false;
    }
    return true;
}

bool DoxiChannel::connectClient(const Guid& client, uint32_t& maxMessageLength) {
    unsigned char argument[16];
    std::memcpy(argument, client.bytes.data(), sizeof argument);
    if (fd == -1 || ::ioctl(fd, IOCTL_DOXI_CONNECT_CLIENT, argument) != 0) {
        close();
        return false;
    }
    maxMessageLength = static_cast<uint32_t>(argument[0]) | static_cast<uint32_t>(argument[1]) << 8 |
                       static_cast<uint32_t>(argument[2]) << 16 | static_cast<uint32_t>(argument[3]) << 24;
    return true;
}

long DoxiChannel::write(const void* data, size_t length) {
    if (fd == -1)
        return -1;
    ssize_t n;
    do {
        n = ::write(fd, data, length);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long DoxiChannel::read(void* buffer, size_t size) {
    if (fd == -1)
        return -1;
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

bool DoxiChannel::waitReadable(int timeoutMs) {
    if (fd == -1 || fd >= FD_SETSIZE)
        return false;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    struct timeval timeout;
    timeout.tv_sec = timeoutMs / 1000;
    timeout.tv_usec = (timeoutMs % 1000) * 1000;
    return ::select(fd + 1, &readable, nullptr, nullptr, &timeout) > 0;
}

long DoxiChannel::readAsync(void* buffer, size_t size, const std::atomic<bool>* stop) {
    if (fd == -1)
        return -1;
    if (!aio)
        aio.reset(new AioSlot);
    if (aio->data.size() < size)
        aio->data.resize(size);
    struct aiocb& request = *aio->control;
    std::memset(&request, 0, sizeof request);
    request.aio_fildes = fd;
    request.aio_buf = aio->data.data();
    request.aio_nbytes = size;
    if (::aio_read(&request) != 0) {
        std::perror("aio_read");
        return -1;
    }
    // Waits at most 1 ms between looks at the stop flag; aio_suspend returns
    // as soon as the read completes, so a busy trace is not slowed down.
    const struct timespec pause = {0, 1000000};
    const struct aiocb* pending[1] = {&request};
    while (::aio_error(&request) == EINPROGRESS) {
        if (stop != nullptr && stop->load()) {
            if (::aio_cancel(fd, &request) != AIO_CANCELED) {
                // Unblock a read still in progress, then give it a moment to end.
                ::shutdown(fd, SHUT_RDWR);
                const struct aiocb* list[1] = {&request};
                const struct timespec grace = {1, 0};
                ::aio_suspend(list, 1, &grace);
            }
            if (::aio_error(&request) == EINPROGRESS)
                aio.release();  // still in flight: the slot now belongs to it
            else
                ::aio_return(&request);
            close();
            return -2;
        }
        ::aio_suspend(pending, 1, &pause);
    }
    const ssize_t n = ::aio_return(&request);
    if (n > 0)
        std::memcpy(buffer, aio->data.data(), static_cast<size_t>(n));
    return static_cast<long>(n);
}

void DoxiChannel::close() {
    if (fd != -1) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace doxi
