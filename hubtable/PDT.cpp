#include "PDT.h"

#include <algorithm>
#include <cstdio>

#include "device/Smhi.h"

PDT::PDT() : doxi(std::make_shared<DOXIAndroid>(doxi::INTERFACE_GUID, doxi::SMHI_GUID)) {}

PDT::PDT(std::shared_ptr<DOXI> transport) : doxi(std::move(transport)) {}

void PDT::setPdt(const std::vector<char>& image) {
    doxi::ClosingConnection<DoxiException> connection(*doxi);
    size_t received = 0;
    const std::vector<uint8_t> data(image.begin(), image.end());
    const std::vector<uint8_t> r = doxi->Transact(smhi::buildSetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_CONFIG, data),
                                            received);
    if (r[3] != 0)
        throw DoxiException("Set PDT command failed, status: " + std::to_string(r[3]));
}

std::vector<char> PDT::getPdt() {
    doxi::ClosingConnection<DoxiException> connection(*doxi);
    size_t received = 0;
    const std::vector<uint8_t> r =
        doxi->Transact(smhi::buildGetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_CONFIG), received);
    if (r[3] != 0)
        throw DoxiException("Set PDT command failed, status: " + std::to_string(r[3]));
    std::vector<uint8_t> image;
    if (!smhi::parsePdt(doxi::ByteView(r.data(), received), image))
        throw DoxiException("Unexpected result in command response.");
    return std::vector<char>(image.begin(), image.end());
}

void PDT::resetTsy() {
    doxi::ClosingConnection<DoxiException> connection(*doxi);
    size_t received = 0;
    if (doxi->Transact(smhi::buildReset(), received)[3] != 0)
        throw DoxiException("Reset TSY command failed.");
}

std::vector<testResult> PDT::selfTest(int level, int& overall) {
    if (level < 0 || level > 3)
        throw DoxiException("invalid test level.");
    const uint16_t mask = smhi::selfTestLevelMask(level);
    const _sc_sensor_luid all = smhi::allSensorsLuid();

    doxi::ClosingConnection<DoxiException> connection(*doxi);
    size_t received = 0;
    if (doxi->Transact(smhi::buildSelfTest(all, 0, mask), received)[3] != 0)
        throw DoxiException("Self test failed.");

    std::vector<testResult> results;
    for (int poll = 0; poll < kMaxSelfTestPolls; ++poll) {
        const std::vector<uint8_t> r = doxi->Transact(smhi::buildSelfTest(all, 1, mask), received);
        smhi::SelfTestResponse answer;
        if (!smhi::parseSelfTest(doxi::ByteView(r.data(), received), answer))
            throw DoxiException("Unexpected result in command response.");
        // Status 3 is the firmware's "still working": poll again.
        if (answer.status == smhi::kInProgress)
            continue;
        if (answer.status != 0)
            throw DoxiException("Unexpected result in command response.");
        if (answer.state != 0)
            continue;
        // The verdict is the firmware's overall result, made worse by any
        // record that failed or warned, so failing sensors never pass. An
        // overall result or a record's result of no known meaning is refused.
        testResultMsg(answer.overall);
        overall = answer.overall;
        for (const smhi::SelfTestRecord& record : answer.records) {
            const uint32_t head = static_cast<uint32_t>(record.luid.sensorType) |
                                  static_cast<uint32_t>(record.luid.vendorId) << 16;
            char text[16];
            std::snprintf(text, sizeof text, "%X", head);
            const int result = record.result;
            results.push_back({text, testStatusMsg(result)});
            const int outcome = result == 0 ? 0 : (result == 2 || result == 5) ? 1 : 2;
            overall = std::max(overall, outcome);
        }
        return results;
    }
    throw DoxiException("Corvex(R) Tessary device unavailable.");
}

std::string PDT::testLevelMsg(int level) {
    static const char* const texts[] = {"configuration", "connectivity", "calibration", "BIST"};
    if (level < 0 || level > 3)
        throw DoxiException("invalid level.");
    return texts[level];
}

std::string PDT::testStatusMsg(int status) {
    static const char* const texts[] = {"test pass",
                                        "test fail",
                                        "test unsupported",
                                        "sensor not active",
                                        "missing mandatory reporter",
                                        "missing optional reporter",
                                        "missing calibration",
                                        "connectivity failure",
                                        "whitenoise failure",
                                        "GPIO BIOS configuration failure",
                                        "GPIO connectivity failure",
                                        "I2C connectivity failure"};
    if (status < 0 || status > 11)
        throw DoxiException("invalid status.");
    return texts[status];
}

std::string PDT::testResultMsg(int result) {
    static const char* const texts[] = {"Result: test passed for all sensors", "Result: test warning for sensors:",
                                        "Result: test failed for sensors:"};
    if (result < 0 || result > 2)
        throw DoxiException("invalid test result.");
    return texts[result];
}
