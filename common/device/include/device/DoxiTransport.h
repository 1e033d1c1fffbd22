// Class form of the transport, used by the calibration tool and the PDT tool:
// Connect, Write(message), Read(4000), Close, with failures thrown as the
// tool's own exception type (whose text carries the "SMHI Error: " prefix).
#pragma once

#include <cstdint>
#include <vector>

#include "device/DoxiChannel.h"
#include "device/Guid.h"

namespace doxi {

template <class Error>
class DoxiBaseT {
public:
    DoxiBaseT(const Guid& interfaceId, const Guid& clientId) : interfaceGuid(interfaceId), clientGuid(clientId) {}
    virtual ~DoxiBaseT() = default;
    DoxiBaseT(const DoxiBaseT&) = delete;
    DoxiBaseT& operator=(const DoxiBaseT&) = delete;

    virtual void Connect() = 0;
    virtual void Write(const std::vector<uint8_t>& message) = 0;
    // Returns a vector of maxLength bytes whatever the number of bytes read;
    // callers read the response by its own header and fields.
    virtual std::vector<uint8_t> Read(size_t maxLength) = 0;
    virtual void Close() = 0;
    // True when a message can be read within the time (or the connection ended,
    // which the next Read reports).
    virtual bool WaitReadable(int /*milliseconds*/) { return true; }

    // Writes a request on the open connection and reads its answer (up to
    // 4000 bytes); received is what the answer really holds.
    std::vector<uint8_t> Transact(const std::vector<uint8_t>& request, size_t& received) {
        Write(request);
        std::vector<uint8_t> response = Read(kMaxAnswer);
        received = lastRead;
        return response;
    }

    static constexpr size_t kMaxAnswer = 4000;

    uint32_t getMaxMessageLength() const { return maxMessageLength; }
    // Bytes delivered by the last successful Read.
    size_t lastReadLength() const { return lastRead; }

protected:
    Guid interfaceGuid;
    Guid clientGuid;
    uint32_t maxMessageLength = 0;
    size_t lastRead = 0;
};

template <class Error>
class DOXIAndroidT : public DoxiBaseT<Error> {
public:
    DOXIAndroidT(const Guid& interfaceId, const Guid& clientId) : DoxiBaseT<Error>(interfaceId, clientId) {}
    ~DOXIAndroidT() override { Close(); }

    void Connect() override {
        if (channel.isOpen())
            return;
        if (!channel.open(kSmhiNode))
            throw Error("Cannot establish a handle to the DOXI driver");
        if (!channel.connectClient(this->clientGuid, this->maxMessageLength))
            throw Error("error in IOCTL_DOXI_CONNECT_CLIENT");
    }

    void Write(const std::vector<uint8_t>& message) override {
        if (!channel.isOpen())
            throw Error("Invalid file descriptor");
        const long written = channel.write(message.data(), message.size());
        if (written < 0) {
            channel.close();
            throw Error("Write to device failed");
        }
        if (static_cast<size_t>(written) != message.size()) {
            channel.close();
            throw Error("Write returned with an error");
        }
    }

    std::vector<uint8_t> Read(size_t maxLength) override {
        std::vector<uint8_t> response(maxLength, 0);
        if (!channel.isOpen())
            throw Error("Invalid file descriptor");
        // A firmware that never answers must not hang the tool: wait as long
        // as the C-style form does, then fail like any other read.
        if (readTimeoutMs >= 0 && !channel.waitReadable(readTimeoutMs)) {
            channel.close();
            throw Error("Read command failed");
        }
        const long n = channel.read(response.data(), response.size());
        // Anything shorter than a message header is no response at all (the
        // device went away); it must not pass as a zero, i.e. successful, status.
        if (n < 4) {
            channel.close();
            throw Error("Read command failed");
        }
        this->lastRead = static_cast<size_t>(n);
        return response;
    }

    void Close() override { channel.close(); }
    bool WaitReadable(int milliseconds) override { return !channel.isOpen() || channel.waitReadable(milliseconds); }

    bool isConnected() const { return channel.isOpen(); }
    // How long Read waits for an answer; negative waits for ever (a recorder
    // that waits for the next report).
    void setReadTimeout(int milliseconds) { readTimeoutMs = milliseconds; }

    static constexpr int kReadTimeoutMs = 2000;

private:
    DoxiChannel channel;
    int readTimeoutMs = kReadTimeoutMs;
};

// Connects for one operation and closes again however the operation ends.
template <class Error>
class ClosingConnection {
public:
    explicit ClosingConnection(DoxiBaseT<Error>& t) : transport(t) { transport.Connect(); }
    ~ClosingConnection() { transport.Close(); }
    ClosingConnection(const ClosingConnection&) = delete;
    ClosingConnection& operator=(const ClosingConnection&) = delete;

private:
    DoxiBaseT<Error>& transport;
};

}  // namespace doxi
