// SMHI message builders and parsers against byte tables.
#include <gtest/gtest.h>

#include <string>

#include "device/Guid.h"
#include "device/Smhi.h"

namespace {

std::vector<uint8_t> bytes(const std::string& hexText) {
    std::vector<uint8_t> b;
    std::string digits;
    for (char c : hexText)
        if (c != ' ')
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        b.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return b;
}

std::string hex(const std::vector<uint8_t>& b) {
    return doxi::toHex(b);
}

const _sc_sensor_luid kAccel{0x0073, 0x0001, 0x0001, 0, 2};

TEST(Smhi, HeaderInitialiserClearsEverythingButTheCommand) {
    uint8_t header[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    SMHIInitSmhiMsgHeader(header, SMHI_CMD_SENSOR_DATA);
    EXPECT_EQ(hex(std::vector<uint8_t>(header, header + 4)), "0f000000");
    SMHIInitSmhiMsgHeader(header, 0xFF);
    EXPECT_EQ(header[0], 0x7F);
}

TEST(Smhi, RequestsMatchTheirByteLayouts) {
    struct Case {
        std::vector<uint8_t> built;
        const char* expected;
    };
    const Case cases[] = {
        {smhi::buildGetVersion(), "01000000"},
        {smhi::buildReset(), "02000000"},
        {smhi::buildSelfTest(smhi::allSensorsLuid(), 0, smhi::selfTestLevelMask(0)), "03000000ffffffffffffffff000100"},
        {smhi::buildSelfTest(kAccel, 1, smhi::selfTestLevelMask(2)), "030000007300010001000002010700"},
        {smhi::buildSelfTest(kAccel, 1, smhi::selfTestLevelMask(3)), "030000007300010001000002010f00"},
        {smhi::buildGetProperty(kAccel, SMHI_PROP_CALIBRATION), "04000000730001000100000200 00000000"},
        {smhi::buildGetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_LIST, true), "04000000000000000000000000 02"},
        {smhi::buildGetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_CONFIG), "04000000000000000000000000 03000000"},
        {smhi::buildSetProperty(_sc_sensor_luid(), SMHI_PROP_SENSOR_CONFIG, {0xAA, 0xBB}),
         "05000000 0000000000000000 03000000 02000000 aabb"},
        {smhi::buildReportInterval(kAccel, 20), "0a000000 7300010001000002 0e03 0400 14000000"},
        {smhi::buildChangeSensitivity(kAccel, -2.9), "0a000000 7300010001000002 0f03 0400 feffffff"},
        {smhi::buildChangeSensitivity(kAccel, 1e12), "0a000000 7300010001000002 0f03 0400 ffffff7f"},
        {smhi::buildReportingState(kAccel, 2), "0a000000 7300010001000002 1603 0100 02"},
        {smhi::buildRecord(0, {}), "0c000000 01 00 00"},
        {smhi::buildRecord(0, {kAccel}), "0c000000 01 00 01 7300010001000002"},
        {smhi::buildStopRecord(), "0c000000 01 01 00 0000000000000000"},
        {smhi::buildSetI2cInfo(1, 2), "10000000 01 02"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hex(c.built), hex(bytes(c.expected)));
}

TEST(Smhi, SetCalibrationCarriesABlockWithOneEntry) {
    const std::vector<uint8_t> record(40, 0x11);
    const std::vector<uint8_t> request = smhi::buildSetCalibration(kAccel, record);
    EXPECT_EQ(request.size(), 76u);
    EXPECT_EQ(hex(std::vector<uint8_t>(request.begin(), request.begin() + 36)),
              hex(bytes("05000000 7300010001000002 00000000 38000000 7300010001000002 2c00 00 01 02 00 2800")));
}

TEST(Smhi, VersionMustBeExactlyTwelveBytes) {
    smhi::KEBVersion v;
    EXPECT_TRUE(smhi::parseVersion(doxi::ByteView(bytes("81000000 0300 0100 0000 620d")), v));
    EXPECT_EQ(v.major, 3);
    EXPECT_EQ(v.build, 3426);
    EXPECT_FALSE(smhi::parseVersion(doxi::ByteView(bytes("81000000 0300 0100 0000 62")), v));
    EXPECT_FALSE(smhi::parseVersion(doxi::ByteView(bytes("81000000 0300 0100 0000 620d 00")), v));
}

TEST(Smhi, SensorListWalksItsGroups) {
    std::string msg = "84000000 00000000 02 00";
    msg += "0000000000000000000000 03 7300010001000002 7300010001000102 7600090002000002";
    msg += "0000000000000000000000 02 0f02080004000002 4100020001000000";
    std::vector<_sc_sensor_luid> luids;
    ASSERT_TRUE(smhi::parseSensorList(doxi::ByteView(bytes(msg)), luids));
    ASSERT_EQ(luids.size(), 5u);
    EXPECT_EQ(luids[0], kAccel);
    EXPECT_EQ(luids[1].instance, 1);
    EXPECT_EQ(luids[3].sensorType, 0x020F);
    EXPECT_EQ(luids[4].sensorType, 0x0041);

    // A count that runs past what was received is refused.
    std::vector<uint8_t> truncated = bytes(msg);
    truncated.resize(truncated.size() - 1);
    EXPECT_FALSE(smhi::parseSensorList(doxi::ByteView(truncated), luids));
    EXPECT_FALSE(smhi::parseSensorList(doxi::ByteView(bytes("84000000 00000000 01 00 000000")), luids));
    EXPECT_TRUE(smhi::parseSensorList(doxi::ByteView(bytes("84000000 00000000 00 00")), luids));
    EXPECT_TRUE(luids.empty());
}

TEST(Smhi, PropertyPayloadsAreCheckedAgainstTheReceivedLength) {
    std::vector<uint8_t> record;
    const std::string cal = "84000000 10000000 7300010001000002 0800 00 01 02 00 0400 01020304";
    ASSERT_TRUE(smhi::parseCalibrationRecord(doxi::ByteView(bytes(cal)), record));
    EXPECT_EQ(hex(record), "01020304");
    EXPECT_FALSE(smhi::parseCalibrationRecord(doxi::ByteView(bytes("84000000 10000000 7300010001000002 0800 00 01 02 00 0500 01020304")), record));
    EXPECT_FALSE(smhi::parseCalibrationRecord(doxi::ByteView(bytes("84000000")), record));

    smhi::BusInfo bus;
    ASSERT_TRUE(smhi::parseBusInfo(doxi::ByteView(bytes("84000000 0f000000 7300010001000002 0700 00 01 00 00 0300 00 01 19")), bus));
    EXPECT_TRUE(bus.present);
    EXPECT_EQ(bus.number, 1);
    EXPECT_EQ(bus.address, 0x19);
    ASSERT_TRUE(smhi::parseBusInfo(doxi::ByteView(bytes("84000000 0c000000 7300010001000002 0400 00 01 01 00 0000")), bus));
    EXPECT_FALSE(bus.present);
    EXPECT_FALSE(smhi::parseBusInfo(doxi::ByteView(bytes("84000000 0f000000 7300010001000002 0700 00 01 00 00 0300 00")), bus));

    std::vector<uint8_t> pdt;
    ASSERT_TRUE(smhi::parsePdt(doxi::ByteView(bytes("84000000 03000000 020155")), pdt));
    EXPECT_EQ(hex(pdt), "020155");
    EXPECT_FALSE(smhi::parsePdt(doxi::ByteView(bytes("84000000 04000000 020155")), pdt));
    EXPECT_FALSE(smhi::parsePdt(doxi::ByteView(bytes("84000000 ffffffff 020155")), pdt));

    smhi::PlatformInfo info;
    ASSERT_TRUE(smhi::parsePlatformInfo(doxi::ByteView(bytes("84000000 06000000 00 02 00 00 00 01")), info));
    EXPECT_EQ(info.formFactor, 2);
    EXPECT_EQ(info.hinge, 1);
    EXPECT_FALSE(smhi::parsePlatformInfo(doxi::ByteView(bytes("84000000 05000000 00 02 00 00 00")), info));

    smhi::I2cInfo i2c;
    ASSERT_TRUE(smhi::parseI2cInfo(doxi::ByteView(bytes("90000000 8601 cc01 3c00 9600")), i2c));
    EXPECT_EQ(i2c.standardHigh, 390);
    EXPECT_EQ(i2c.fastLow, 150);
    EXPECT_FALSE(smhi::parseI2cInfo(doxi::ByteView(bytes("90000000 8601 cc01 3c00 96")), i2c));
}

TEST(Smhi, SelfTestRecordsMustFitTheResponse) {
    smhi::SelfTestResponse r;
    ASSERT_TRUE(smhi::parseSelfTest(
        doxi::ByteView(bytes("83000000 00 01 02000000 7300010001000002 00 4100020001000000 02")), r));
    EXPECT_EQ(r.state, 0);
    EXPECT_EQ(r.overall, 1);
    ASSERT_EQ(r.records.size(), 2u);
    EXPECT_EQ(r.records[1].result, 2);
    EXPECT_EQ(smhi::luidToUpperText(r.records[0].luid), "0073000100010002");
    EXPECT_FALSE(smhi::parseSelfTest(doxi::ByteView(bytes("83000000 00 01 03000000 7300010001000002 00")), r));
    EXPECT_FALSE(smhi::parseSelfTest(doxi::ByteView(bytes("83000000 00 01 ffffffff")), r));
    EXPECT_FALSE(smhi::parseSelfTest(doxi::ByteView(bytes("83000000 00 01 0000")), r));
    EXPECT_EQ(smhi::selfTestResultText(5), "warning: missing optional reporter");
    EXPECT_EQ(smhi::selfTestResultText(12), "unknown error");
}

TEST(Smhi, SensorDataRecordsCarryWhatTheirLengthAllows) {
    // Lengths 21 (one reading), 29 (three) and 18 (time stamp only).
    const std::string payload = "15 7300010001000002 e803000000000000 feffffff"
                                "1d 7600090002000002 d007000000000000 01000000 02000000 03000000"
                                "12 0f02080004000002 b80b000000000000 aa";
    std::vector<uint8_t> msg = bytes("8f000000");
    const std::vector<uint8_t> p = bytes(payload);
    doxi::putU32(msg, static_cast<uint32_t>(p.size()));
    msg.insert(msg.end(), p.begin(), p.end());
    std::vector<smhi::SampleRecord> records;
    ASSERT_TRUE(smhi::parseSensorData(doxi::ByteView(msg), [&](const smhi::SampleRecord& r) { records.push_back(r); }));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].luidKey, "7300010001000002");
    EXPECT_EQ(records[0].timestamp, 1000u);
    EXPECT_EQ(records[0].readings, (std::vector<int32_t>{-2}));
    EXPECT_EQ(records[1].readings, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_TRUE(records[2].readings.empty());

    // A zero length, a record too short for its fields or one past the payload end stops the walk.
    for (const char* bad : {"00 7300010001000002", "10 7300010001000002 e803000000000000",
                            "ff 7300010001000002 e803000000000000 feffffff"}) {
        std::vector<uint8_t> m = bytes("8f000000");
        const std::vector<uint8_t> b = bytes(bad);
        doxi::putU32(m, static_cast<uint32_t>(b.size()));
        m.insert(m.end(), b.begin(), b.end());
        int seen = 0;
        EXPECT_TRUE(smhi::parseSensorData(doxi::ByteView(m), [&](const smhi::SampleRecord&) { ++seen; }));
        EXPECT_EQ(seen, 0) << bad;
    }
    EXPECT_FALSE(smhi::parseSensorData(doxi::ByteView(bytes("8f000000 10000000 00")), [](const smhi::SampleRecord&) {}));

    // What the emulator builds, the parser reads back.
    smhi::SampleRecord r;
    r.luid = kAccel;
    r.timestamp = 123456;
    r.readings = {7, -8, 9};
    std::vector<smhi::SampleRecord> back;
    ASSERT_TRUE(smhi::parseSensorData(doxi::ByteView(smhi::buildSensorData({r, r})),
                                      [&](const smhi::SampleRecord& x) { back.push_back(x); }));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].readings, r.readings);
}

TEST(Smhi, StatusTextsAndIdentifiers) {
    EXPECT_EQ(smhi::statusText(3), "Please wait, Working in progress");
    EXPECT_EQ(smhi::statusText(4), "SMHI error: Invalid parameter");
    EXPECT_EQ(smhi::statusText(9), "");
    EXPECT_EQ(doxi::SMHI_GUID.toString(), "bb579a2e-cc54-4450-b1d0-5e7520dcad25");
    EXPECT_EQ(doxi::TRACE_GUID.toString(), "c1cc78b9-b693-4e54-9191-5169cb027c25");
    EXPECT_EQ(doxi::TRACE_CONFIG_GUID.toString(), "1f050626-d505-4e94-b189-535d7de19cf2");
    EXPECT_EQ(doxi::INTERFACE_GUID.toString(), "aa1dcd67-308f-4daa-a2b9-2782d4703c5d");
    EXPECT_EQ(doxi::SMHI_GUID.bytes[0], 0x2e);
    EXPECT_EQ(doxi::SMHI_GUID.bytes[8], 0xb1);
    EXPECT_EQ(luidHexKey(kAccel), "7300010001000002");
}

}  // namespace
