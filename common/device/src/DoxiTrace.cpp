#include "device/DoxiTrace.h"

namespace doxi {
namespace trace {

const char* traceCodeText(int code) {
    switch (code) {
    case 0: return "Success";
    case 1: return "Unsupported Command line Argument(s)";
    case 2: return "Trace has no buffer to flush";
    case 8192: return "DOXI general Error";
    case 8193: return "Cannot locate Corvex(R) Tessary device";
    case 8194: return "Cannot access Corvex(R) Tessary device";
    case 8195: return "Application or driver internal error";
    case 8196: return "Failed to connect to DOXI client";
    case 8197: return "Failed to read from device, timed out";
    case 8198: return "Failed to read file";
    case 8199: return "Invalid config file";
    case 8200: return "Error during decoding message by catalog";
    case 8201: return "Failed to handle trace message";
    case 8202: return "Unsupported Command line Argument(s)";
    case 8203: return "Cannot establish a handle to the DOXI driver";
    case 8204: return "failed to read device";
    case 8205: return "failed to write to device";
    case 8207: return "error in IOCTL_DOXI_CONNECT_CLIENT";
    case 8208: return "Process does not have required priviliges. Please run as Administrator";
    case 8209: return "fail to create read event";
    case 8210: return "fail to create write event";
    case 8211: return "DOXI read timeout";
    case 8212: return "DOXI write timeout";
    case 8213: return "DOXI read getoverlapped return error";
    case 8214: return "DOXI write getoverlapped return error";
    case 8215: return "Cancel device IO error";
    default: return "Unknown Error";
    }
}

int DoxiAndroid::Connect() {
    if (channel.isOpen())
        return 0;
    if (!channel.open(firstNode.c_str()))
        throw DoxiException(kCannotOpenDriver);
    if (!channel.connectClient(clientGuid, maxMessageLength))
        throw DoxiException(kConnectFailed);
    return 1;
}

int DoxiAndroid::Read(std::vector<char>& buffer, size_t size, uint32_t timeoutMs) {
    buffer.resize(size);
    if (!channel.isOpen())
        throw DoxiException(kInvalidDescriptor);
    // A read of one answer waits at most the caller's time: a firmware that
    // never answers must not hold the tool for ever.
    if (stop == nullptr && timeoutMs > 0 && !channel.waitReadable(static_cast<int>(timeoutMs))) {
        channel.close();
        throw DoxiException(kReadTimeout);
    }
    const long n = stop != nullptr ? channel.readAsync(buffer.data(), size, stop) : channel.read(buffer.data(), size);
    if (n == -2)
        return 0;  // stopped; the channel is closed
    // An asynchronous read waits for data until it is stopped: an end of
    // file instead means the device went away, and reading on would spin.
    if (n < 0 || (n == 0 && stop != nullptr)) {
        channel.close();
        throw DoxiException(kReadFailed);
    }
    return static_cast<int>(n);
}

int DoxiAndroid::Write(const std::vector<char>& buffer, size_t length, uint32_t /*timeoutMs*/) {
    if (!channel.isOpen())
        throw DoxiException(kInvalidDescriptor);
    if (length > buffer.size()) {
        channel.close();
        throw DoxiException(kWriteFailed);
    }
    const long written = channel.write(buffer.data(), length);
    if (written < 0 || static_cast<size_t>(written) != length) {
        channel.close();
        throw DoxiException(kWriteFailed);
    }
    return static_cast<int>(written);
}

namespace {

// Writes the request and reads one response; returns the number of bytes read
// after the length checks common to both exchanges.
size_t exchange(TInterface& transport, const std::vector<char>& request, std::vector<char>& response,
                size_t requestLength, bool disconnectAfterRead) {
    if (transport.Write(request, requestLength, 2000) != static_cast<int>(requestLength))
        throw DoxiException(kDoxiGeneralError);
    const size_t size = response.size();
    const int n = transport.Read(response, size, 2000);
    if (disconnectAfterRead)
        transport.Disconnect();
    if (n <= 0 || static_cast<size_t>(n) > size || n < 4)
        throw DoxiException(kDoxiGeneralError);
    return static_cast<size_t>(n);
}

}  // namespace

int DoxiSendAndReceive(TInterface& transport, const std::vector<char>& request, std::vector<char>& response,
                       size_t requestLength) {
    exchange(transport, request, response, requestLength, false);
    return static_cast<unsigned char>(response[3]);
}

int DoxiSendAndReceiveConfig(TInterface& transport, const std::vector<char>& request, std::vector<char>& response,
                             size_t requestLength, size_t* received) {
    if (transport.Connect() != 1)
        throw DoxiException(kDoxiGeneralError);
    try {
        const size_t n = exchange(transport, request, response, requestLength, true);
        if (received != nullptr)
            *received = n;
    } catch (...) {
        transport.Disconnect();
        throw;
    }
    if ((static_cast<unsigned char>(response[0]) & 0x80) == 0)
        throw DoxiException(kDoxiGeneralError);
    return static_cast<unsigned char>(response[3]);
}

}  // namespace trace
}  // namespace doxi
