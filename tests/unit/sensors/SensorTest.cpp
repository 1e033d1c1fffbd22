// Sensor identity, units, record validation and the run log.
#include <gtest/gtest.h>

#include <cmath>

#include "Accelerometer.h"
#include "AmbientLight.h"
#include "Exceptions.h"
#include "Gyroscope.h"
#include "InertialSensor.h"
#include "Magnetometer.h"
#include "Sensor.h"

namespace {

_sc_sensor_luid luid(uint16_t type, uint8_t instance = 0, uint8_t flags = 2) {
    return _sc_sensor_luid{type, 1, 1, instance, flags};
}

std::string validationError(Sensor& sensor, std::vector<unsigned char> record) {
    try {
        sensor.validateDataFormat(record);
    } catch (const CalibrationException& e) {
        return e.what();
    }
    return "";
}

TEST(Sensor, AllocatesTheClassOfItsSensorType) {
    struct Case {
        uint16_t type;
        const char* name;
        int category;
    };
    const Case cases[] = {
        {65, "AmbientLightSensor", 2}, {115, "Accelerometer", 1}, {118, "Gyroscope", 1}, {125, "Magnetometer", 1},
        {527, "Magnetometer", 1},      {126, "", 1},               {577, "", 1},         {591, "", 1},
        {113, "", 1},                  {127, "", 0},               {128, "", 0},         {0x0203, "", 0},
    };
    for (const Case& c : cases) {
        const auto sensor = Sensor::allocateSensor(luid(c.type));
        ASSERT_TRUE(sensor);
        EXPECT_EQ(sensor->getName(), c.name) << c.type;
        EXPECT_EQ(sensor->getSensorType(), c.category) << c.type;
    }
    EXPECT_TRUE(std::dynamic_pointer_cast<GenericSensor>(Sensor::allocateSensor(luid(127))));
    EXPECT_TRUE(std::dynamic_pointer_cast<Gyroscope>(Sensor::allocateSensor(luid(118))));
}

TEST(Sensor, IdentityAndNames) {
    EXPECT_EQ(luidToString(_sc_sensor_luid()), "0000000000000000");
    _sc_sensor_luid a{0x0073, 0x1234, 0x0001, 0, 2}, b = a;
    EXPECT_EQ(luidToString(a), "7300341201000002");
    b.flags = 3;
    EXPECT_FALSE(a == b);
    Accelerometer lid(luid(115, 1));
    EXPECT_EQ(lid.getName(), "Accelerometer_2");
    EXPECT_FALSE(lid.isPrimary());
    EXPECT_EQ(AxisName(0), "X");
    EXPECT_EQ(AxisName(2), "Z");
    EXPECT_EQ(AxisName(3), "");
    EXPECT_EQ(AxisName(-1), "");
}

TEST(Sensor, ConstructorValues) {
    Accelerometer acc(luid(115));
    EXPECT_EQ(acc.getDivider(), 1000000);
    EXPECT_EQ(acc.getSamplingUnit(), Unit_g0);
    EXPECT_EQ(acc.getCalibrationUnit(), Unit_microg0);
    EXPECT_TRUE(acc.getCanCalibrate());
    EXPECT_TRUE(acc.getCanCalibrate(PROCESS_INERTIAL_CALIBRATION));
    EXPECT_FALSE(acc.getCanCalibrate(PROCESS_CALIBRATION_TEST));
    Gyroscope gyro(_sc_sensor_luid{118, 9, 2, 0, 3});
    EXPECT_EQ(luidToString(gyro.getLuidForSampling()), "4102090002000000");
    EXPECT_EQ(gyro.getDivider(), 100000);
    Magnetometer mag(_sc_sensor_luid{527, 8, 4, 0, 2});
    EXPECT_EQ(luidToString(mag.getLuidForSampling()), "4202080004000000");
    EXPECT_TRUE(mag.getCanCalibrate());
    EXPECT_FALSE(Magnetometer(_sc_sensor_luid{527, 8, 4, 1, 2}).getCanCalibrate());
    EXPECT_FALSE(mag.getCanCalibrate(PROCESS_ALS_CALIBRATION));
    EXPECT_TRUE(mag.getCanCalibrate(PROCESS_MAGNETIC_TEST));
    AmbientLight als(luid(65, 0, 0));
    EXPECT_EQ(als.getDivider(), 1000);
    EXPECT_EQ(als.getSamplingUnit(), Unit_lux);
    EXPECT_TRUE(als.getCanCalibrate(PROCESS_ALS_CALIBRATION));
    EXPECT_FALSE(als.goodForTesting());
    EXPECT_FALSE(InertialSensor(luid(126, 0, 1)).getCanCalibrate());
}

TEST(Units, NamesAndConversions) {
    EXPECT_DOUBLE_EQ(Conversions::Convert(1, Unit_g0, Unit_meter__sec2), 9.80665);
    EXPECT_DOUBLE_EQ(Conversions::Convert(1000, Unit_mg0, Unit_g0), 1.0);
    EXPECT_DOUBLE_EQ(Conversions::Convert(180, Unit_deg__sec, Unit_rad__sec), M_PI);
    EXPECT_DOUBLE_EQ(Conversions::Convert(1, Unit_microTesla, Unit_milliGauss), 10.0);
    EXPECT_DOUBLE_EQ(Conversions::Convert(2, Unit_degree, Unit_deg__sec), 2.0);
    EXPECT_DOUBLE_EQ(Conversions::Convert(1, Unit_deg__sec, Unit_deg_sec_5), 100000.0);
    EXPECT_DOUBLE_EQ(Conversions::Convert(1, Unit_g0, Unit_microg0), 1e6);
    EXPECT_DOUBLE_EQ(Conversions::Convert(70, Unit_milliGauss, Unit_microTesla), 7.0);
    EXPECT_EQ(Conversions::Convert(5, Unit_g0, Unit_deg__sec), 0.0);
    EXPECT_EQ(Conversions::Convert(5, Unit_lux, Unit_lux), 0.0);
    EXPECT_EQ(Conversions::Convert(5, Unit_tesla, Unit_microTesla), 0.0);
    EXPECT_EQ(Conversions::fromString("deg__sec"), Unit_deg__sec);
    EXPECT_EQ(Conversions::toString(Unit_microGauss), "microGauss");
    for (const char* bad : {"Deg__sec", "", "g"}) {
        try {
            Conversions::fromString(bad);
            ADD_FAILURE() << bad;
        } catch (const MathException& e) {
            EXPECT_STREQ(e.what(), "Math Error: Unsupported unit");
        }
    }
    EXPECT_THROW(Conversions::toString(static_cast<UnitsEnum>(7)), MathException);
    EXPECT_THROW(Conversions::toString(static_cast<UnitsEnum>(21)), MathException);
}

TEST(Sensor, HingeWords) {
    Accelerometer acc(luid(115, 1));
    EXPECT_EQ(acc.getHingeConfig(), "BOTTOM");
    acc.setHingeConfig("left");
    EXPECT_EQ(acc.getHingeConfig(), "LEFT");
    acc.setHingeConfig("up");
    EXPECT_EQ(acc.getHingeConfig(), "LEFT");
    acc.setHingeConfig("Top");
    EXPECT_EQ(acc.getHingeConfig(), "TOP");
}

TEST(Sensor, RecordValidation) {
    Accelerometer acc(luid(115));
    InertialSensor dynamic(luid(577, 0, 1));
    GenericSensor generic(luid(0x0203, 0, 0));
    AmbientLight als(luid(65, 0, 0));
    std::vector<unsigned char> staticRecord = acc.getStaticDefault();
    std::vector<unsigned char> withVendor = staticRecord;
    withVendor[38] = 3;
    withVendor.insert(withVendor.end(), {1, 2, 3});
    std::vector<unsigned char> badVendor = withVendor;
    badVendor.push_back(4);
    std::vector<unsigned char> alsRecord = {1, 0, 200, 0, 100, 3};
    for (int i = 0; i < 3; ++i)
        alsRecord.insert(alsRecord.end(), {10, 0, 1, 0});
    std::vector<unsigned char> alsVendor = alsRecord;
    alsVendor.insert(alsVendor.end(), {2, 0, 0xAB, 0xCD});

    struct Case {
        Sensor* sensor;
        std::vector<unsigned char> record;
        const char* error;
    };
    const Case cases[] = {
        {&acc, staticRecord, ""},
        {&acc, std::vector<unsigned char>(39, 0), "Invalid calibration data size"},
        {&acc, std::vector<unsigned char>(3, 0x80), ""},
        {&acc, {0x80}, ""},
        {&acc, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "Unsupported format of Accelerometer Sensor calibration data"},
        {&acc, withVendor, ""},
        {&acc, badVendor, "Invalid calibration data size"},
        {&acc, {}, "Invalid calibration data size"},
        {&dynamic, std::vector<unsigned char>(12, 1), ""},
        {&dynamic, std::vector<unsigned char>(67, 1), "Invalid calibration data size"},
        {&generic, {2, 0, 1}, ""},
        {&generic, {3, 0, 1}, "Unsupported format of  Sensor calibration data"},
        {&als, alsRecord, ""},
        {&als, alsVendor, ""},
        {&als, {2, 0}, "Unsupported format of AmbientLightSensor Sensor calibration data"},
        {&als, std::vector<unsigned char>(17, 1), "Invalid Ambient Light Sensor calibration data size"},
        {&als, {1, 0, 1, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "Invalid Ambient Light Sensor calibration data size"},
        {&als, {1, 0, 1, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0},
         "Invalid Ambient Light Sensor calibration data: not enough ALR steps"},
        {&als, {1, 0, 1, 0, 1, 250, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "Invalid Ambient Light Sensor calibration data size"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(validationError(*cases[i].sensor, cases[i].record), cases[i].error) << "case " << i;
}

TEST(Sensor, FailedValidationStoresNothing) {
    Accelerometer acc(luid(115));
    EXPECT_THROW(acc.setOriginalScaling(std::vector<unsigned char>(39, 0)), CalibrationException);
    EXPECT_FALSE(acc.hasOriginalScaling());
    EXPECT_THROW(acc.setScaling({7, 0}), CalibrationException);
    EXPECT_TRUE(acc.getScaling().empty());
    EXPECT_THROW(acc.setOriginalScaling({}), CalibrationException);
    acc.setOriginalScaling(acc.getStaticDefault());
    EXPECT_TRUE(acc.hasOriginalScaling());
}

TEST(Sensor, OutdatedDynamicRecordIsIgnoredWithAWarning) {
    InertialSensor dynamic(luid(577, 0, 1));
    testing::internal::CaptureStdout();
    dynamic.setOriginalScaling(std::vector<unsigned char>(14, 0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: Dynamic sensor calibration data is outdated. Ignoring the dynamic \n");
    EXPECT_FALSE(dynamic.hasOriginalScaling());
}

TEST(InertialSensor, AxisMappingWord) {
    EXPECT_EQ(InertialSensor::compressAxisMapping(Matrix::Identity(3)), 0x10101u);
    const Matrix swapped(3, 3, {0, -1, 0, 1, 0, 0, 0, 0, -1});
    const uint32_t word = InertialSensor::compressAxisMapping(swapped);
    EXPECT_EQ(word, (0x3u << 2) | (0x1u << 6) | (0x3u << 16));
    EXPECT_EQ(InertialSensor::decompressAxisMapping(word), swapped);
    EXPECT_EQ(InertialSensor::decompressAxisMapping(0x2u).getRow(0), Vector(std::vector<double>{-2, 0, 0}));
    EXPECT_THROW(InertialSensor::compressAxisMapping(Matrix(2, 3)), MathException);
    EXPECT_THROW(Accelerometer(luid(115, 0, 1)).getStaticDefault(), CalibrationException);
    const std::vector<unsigned char> d = Accelerometer(luid(115)).getStaticDefault();
    const std::vector<unsigned char> expected = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0,
                                                 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 1, 1, 0, 0, 0};
    EXPECT_EQ(d, expected);
}

TEST(Sensor, RunLogNodes) {
    Accelerometer acc(luid(115));
    acc.pushLog("A");
    const double value = 1.5;
    acc.addToLog(value, "B", "");
    acc.popLog();
    acc.pushLog("C");
    acc.pushLog("D");
    acc.popLog();
    acc.popLog();
    acc.addToLog(Vector(std::vector<double>{1, 2}), "V", "note");
    acc.addToLog("T", "x", "", "Unit", "g0", "Empty", "");
    TiXmlPrinter printer;
    printer.SetStreamPrinting();
    acc.getLogRoot()->Accept(&printer);
    EXPECT_EQ(std::string(printer.CStr()),
              "<Sensor LUID=\"7300010001000002\" Type=\"Accelerometer\" SamplingUnit=\"g0\" Success=\"false\" "
              "IsPrimary=\"true\"><A><B><Values>1.500000</Values></B></A><C><D /><!--note--><V Rows=\"1\" "
              "Cols=\"2\"><Values>1.000000,2.000000;</Values></V><T Unit=\"g0\"><Values>x</Values></T></C></Sensor>");
}

}  // namespace
