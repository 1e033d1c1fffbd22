// Feeds arbitrary bytes to every SMHI response parser.
#include <cstddef>
#include <cstdint>

#include "device/Smhi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const doxi::ByteView msg(data, size);
    smhi::Header header;
    smhi::parseHeader(msg, header);
    smhi::KEBVersion version;
    smhi::parseVersion(msg, version);
    smhi::SelfTestResponse selfTest;
    smhi::parseSelfTest(msg, selfTest);
    std::vector<uint8_t> bytes;
    smhi::parseCalibrationRecord(msg, bytes);
    smhi::parsePdt(msg, bytes);
    smhi::BusInfo bus;
    smhi::parseBusInfo(msg, bus);
    std::vector<_sc_sensor_luid> luids;
    smhi::parseSensorList(msg, luids);
    smhi::PlatformInfo info;
    smhi::parsePlatformInfo(msg, info);
    smhi::I2cInfo i2c;
    smhi::parseI2cInfo(msg, i2c);
    size_t readings = 0;
    smhi::parseSensorData(msg, [&readings](const smhi::SampleRecord& r) { readings += r.readings.size(); });
    return 0;
}
