#include "SmhiFirmware.h"

#include "device/Smhi.h"

namespace hubsim {

using doxi::ByteView;
using doxi::putU16;
using doxi::putU32;
using doxi::putU8;

std::vector<uint8_t> responseHeader(uint8_t command, uint8_t status) {
    return {static_cast<uint8_t>((command & 0x7F) | 0x80), 0, 0, status};
}

namespace {

std::vector<uint8_t> withPayload(uint8_t command, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> msg = responseHeader(command, smhi::kSuccess);
    putU32(msg, static_cast<uint32_t>(payload.size()));
    msg.insert(msg.end(), payload.begin(), payload.end());
    return msg;
}

bool isResultError(uint8_t code) {
    return code != 0 && code != 2 && code != 5;
}

}  // namespace

SimSensor* SmhiFirmware::findSensor(const _sc_sensor_luid& luid) {
    for (SimSensor& sensor : s.sensors)
        if (sensor.luid == luid)
            return &sensor;
    return nullptr;
}

Reply SmhiFirmware::handle(const std::vector<uint8_t>& request) {
    Reply reply;
    if (request.size() < SMHI_HEADER_SIZE) {
        reply.bytes = responseHeader(request.empty() ? 0 : request[0], smhi::kInvalidParameter);
        return reply;
    }
    int property = -1;
    reply.bytes = answer(request, property);
    applyFaults(static_cast<uint8_t>(request[0] & 0x7F), property, reply);
    return reply;
}

std::vector<uint8_t> SmhiFirmware::answer(const std::vector<uint8_t>& request, int& property) {
    const uint8_t command = static_cast<uint8_t>(request[0] & 0x7F);
    const ByteView msg(request);
    switch (command) {
    case SMHI_CMD_GET_VERSION: {
        std::vector<uint8_t> r = responseHeader(command, smhi::kSuccess);
        for (uint16_t part : s.version)
            putU16(r, part);
        return r;
    }
    case SMHI_CMD_RESET:
        selfTestStarted = false;
        return responseHeader(command, smhi::kSuccess);
    case SMHI_CMD_SELF_TEST:
        return selfTest(request);
    case SMHI_CMD_GET_PROPERTY: {
        uint32_t id = 0;
        if (request.size() >= 17)
            msg.u32(13, id);
        else if (request.size() == 14)
            id = request[13];
        else
            return responseHeader(command, smhi::kInvalidParameter);
        property = static_cast<int>(id);
        return getProperty(request, id);
    }
    case SMHI_CMD_SET_PROPERTY: {
        uint32_t id = 0;
        if (msg.u32(12, id))
            property = static_cast<int>(id);
        return setProperty(request);
    }
    case SMHI_CMD_SET_SENSOR_PROPERTY: {
        uint16_t length = 0;
        if (!msg.u16(14, length) || !msg.has(16, length))
            return responseHeader(command, smhi::kInvalidParameter);
        return responseHeader(command, smhi::kSuccess);
    }
    case SMHI_CMD_RECORD:
        if (request.size() < 7)
            return responseHeader(command, smhi::kInvalidParameter);
        return responseHeader(command, smhi::kSuccess);
    case SMHI_CMD_SET_I2C_INFO: {
        if (request.size() != 6 || request[5] > 2)
            return responseHeader(command, smhi::kInvalidParameter);
        const I2cCounts counts = s.i2c.count(request[5]) ? s.i2c[request[5]] : I2cCounts();
        std::vector<uint8_t> r = responseHeader(command, smhi::kSuccess);
        putU16(r, counts.standardHigh);
        putU16(r, counts.standardLow);
        putU16(r, counts.fastHigh);
        putU16(r, counts.fastLow);
        return r;
    }
    default:
        return responseHeader(command, smhi::kNotSupported);
    }
}

std::vector<uint8_t> SmhiFirmware::getProperty(const std::vector<uint8_t>& request, uint32_t property) {
    const _sc_sensor_luid luid = smhi::decodeLuid(&request[4]);
    switch (property) {
    case SMHI_PROP_CALIBRATION: {
        SimSensor* sensor = findSensor(luid);
        if (!sensor)
            return responseHeader(SMHI_CMD_GET_PROPERTY, smhi::kInvalidParameter);
        if (!sensor->hasCalibration)
            return responseHeader(SMHI_CMD_GET_PROPERTY, smhi::kCommandFailed);
        return withPayload(SMHI_CMD_GET_PROPERTY, smhi::buildPropertyBlock(luid, 2, sensor->calibration));
    }
    case SMHI_PROP_BUS_INFO: {
        SimSensor* sensor = findSensor(luid);
        if (!sensor)
            return responseHeader(SMHI_CMD_GET_PROPERTY, smhi::kInvalidParameter);
        if (!sensor->hasBus)
            return withPayload(SMHI_CMD_GET_PROPERTY, smhi::buildPropertyBlock(luid, 1, {}));
        return withPayload(SMHI_CMD_GET_PROPERTY,
                           smhi::buildPropertyBlock(luid, 0, {sensor->busType, sensor->busNumber, sensor->busAddress}));
    }
    case SMHI_PROP_SENSOR_LIST: {
        std::vector<uint8_t> payload;
        putU8(payload, static_cast<uint8_t>(s.groups.size()));
        putU8(payload, 0);
        for (const SimGroup& group : s.groups) {
            payload.insert(payload.end(), group.header.begin(), group.header.begin() + 11);
            putU8(payload, static_cast<uint8_t>(group.sensors.size()));
            for (size_t index : group.sensors)
                smhi::encodeLuid(s.sensors[index].luid, payload);
        }
        return withPayload(SMHI_CMD_GET_PROPERTY, payload);
    }
    case SMHI_PROP_SENSOR_CONFIG:
        return withPayload(SMHI_CMD_GET_PROPERTY, s.pdt);
    case SMHI_PROP_PLATFORM_INFO:
        return withPayload(SMHI_CMD_GET_PROPERTY, s.platformInfo);
    default:
        return responseHeader(SMHI_CMD_GET_PROPERTY, smhi::kInvalidParameter);
    }
}

std::vector<uint8_t> SmhiFirmware::setProperty(const std::vector<uint8_t>& request) {
    const ByteView msg(request);
    uint32_t property = 0, length = 0;
    if (!msg.u32(12, property) || !msg.u32(16, length) || !msg.has(20, length))
        return responseHeader(SMHI_CMD_SET_PROPERTY, smhi::kInvalidParameter);
    const std::vector<uint8_t> data(request.begin() + 20, request.begin() + 20 + length);
    if (property == SMHI_PROP_SENSOR_CONFIG) {
        s.pdt = data;
        return responseHeader(SMHI_CMD_SET_PROPERTY, smhi::kSuccess);
    }
    if (property != SMHI_PROP_CALIBRATION)
        return responseHeader(SMHI_CMD_SET_PROPERTY, smhi::kNotSupported);

    // A property block with one entry holding the record.
    SimSensor* sensor = findSensor(smhi::decodeLuid(&request[4]));
    const ByteView block(data);
    uint8_t entries = 0;
    uint16_t recordLength = 0;
    if (!sensor || !block.u8(11, entries) || entries < 1 || !block.u16(14, recordLength) ||
        !block.has(16, recordLength))
        return responseHeader(SMHI_CMD_SET_PROPERTY, smhi::kInvalidCalibrationParameter);
    sensor->hasCalibration = true;
    sensor->calibration.assign(data.begin() + 16, data.begin() + 16 + recordLength);
    return responseHeader(SMHI_CMD_SET_PROPERTY, smhi::kSuccess);
}

std::vector<uint8_t> SmhiFirmware::selfTest(const std::vector<uint8_t>& request) {
    auto running = [](uint8_t status) {
        std::vector<uint8_t> r = responseHeader(SMHI_CMD_SELF_TEST, status);
        putU8(r, 1);
        putU8(r, 0);
        putU32(r, 0);
        return r;
    };
    if (request.size() != 15 || request[12] > 1)
        return responseHeader(SMHI_CMD_SELF_TEST, smhi::kInvalidParameter);
    if (request[12] == 0) {
        selfTestStarted = true;
        selfTestPollsLeft = s.selfTestRunningPolls;
        selfTestLuid = smhi::decodeLuid(&request[4]);
        return running(smhi::kSuccess);
    }
    if (!selfTestStarted)
        return responseHeader(SMHI_CMD_SELF_TEST, smhi::kCommandFailed);
    if (selfTestPollsLeft > 0) {
        --selfTestPollsLeft;
        return running(s.selfTestRunningStatus);
    }
    const bool all = selfTestLuid == smhi::allSensorsLuid();
    std::vector<SelfTestResult> results;
    int worst = 0;
    for (const SelfTestResult& r : s.selfTestResults) {
        if (!all && !(r.luid == selfTestLuid))
            continue;
        results.push_back(r);
        worst = std::max(worst, r.code == 0 ? 0 : isResultError(r.code) ? 2 : 1);
    }
    std::vector<uint8_t> r = responseHeader(SMHI_CMD_SELF_TEST, smhi::kSuccess);
    putU8(r, 0);
    putU8(r, static_cast<uint8_t>(s.selfTestOverall >= 0 ? s.selfTestOverall : worst));
    putU32(r, static_cast<uint32_t>(results.size()));
    for (const SelfTestResult& result : results) {
        smhi::encodeLuid(result.luid, r);
        putU8(r, result.code);
    }
    return r;
}

void SmhiFirmware::applyFaults(uint8_t command, int property, Reply& reply) {
    for (Fault& f : s.faults) {
        if (f.times == 0 || (f.command >= 0 && f.command != command) || (f.property >= 0 && f.property != property))
            continue;
        if (f.skip > 0) {
            --f.skip;
            continue;
        }
        if (f.times > 0)
            --f.times;
        if (f.status >= 0 && reply.bytes.size() >= 4)
            reply.bytes[3] = static_cast<uint8_t>(f.status);
        if (f.response == "none")
            reply.send = false;
        else if (f.response == "close")
            reply.closeConnection = true;
        else if (f.response == "short")
            reply.bytes.resize(f.length >= 0 ? static_cast<size_t>(f.length) : reply.bytes.size() / 2);
        else if (f.response == "long")
            reply.bytes.resize(f.length >= 0 ? static_cast<size_t>(f.length) : reply.bytes.size() + 8, 0);
        reply.delayMs = std::max(reply.delayMs, f.delayMs);
    }
}

}  // namespace hubsim
