#include "device/DoxiCStyle.h"

namespace doxi {
namespace cstyle {

uint32_t DOXI::GetBufferSize() {
    if (connected)
        return maxMessageLength;
    if (Init() != 1)
        return 0;
    const uint32_t length = maxMessageLength;
    Deinit();
    return length;
}

int DOXIAndroid::Init() {
    if (channel.isOpen())
        return 1;
    // Here a descriptor below 1 counts as a failed open.
    if (!channel.open(kSmhiNode, 1))
        return 0;
    if (!channel.connectClient(clientGuid, maxMessageLength))
        return 0;
    connected = 1;
    return 1;
}

void DOXIAndroid::Deinit() {
    channel.close();
    maxMessageLength = 0;
    connected = 0;
}

long DOXIAndroid::ReceiveMessage(void* buffer, uint32_t size, uint32_t /*timeoutMs*/) {
    if (buffer == nullptr || !channel.isOpen())
        return 0;
    const long n = channel.read(buffer, size);
    if (n < 0)
        channel.close();
    return n;
}

long DOXIAndroid::SendMessage(const void* data, uint32_t length, uint32_t timeoutMs) {
    if (data == nullptr || !channel.isOpen())
        return 0;
    const long written = channel.write(data, length);
    if (written < 0 || static_cast<uint32_t>(written) != length) {
        channel.close();
        return 0;
    }
    if (!channel.waitReadable(static_cast<int>(timeoutMs))) {
        channel.close();
        return 0;
    }
    return written;
}

DOXIAndroid& SMHIClient() {
    static DOXIAndroid client(SMHI_GUID);
    return client;
}

int DoxiInitAndCnct(int channel) {
    if (channel != 0)
        return kGeneralError;
    return SMHIClient().Init() == 1 ? 0 : kGeneralError;
}

void DoxiUninit(int channel) {
    if (channel == 0)
        SMHIClient().Deinit();
}

uint32_t GetBufSize(int channel, int /*unused*/) {
    return channel == 0 ? SMHIClient().GetBufferSize() : 0;
}

int DoxiSndMessage(const void* data, uint32_t length, int channel) {
    if (channel != 0)
        return kSendFailed;
    return SMHIClient().SendMessage(data, length, kSendTimeoutMs) == static_cast<long>(length) ? 0 : kSendFailed;
}

int DoxiRcvMessage(uint32_t size, uint32_t* received, void* buffer, int channel, uint32_t timeoutMs) {
    if (channel != 0 || received == nullptr)
        return kReceiveFailed;
    const long n = SMHIClient().ReceiveMessage(buffer, size, timeoutMs);
    *received = n > 0 ? static_cast<uint32_t>(n) : 0;
    return n >= 1 && n <= static_cast<long>(kMaxResponse) ? 0 : kReceiveFailed;
}

}  // namespace cstyle
}  // namespace doxi
