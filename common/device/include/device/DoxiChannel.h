// The one implementation of the DOXI device protocol: open a node (or the
// generic node), bind a firmware client with the connect ioctl, then one
// message per write and one per read. The transport surfaces of the tools are
// thin adapters over this class.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "device/Guid.h"

namespace doxi {

class DoxiChannel {
public:
    DoxiChannel();
    ~DoxiChannel();
    DoxiChannel(const DoxiChannel&) = delete;
    DoxiChannel& operator=(const DoxiChannel&) = delete;

    // Opens node read-write, else the generic node. A descriptor below
    // minValid counts as a failed open. False when neither node opens.
    bool open(const char* node, int minValid = 0);
    // Binds the client; on failure the descriptor is closed.
    bool connectClient(const Guid& client, uint32_t& maxMessageLength);
    // One write / one read; negative on failure (the descriptor stays open:
    // callers decide).
    long write(const void* data, size_t length);
    long read(void* buffer, size_t size);
    // Waits until the descriptor is readable; false on time-out or error.
    bool waitReadable(int timeoutMs);
    // Reads asynchronously, polling until done or until *stop becomes true.
    // Returns the byte count, -1 on failure, or -2 when stopped.
    long readAsync(void* buffer, size_t size, const std::atomic<bool>* stop);
    void close();

    bool isOpen() const { return fd != -1; }
    int descriptor() const { return fd; }

private:
    struct AioSlot;
    int fd = -1;
    // Control block and buffer of the asynchronous read; a read abandoned while
    // still in flight keeps them, so they are never reused or freed under it.
    std::unique_ptr<AioSlot> aio;
};

}  // namespace doxi
