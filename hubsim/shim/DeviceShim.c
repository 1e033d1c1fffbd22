/* Device shim, loaded with LD_PRELOAD into a tool under test. Opening one of
 * the hub's device nodes connects a SOCK_SEQPACKET socket to hubsim (path from
 * HUBSIM_SOCKET) and returns that descriptor, so write, read, select, close
 * and aio work on it natively. The connect-client and status-register ioctls
 * on such a descriptor become control messages to hubsim. Everything else
 * passes through untouched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "hubsim/ShimProtocol.h"

#define MAX_TRACKED 4096
#define CONNECT_IOCTL 0xC0104801UL
#define STATUS_IOCTL 0x4804UL
#define STATUS_BUFFER_SIZE 1064

static unsigned char tracked[MAX_TRACKED];

static void* real(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

static int isHubNode(const char* path) {
    return path && (strcmp(path, "/dev/keb-smhi") == 0 || strcmp(path, "/dev/keb-trace") == 0 ||
                    strcmp(path, "/dev/keb-tracec") == 0 || strcmp(path, "/dev/keb") == 0);
}

/* Sends a control request and waits for its reply; returns the reply length or -1. */
static ssize_t control(int fd, int type, const void* payload, size_t length, unsigned char* reply, size_t size) {
    unsigned char request[HUBSIM_MAGIC_SIZE + 1 + 512];
    if (length > 512)
        return -1;
    memcpy(request, HUBSIM_MAGIC, HUBSIM_MAGIC_SIZE);
    request[HUBSIM_MAGIC_SIZE] = (unsigned char)type;
    if (length)
        memcpy(request + HUBSIM_MAGIC_SIZE + 1, payload, length);
    if (send(fd, request, HUBSIM_MAGIC_SIZE + 1 + length, MSG_NOSIGNAL) < 0)
        return -1;
    ssize_t n;
    do {
        n = recv(fd, reply, size, 0);
    } while (n < 0 && errno == EINTR);
    if (n < HUBSIM_REPLY_HEADER_SIZE || memcmp(reply, HUBSIM_MAGIC, HUBSIM_MAGIC_SIZE) != 0 ||
        reply[HUBSIM_MAGIC_SIZE] != type)
        return -1;
    return n;
}

static int32_t replyResult(const unsigned char* reply) {
    const unsigned char* r = reply + HUBSIM_MAGIC_SIZE + 1;
    return (int32_t)((uint32_t)r[0] | (uint32_t)r[1] << 8 | (uint32_t)r[2] << 16 | (uint32_t)r[3] << 24);
}

static int openHubNode(const char* path) {
    const char* socketPath = getenv(HUBSIM_SOCKET_ENV);
    struct sockaddr_un address;
    if (!socketPath || strlen(socketPath) >= sizeof address.sun_path) {
        errno = ENOENT;
        return -1;
    }
    int (*realClose)(int) = (int (*)(int))real("close");
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, socketPath);
    if (connect(fd, (struct sockaddr*)&address, sizeof address) != 0) {
        realClose(fd);
        errno = ENOENT;
        return -1;
    }
    unsigned char reply[64];
    if (control(fd, HUBSIM_CTRL_OPEN, path, strlen(path), reply, sizeof reply) < 0) {
        realClose(fd);
        errno = EIO;
        return -1;
    }
    int32_t result = replyResult(reply);
    if (result != 0) {
        realClose(fd);
        errno = result;
        return -1;
    }
    if (fd < MAX_TRACKED)
        tracked[fd] = 1;
    return fd;
}

/* The mode argument that follows the flags when a file may be created. */
#define TAKE_MODE(flags, mode)                      \
    mode_t mode = 0;                                \
    if ((flags) & (O_CREAT | O_TMPFILE)) {          \
        va_list ap;                                 \
        va_start(ap, flags);                        \
        mode = va_arg(ap, mode_t);                  \
        va_end(ap);                                 \
    }

#define OPEN_VARIANT(name)                                                                    \
    int name(const char* path, int flags, ...) {                                               \
        TAKE_MODE(flags, mode)                                                                 \
        if (isHubNode(path))                                                                   \
            return openHubNode(path);                                                          \
        int (*next)(const char*, int, ...) = (int (*)(const char*, int, ...))real(#name);      \
        return next(path, flags, mode);                                                        \
    }

#define OPENAT_VARIANT(name)                                                                  \
    int name(int dirfd, const char* path, int flags, ...) {                                    \
        TAKE_MODE(flags, mode)                                                                 \
        if (isHubNode(path))                                                                   \
            return openHubNode(path);                                                          \
        int (*next)(int, const char*, int, ...) = (int (*)(int, const char*, int, ...))real(#name); \
        return next(dirfd, path, flags, mode);                                                 \
    }

/* Fortified variants used by glibc when _FORTIFY_SOURCE is on. */
#define FORTIFIED_VARIANT(name)                                                \
    int name(const char* path, int flags) {                                     \
        if (isHubNode(path))                                                    \
            return openHubNode(path);                                           \
        int (*next)(const char*, int) = (int (*)(const char*, int))real(#name); \
        return next(path, flags);                                               \
    }

#define FORTIFIED_AT_VARIANT(name)                                                        \
    int name(int dirfd, const char* path, int flags) {                                     \
        if (isHubNode(path))                                                               \
            return openHubNode(path);                                                      \
        int (*next)(int, const char*, int) = (int (*)(int, const char*, int))real(#name);  \
        return next(dirfd, path, flags);                                                   \
    }

OPEN_VARIANT(open)
OPEN_VARIANT(open64)
OPENAT_VARIANT(openat)
OPENAT_VARIANT(openat64)
FORTIFIED_VARIANT(__open_2)
FORTIFIED_VARIANT(__open64_2)
FORTIFIED_AT_VARIANT(__openat_2)
FORTIFIED_AT_VARIANT(__openat64_2)

int close(int fd) {
    if (fd >= 0 && fd < MAX_TRACKED)
        tracked[fd] = 0;
    int (*next)(int) = (int (*)(int))real("close");
    return next(fd);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* argument = va_arg(ap, void*);
    va_end(ap);

    if (fd >= 0 && fd < MAX_TRACKED && tracked[fd]) {
        unsigned char reply[HUBSIM_REPLY_HEADER_SIZE + STATUS_BUFFER_SIZE];
        if (request == CONNECT_IOCTL) {
            ssize_t n = control(fd, HUBSIM_CTRL_CONNECT, argument, 16, reply, sizeof reply);
            if (n < 0) {
                errno = EIO;
                return -1;
            }
            if (replyResult(reply) != 0) {
                errno = ENODEV;
                return -1;
            }
            if (n >= HUBSIM_REPLY_HEADER_SIZE + 16)
                memcpy(argument, reply + HUBSIM_REPLY_HEADER_SIZE, 16);
            return 0;
        }
        if (request == STATUS_IOCTL) {
            ssize_t n = control(fd, HUBSIM_CTRL_STATUS_REGISTER, NULL, 0, reply, sizeof reply);
            if (n < 0) {
                errno = EIO;
                return -1;
            }
            size_t text = (size_t)n - HUBSIM_REPLY_HEADER_SIZE;
            if (text > STATUS_BUFFER_SIZE - 1)
                text = STATUS_BUFFER_SIZE - 1;
            memcpy(argument, reply + HUBSIM_REPLY_HEADER_SIZE, text);
            ((char*)argument)[text] = '\0';
            return replyResult(reply);
        }
        errno = ENOTTY;
        return -1;
    }
    int (*next)(int, unsigned long, ...) = (int (*)(int, unsigned long, ...))real("ioctl");
    return next(fd, request, argument);
}
