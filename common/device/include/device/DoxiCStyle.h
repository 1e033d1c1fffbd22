// C-style form of the transport used by the hub utility: return codes instead of
// exceptions, a single global SMHI client object and wrapper functions taking a
// channel number (only channel 0, the device, exists).
#pragma once

#include <cstdint>

#include "device/DoxiChannel.h"
#include "device/Guid.h"

namespace doxi {
namespace cstyle {

// Result codes of the wrappers.
constexpr int kGeneralError = 8192;   // 0x2000
constexpr int kSendFailed = 8199;     // 0x2007
constexpr int kReceiveFailed = 8203;  // 0x200B
constexpr uint32_t kMaxResponse = 4000;
constexpr uint32_t kSendTimeoutMs = 2000;

class DOXI {
public:
    explicit DOXI(const Guid& client) : clientGuid(client) {}
    virtual ~DOXI() = default;
    DOXI(const DOXI&) = delete;
    DOXI& operator=(const DOXI&) = delete;

    // 1 when connected (or already open), 0 on failure.
    virtual int Init() = 0;
    virtual void Deinit() = 0;
    // Result of one read (negative on failure); the time-out is not used.
    virtual long ReceiveMessage(void* buffer, uint32_t size, uint32_t timeoutMs) = 0;
    // Bytes written once the answer is readable within the time-out; 0 otherwise.
    virtual long SendMessage(const void* data, uint32_t length, uint32_t timeoutMs) = 0;

    // The client's maximum message length, connecting briefly when needed.
    uint32_t GetBufferSize();

protected:
    Guid clientGuid;
    uint32_t maxMessageLength = 0;
    uint8_t connected = 0;
};

class DOXIAndroid : public DOXI {
public:
    explicit DOXIAndroid(const Guid& client) : DOXI(client) {}
    ~DOXIAndroid() override { Deinit(); }

    int Init() override;
    void Deinit() override;
    long ReceiveMessage(void* buffer, uint32_t size, uint32_t timeoutMs) override;
    long SendMessage(const void* data, uint32_t length, uint32_t timeoutMs) override;

private:
    DoxiChannel channel;
};

// The process-wide SMHI client.
DOXIAndroid& SMHIClient();

int DoxiInitAndCnct(int channel);
void DoxiUninit(int channel);
uint32_t GetBufSize(int channel, int unused);
int DoxiSndMessage(const void* data, uint32_t length, int channel);
int DoxiRcvMessage(uint32_t size, uint32_t* received, void* buffer, int channel, uint32_t timeoutMs);

}  // namespace cstyle
}  // namespace doxi
