// Transport form of the trace tools: small classes whose failures throw a
// DoxiException carrying a numeric code.
#pragma once

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "device/DoxiChannel.h"
#include "device/Guid.h"

namespace doxi {
namespace trace {

enum : int {
    kDoxiGeneralError = 8192,
    kCannotOpenDriver = 8203,
    kReadFailed = 8204,
    kWriteFailed = 8205,
    kInvalidDescriptor = 8206,
    kConnectFailed = 8207,
    kReadTimeout = 8211,
};

// Text of a trace-tool status code ("Unknown Error" for codes without one).
const char* traceCodeText(int code);

class DoxiException : public std::runtime_error {
public:
    explicit DoxiException(int errorCode) : std::runtime_error(traceCodeText(errorCode)), code(errorCode) {}
    int getCode() const { return code; }

private:
    int code;
};

class TInterface {
public:
    // 1 after a successful connect, 0 when already connected.
    virtual int Connect() = 0;
    virtual void Disconnect() = 0;
    // Resizes buffer to size and returns the bytes read (0 when stopped).
    virtual int Read(std::vector<char>& buffer, size_t size, uint32_t timeoutMs) = 0;
    // Writes length bytes from the buffer start; returns length.
    virtual int Write(const std::vector<char>& buffer, size_t length, uint32_t timeoutMs) = 0;
    virtual void CancelOperation() = 0;
    virtual ~TInterface() = default;
    virtual uint32_t GetBufferSize() = 0;
};

class DOXI : public TInterface {
public:
    explicit DOXI(const Guid& client) : clientGuid(client) {}
    uint32_t GetBufferSize() override { return maxMessageLength; }

protected:
    Guid clientGuid;
    uint32_t maxMessageLength = 0;
};

class DoxiAndroid : public DOXI {
public:
    // node: the device node tried first. With a stop flag, reads are
    // asynchronous and end (returning 0) once the flag is set.
    DoxiAndroid(const Guid& client, const char* node, const std::atomic<bool>* stopFlag = nullptr)
        : DOXI(client), firstNode(node), stop(stopFlag) {}
    ~DoxiAndroid() override { Disconnect(); }

    int Connect() override;
    void Disconnect() override { channel.close(); }
    int Read(std::vector<char>& buffer, size_t size, uint32_t timeoutMs) override;
    int Write(const std::vector<char>& buffer, size_t length, uint32_t timeoutMs) override;
    void CancelOperation() override {}

private:
    DoxiChannel channel;
    std::string firstNode;
    const std::atomic<bool>* stop;
};

// One exchange on an open connection: write the request, read into the
// response buffer (sized by the caller). Returns the response's status byte.
int DoxiSendAndReceive(TInterface& transport, const std::vector<char>& request, std::vector<char>& response,
                       size_t requestLength);

// Exchange of a configuration request: connects first, disconnects after the
// read, and requires the response flag of the answer. received, when given,
// gets the number of bytes the answer holds.
int DoxiSendAndReceiveConfig(TInterface& transport, const std::vector<char>& request, std::vector<char>& response,
                             size_t requestLength, size_t* received = nullptr);

}  // namespace trace
}  // namespace doxi
