#include "smhi.h"

#include <cstring>
#include <memory>
#include <new>

#include "codes.h"
#include "display.h"
#include "device/DoxiCStyle.h"
#include "device/Smhi.h"

using namespace doxi::cstyle;

int SMHIGetCommand(const uint8_t* request, uint32_t requestLength, uint8_t* response, uint32_t size,
                   uint32_t* received, uint32_t timeoutMs) {
    DEBUG_TRACE();
    if (size > kMaxResponse)
        return HUB_BUFFER_TOO_SMALL;
    const int sent = DoxiSndMessage(request, requestLength, 0);
    if (sent != 0)
        return sent;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kMaxResponse]());
    if (!buffer) {
        DoxiUninit(0);
        return HUB_MEMORY_ALLOCATION;
    }
    uint32_t count = 0;
    DoxiRcvMessage(kMaxResponse, &count, buffer.get(), 0, timeoutMs);
    if (count == 0) {
        DoxiUninit(0);
        return HUB_UNEXPECTED_RESPONSE;
    }
    if (count > size) {
        DoxiUninit(0);
        return HUB_BUFFER_TOO_SMALL;
    }
    memcpy(response, buffer.get(), count);
    *received = count;
    return HUB_SUCCESS;
}

int SMHIRequest(const std::vector<uint8_t>& request, std::vector<uint8_t>& response) {
    int code = DoxiInitAndCnct(0);
    if (code != 0)
        return code;
    response.assign(kMaxResponse, 0);
    uint32_t received = 0;
    code = SMHIGetCommand(request.data(), static_cast<uint32_t>(request.size()), response.data(),
                          static_cast<uint32_t>(response.size()), &received, kSendTimeoutMs);
    DoxiUninit(0);
    if (code != 0)
        return code;
    response.resize(received);
    if (received < SMHI_HEADER_SIZE)
        return HUB_UNEXPECTED_RESPONSE;
    return response[3];
}

int SMHIProbe() {
    std::vector<uint8_t> response;
    const int code = SMHIRequest(smhi::buildGetVersion(), response);
    return code >= HUB_GENERAL_ERROR ? code : HUB_SUCCESS;
}

int SMHIGetVersion(uint16_t version[4]) {
    std::vector<uint8_t> response;
    const int code = SMHIRequest(smhi::buildGetVersion(), response);
    if (code >= HUB_GENERAL_ERROR)
        return code;
    smhi::KEBVersion v;
    if (code != 0 || !smhi::parseVersion(doxi::ByteView(response), v))
        return HUB_UNEXPECTED_RESPONSE;
    version[0] = v.major;
    version[1] = v.minor;
    version[2] = v.hotfix;
    version[3] = v.build;
    return HUB_SUCCESS;
}

int SMHIGetSensorList(std::vector<_sc_sensor_luid>& luids) {
    std::vector<uint8_t> response;
    const int code = SMHIRequest(smhi::buildGetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_LIST), response);
    if (code != 0)
        return code;
    if (!smhi::parseSensorList(doxi::ByteView(response), luids))
        return HUB_UNEXPECTED_RESPONSE;
    return HUB_SUCCESS;
}
