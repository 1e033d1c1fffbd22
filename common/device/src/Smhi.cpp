#include "device/Smhi.h"

#include <cmath>
#include <cstdio>
#include <limits>

void SMHIInitSmhiMsgHeader(uint8_t* header, uint8_t commandId) {
    header[0] = static_cast<uint8_t>(commandId & 0x7F);
    header[1] = 0;
    header[2] = 0;
    header[3] = 0;
}

namespace smhi {

using doxi::putU16;
using doxi::putU32;
using doxi::putU64;
using doxi::putU8;

std::string statusText(uint8_t status) {
    switch (status) {
    case kSuccess: return "Success";
    case kNotSupported: return "Command is currently not supported";
    case kCommandFailed: return "SMHI command failed";
    case kInProgress: return "Please wait, Working in progress";
    case kInvalidParameter: return "SMHI error: Invalid parameter";
    default: return "";
    }
}

void encodeLuid(const _sc_sensor_luid& luid, std::vector<uint8_t>& out) {
    putU16(out, luid.sensorType);
    putU16(out, luid.vendorId);
    putU16(out, luid.subType);
    putU8(out, luid.instance);
    putU8(out, luid.flags);
}

_sc_sensor_luid decodeLuid(const uint8_t* b) {
    _sc_sensor_luid luid;
    luid.sensorType = static_cast<uint16_t>(b[0] | b[1] << 8);
    luid.vendorId = static_cast<uint16_t>(b[2] | b[3] << 8);
    luid.subType = static_cast<uint16_t>(b[4] | b[5] << 8);
    luid.instance = b[6];
    luid.flags = b[7];
    return luid;
}

_sc_sensor_luid allSensorsLuid() {
    const uint8_t ff[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    return decodeLuid(ff);
}

std::string luidToUpperText(const _sc_sensor_luid& luid) {
    char text[24];
    std::snprintf(text, sizeof text, "%04X%04X%04X%02X%02X", luid.sensorType, luid.vendorId, luid.subType,
                  luid.instance, luid.flags);
    return text;
}

bool parseHeader(const ByteView& msg, Header& out) {
    if (!msg.has(0, SMHI_HEADER_SIZE))
        return false;
    out.command = static_cast<uint8_t>(*msg.at(0) & 0x7F);
    out.response = (*msg.at(0) & 0x80) != 0;
    out.status = *msg.at(3);
    return true;
}

std::vector<uint8_t> buildHeaderOnly(uint8_t commandId) {
    std::vector<uint8_t> msg(SMHI_HEADER_SIZE);
    SMHIInitSmhiMsgHeader(msg.data(), commandId);
    return msg;
}

bool parseVersion(const ByteView& msg, KEBVersion& out) {
    if (msg.length() != 12)
        return false;
    KEBVersion v;
    msg.u16(4, v.major);
    msg.u16(6, v.minor);
    msg.u16(8, v.hotfix);
    msg.u16(10, v.build);
    out = v;
    return true;
}

uint16_t selfTestLevelMask(int level) {
    uint16_t mask = 0;
    for (int i = 0; i <= level && i < 16; ++i)
        mask = static_cast<uint16_t>(mask | (1u << i));
    return mask;
}

std::vector<uint8_t> buildSelfTest(const _sc_sensor_luid& luid, uint8_t phase, uint16_t levelMask) {
    std::vector<uint8_t> msg = buildHeaderOnly(SMHI_CMD_SELF_TEST);
    encodeLuid(luid, msg);
    putU8(msg, phase);
    putU16(msg, levelMask);
    return msg;
}

bool parseSelfTest(const ByteView& msg, SelfTestResponse& out) {
    SelfTestResponse r;
    Header h;
    uint32_t count = 0;
    if (!parseHeader(msg, h) || !msg.u8(4, r.state) || !msg.u8(5, r.overall) || !msg.u32(6, count))
        return false;
    r.status = h.status;
    if (!msg.has(10, static_cast<size_t>(count) * 9))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = 10 + static_cast<size_t>(i) * 9;
        r.records.push_back({decodeLuid(msg.at(at)), *msg.at(at + 8)});
    }
    out = std::move(r);
    return true;
}

std::string selfTestResultText(uint8_t code) {
    static const char* const texts[] = {
        "test passed",
        "error: test failed",
        "warning: test unsupported",
        "error: sensor not active",
        "error: missing mandatory reporter",
        "warning: missing optional reporter",
        "error: missing calibration",
        "error: connectivity failure",
        "error: whitenoise failure",
        "error: GPIO BIOS configuration failure",
        "error: GPIO connectivity failure",
        "error: I2C connectivity failure",
    };
    return code < sizeof texts / sizeof texts[0] ? texts[code] : "unknown error";
}

std::vector<uint8_t> buildGetProperty(const _sc_sensor_luid& luid, uint32_t propertyId, bool shortForm) {
    std::vector<uint8_t> msg = buildHeaderOnly(SMHI_CMD_GET_PROPERTY);
    encodeLuid(luid, msg);
    putU8(msg, 0);
    if (shortForm)
        putU8(msg, static_cast<uint8_t>(propertyId));
    else
        putU32(msg, propertyId);
    return msg;
}

bool parsePropertyPayload(const ByteView& msg, ByteView& payload) {
    uint32_t length = 0;
    if (!msg.u32(4, length) || !msg.has(8, length))
        return false;
    payload = ByteView(msg.at(8), length);
    return true;
}

bool parseCalibrationRecord(const ByteView& msg, std::vector<uint8_t>& record) {
    uint16_t length = 0;
    if (!msg.u16(22, length) || !msg.has(24, length))
        return false;
    record.assign(msg.at(24), msg.at(24) + length);
    return true;
}

bool parseBusInfo(const ByteView& msg, BusInfo& out) {
    uint8_t entryId = 0;
    if (!msg.u8(20, entryId))
        return false;
    BusInfo info;
    if (entryId == 0) {
        if (!msg.u8(24, info.type) || !msg.u8(25, info.number) || !msg.u8(26, info.address))
            return false;
        info.present = true;
    }
    out = info;
    return true;
}

bool parseSensorList(const ByteView& msg, std::vector<_sc_sensor_luid>& out) {
    uint8_t groups = 0;
    if (!msg.u8(8, groups))
        return false;
    std::vector<_sc_sensor_luid> luids;
    size_t at = 10;
    for (unsigned g = 0; g < groups; ++g) {
        uint8_t count = 0;
        if (!msg.u8(at + 11, count))
            return false;
        at += 12;
        if (!msg.has(at, static_cast<size_t>(count) * kLuidSize))
            return false;
        for (unsigned k = 0; k < count; ++k, at += kLuidSize)
            luids.push_back(decodeLuid(msg.at(at)));
    }
    out = std::move(luids);
    return true;
}

bool parsePdt(const ByteView& msg, std::vector<uint8_t>& image) {
    ByteView payload(nullptr, 0);
    if (!parsePropertyPayload(msg, payload))
        return false;
    image.assign(payload.at(0), payload.at(0) + payload.length());
    return true;
}

bool parsePlatformInfo(const ByteView& msg, PlatformInfo& out) {
    PlatformInfo info;
    if (!msg.u8(9, info.formFactor) || !msg.u8(13, info.hinge))
        return false;
    out = info;
    return true;
}

std::vector<uint8_t> buildSetProperty(const _sc_sensor_luid& luid, uint32_t propertyId,
                                      const std::vector<uint8_t>& data) {
    std::vector<uint8_t> msg = buildHeaderOnly(SMHI_CMD_SET_PROPERTY);
    encodeLuid(luid, msg);
    putU32(msg, propertyId);
    putU32(msg, static_cast<uint32_t>(data.size()));
    msg.insert(msg.end(), data.begin(), data.end());
    return msg;
}

std::vector<uint8_t> buildPropertyBlock(const _sc_sensor_luid& luid, uint8_t entryId, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> block;
    encodeLuid(luid, block);
    putU16(block, static_cast<uint16_t>(4 + data.size()));
    putU8(block, 0);
    putU8(block, 1);
    putU8(block, entryId);
    putU8(block, 0);
    putU16(block, static_cast<uint16_t>(data.size()));
    block.insert(block.end(), data.begin(), data.end());
    return block;
}

std::vector<uint8_t> buildCalibrationBlock(const _sc_sensor_luid& luid, const std::vector<uint8_t>& record) {
    return buildPropertyBlock(luid, 2, record);
}

std::vector<uint8_t> buildSetCalibration(const _sc_sensor_luid& luid, const std::vector<uint8_t>& record) {
    return buildSetProperty(luid, SMHI_PROP_CALIBRATION, buildCalibrationBlock(luid, record));
}

std::vector<uint8_t> buildSetSensorProperty(const _sc_sensor_luid& luid, uint16_t propertyId,
                                            const std::vector<uint8_t>& data) {
    std::vector<uint8_t> msg = buildHeaderOnly(SMHI_CMD_SET_SENSOR_PROPERTY);
    encodeLuid(luid, msg);
    putU16(msg, propertyId);
    putU16(msg, static_cast<uint16_t>(data.size()));
    msg.insert(msg.end(), data.begin(), data.end());
    return msg;
}

std::vector<uint8_t> buildReportInterval(const _sc_sensor_luid& luid, int32_t interval) {
    std::vector<uint8_t> data;
    putU32(data, static_cast<uint32_t>(interval));
    return buildSetSensorProperty(luid, SMHI_SENSOR_PROP_REPORT_INTERVAL, data);
}

std::vector<uint8_t> buildChangeSensitivity(const _sc_sensor_luid& luid, double sensitivity) {
    // Truncate toward zero; values outside the 32-bit range (or NaN) saturate.
    int32_t value = 0;
    if (std::isnan(sensitivity))
        value = 0;
    else if (sensitivity >= 2147483647.0)
        value = std::numeric_limits<int32_t>::max();
    else if (sensitivity <= -2147483648.0)
        value = std::numeric_limits<int32_t>::min();
    else
        value = static_cast<int32_t>(sensitivity);
    std::vector<uint8_t> data;
    putU32(data, static_cast<uint32_t>(value));
    return buildSetSensorProperty(luid, SMHI_SENSOR_PROP_CHANGE_SENSITIVITY, data);
}

std::vector<uint8_t> buildReportingState(const _sc_sensor_luid& luid, uint8_t state) {
    return buildSetSensorProperty(luid, SMHI_SENSOR_PROP_REPORTING_STATE, std::vector<uint8_t>{state});
}

std::vector<uint8_t> buildRecord(uint8_t action, const std::vector<_sc_sensor_luid>& luids) {
    std::vector<uint8_t> msg = buildHeaderOnly(SMHI_CMD_RECORD);
    putU8(msg, 1);
    putU8(msg, action);
    putU8(msg, static_cast<uint8_t>(luids.size()));
    for (const _sc_sensor_luid& luid : luids)
        encodeLuid(luid, msg);
    return msg;
}

std::vector<uint8_t> buildStopRecord() {
    std::vector<uint8_t> msg = buildRecord(1, {});
    msg.resize(15, 0);
    return msg;
}

bool parseSensorData(const ByteView& msg, const std::function<void(const SampleRecord&)>& onRecord) {
    ByteView payload(nullptr, 0);
    if (!parsePropertyPayload(msg, payload))
        return false;
    size_t at = 0;
    while (at < payload.length()) {
        const uint8_t length = *payload.at(at);
        if (length < 17 || !payload.has(at, length))
            break;
        SampleRecord record;
        record.luid = decodeLuid(payload.at(at + 1));
        record.luidKey = luidHexKey(record.luid);
        payload.u64(at + 9, record.timestamp);
        for (size_t off = at + 17; off + 4 <= at + length; off += 4) {
            int32_t reading = 0;
            payload.i32(off, reading);
            record.readings.push_back(reading);
        }
        onRecord(record);
        at += length;
    }
    return true;
}

std::vector<uint8_t> buildSensorData(const std::vector<SampleRecord>& records) {
    std::vector<uint8_t> payload;
    for (const SampleRecord& r : records) {
        putU8(payload, static_cast<uint8_t>(17 + 4 * r.readings.size()));
        encodeLuid(r.luid, payload);
        putU64(payload, r.timestamp);
        for (int32_t v : r.readings)
            putU32(payload, static_cast<uint32_t>(v));
    }
    std::vector<uint8_t> msg = buildHeaderOnly(SMHI_CMD_SENSOR_DATA);
    msg[0] |= 0x80;
    putU32(msg, static_cast<uint32_t>(payload.size()));
    msg.insert(msg.end(), payload.begin(), payload.end());
    return msg;
}

std::vector<uint8_t> buildSetI2cInfo(uint8_t update, uint8_t bus) {
    std::vector<uint8_t> msg = buildHeaderOnly(SMHI_CMD_SET_I2C_INFO);
    putU8(msg, update);
    putU8(msg, bus);
    return msg;
}

bool parseI2cInfo(const ByteView& msg, I2cInfo& out) {
    I2cInfo info;
    if (!msg.u16(4, info.standardHigh) || !msg.u16(6, info.standardLow) || !msg.u16(8, info.fastHigh) ||
        !msg.u16(10, info.fastLow))
        return false;
    out = info;
    return true;
}

}  // namespace smhi
