// SMHI request builders and response parsers. Every function is pure: requests
// are built as byte vectors, responses are read from the bytes received, with
// every field checked against the received length before it is read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/Bytes.h"
#include "device/SensorLuid.h"

enum SMHI_COMMAND_ID : uint8_t {
    SMHI_CMD_GET_VERSION = 1,
    SMHI_CMD_RESET = 2,
    SMHI_CMD_SELF_TEST = 3,
    SMHI_CMD_GET_PROPERTY = 4,
    SMHI_CMD_SET_PROPERTY = 5,
    SMHI_CMD_SET_SENSOR_PROPERTY = 10,
    SMHI_CMD_RECORD = 12,
    SMHI_CMD_SENSOR_DATA = 15,
    SMHI_CMD_SET_I2C_INFO = 16,
};

enum SMHI_PROPERTY_ID : uint32_t {
    SMHI_PROP_CALIBRATION = 0,
    SMHI_PROP_BUS_INFO = 1,
    SMHI_PROP_SENSOR_LIST = 2,
    SMHI_PROP_SENSOR_CONFIG = 3,
    SMHI_PROP_PLATFORM_INFO = 4,
};

// Sampling properties of SMHI_CMD_SET_SENSOR_PROPERTY.
enum SMHI_SET_SENSOR_PROP : uint16_t {
    SMHI_SENSOR_PROP_REPORT_INTERVAL = 782,
    SMHI_SENSOR_PROP_CHANGE_SENSITIVITY = 783,
    SMHI_SENSOR_PROP_REPORTING_STATE = 790,
};

constexpr size_t SMHI_HEADER_SIZE = 4;
constexpr size_t SMHI_MAX_RESPONSE = 4000;

// Clears bytes 1 to 3 and bit 7 of byte 0, and stores the command id in bits 0 to 6.
void SMHIInitSmhiMsgHeader(uint8_t* header, uint8_t commandId);

namespace smhi {

using doxi::ByteView;

enum Status : uint8_t {
    kSuccess = 0,
    kNotSupported = 1,
    kCommandFailed = 2,
    kInProgress = 3,
    kInvalidParameter = 4,
    kInvalidCalibrationParameter = 5,
};

// Text of a firmware status (0 to 4); empty for other values.
std::string statusText(uint8_t status);

void encodeLuid(const _sc_sensor_luid& luid, std::vector<uint8_t>& out);
_sc_sensor_luid decodeLuid(const uint8_t* bytes);
// The luid of eight 0xFF bytes: all sensors, in the self-test request.
_sc_sensor_luid allSensorsLuid();
// Upper-case text of the five fields: "%04X%04X%04X%02X%02X".
std::string luidToUpperText(const _sc_sensor_luid& luid);

struct Header {
    uint8_t command = 0;  // bits 0 to 6 of byte 0
    bool response = false;
    uint8_t status = 0;
};
// False when fewer than four bytes were received.
bool parseHeader(const ByteView& msg, Header& out);

std::vector<uint8_t> buildHeaderOnly(uint8_t commandId);
inline std::vector<uint8_t> buildGetVersion() { return buildHeaderOnly(SMHI_CMD_GET_VERSION); }
inline std::vector<uint8_t> buildReset() { return buildHeaderOnly(SMHI_CMD_RESET); }

struct KEBVersion {
    uint16_t major = 0, minor = 0, hotfix = 0, build = 0;
};
// Accepts exactly 12 bytes.
bool parseVersion(const ByteView& msg, KEBVersion& out);

// Bit i set for every level i from 0 to level.
uint16_t selfTestLevelMask(int level);
std::vector<uint8_t> buildSelfTest(const _sc_sensor_luid& luid, uint8_t phase, uint16_t levelMask);

struct SelfTestRecord {
    _sc_sensor_luid luid;
    uint8_t result = 0;
};
struct SelfTestResponse {
    uint8_t status = 0;
    uint8_t state = 0;    // 0: results ready
    uint8_t overall = 0;  // 0 passed, 1 warning, 2 failed
    std::vector<SelfTestRecord> records;
};
// False when the fixed fields or the announced records do not fit.
bool parseSelfTest(const ByteView& msg, SelfTestResponse& out);
// Text of a result code as the hub utility prints it ("unknown error" otherwise).
std::string selfTestResultText(uint8_t code);

// 17 bytes with a u32 property id, or the 14-byte form with a single byte.
std::vector<uint8_t> buildGetProperty(const _sc_sensor_luid& luid, uint32_t propertyId, bool shortForm = false);

// The payload of a get-property response: u32 length at offset 4, data from 8.
bool parsePropertyPayload(const ByteView& msg, ByteView& payload);
// Property 0: the data of the first entry (length at offset 22, data from 24).
bool parseCalibrationRecord(const ByteView& msg, std::vector<uint8_t>& record);

struct BusInfo {
    bool present = false;  // the first entry has id 0
    uint8_t type = 0;      // 0 I2C, 1 UART, 2 SPI
    uint8_t number = 0;
    uint8_t address = 0;
};
bool parseBusInfo(const ByteView& msg, BusInfo& out);

// Property 2: groups of luids from offset 10, each after a 12-byte group header
// whose byte 11 is its luid count.
bool parseSensorList(const ByteView& msg, std::vector<_sc_sensor_luid>& out);
// Property 3: the PDT image.
bool parsePdt(const ByteView& msg, std::vector<uint8_t>& image);

struct PlatformInfo {
    uint8_t formFactor = 0;  // payload byte 1
    uint8_t hinge = 0;       // payload byte 5
};
bool parsePlatformInfo(const ByteView& msg, PlatformInfo& out);

std::vector<uint8_t> buildSetProperty(const _sc_sensor_luid& luid, uint32_t propertyId, const std::vector<uint8_t>& data);
// A property block with one entry: luid, u16 entry length, u8 0, u8 1, then
// the entry (u8 id, u8 0, u16 data length, data).
std::vector<uint8_t> buildPropertyBlock(const _sc_sensor_luid& luid, uint8_t entryId, const std::vector<uint8_t>& data);
// The property block that carries a calibration record (one entry, id 2).
std::vector<uint8_t> buildCalibrationBlock(const _sc_sensor_luid& luid, const std::vector<uint8_t>& record);
std::vector<uint8_t> buildSetCalibration(const _sc_sensor_luid& luid, const std::vector<uint8_t>& record);

std::vector<uint8_t> buildSetSensorProperty(const _sc_sensor_luid& luid, uint16_t propertyId,
                                            const std::vector<uint8_t>& data);
std::vector<uint8_t> buildReportInterval(const _sc_sensor_luid& luid, int32_t interval);
// The sensitivity truncated toward zero.
std::vector<uint8_t> buildChangeSensitivity(const _sc_sensor_luid& luid, double sensitivity);
// 2 starts reporting, 1 stops it.
std::vector<uint8_t> buildReportingState(const _sc_sensor_luid& luid, uint8_t state);

// Record control: action 0 starts, 1 stops.
std::vector<uint8_t> buildRecord(uint8_t action, const std::vector<_sc_sensor_luid>& luids);
// 15 bytes: stop, no luids, eight zero bytes.
std::vector<uint8_t> buildStopRecord();

struct SampleRecord {
    _sc_sensor_luid luid;
    std::string luidKey;  // the eight luid bytes as lower-case hex
    uint64_t timestamp = 0;
    std::vector<int32_t> readings;
};
// Walks the sample records of a sensor-data message. A record of length 0, or
// one that is too short for its luid and time stamp or runs past the payload,
// ends the walk. False when the message itself is malformed.
bool parseSensorData(const ByteView& msg, const std::function<void(const SampleRecord&)>& onRecord);
std::vector<uint8_t> buildSensorData(const std::vector<SampleRecord>& records);

std::vector<uint8_t> buildSetI2cInfo(uint8_t update, uint8_t bus);
struct I2cInfo {
    uint16_t standardHigh = 0, standardLow = 0, fastHigh = 0, fastLow = 0;
};
bool parseI2cInfo(const ByteView& msg, I2cInfo& out);

}  // namespace smhi
