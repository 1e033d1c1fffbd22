// The inertial calibration core and the accelerometer, against a stand-in for
// the sensor manager.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Accelerometer.h"
#include "Exceptions.h"
#include "FakeRun.h"
#include "InertialSensor.h"
#include "MathTestUtil.h"
#include "SensorManager.h"
#include "XmlUtil.h"

namespace {

// Exposes the protected parts the tests set up.
class TestSensor : public Accelerometer {
public:
    explicit TestSensor(uint8_t instance = 0) : Accelerometer(_sc_sensor_luid{115, 1, 1, instance, 2}) {}
    void setSteps(int n) { ownSteps = n; }
    void setModel(const Matrix& scale, const Vector& offset, const Matrix& mapping) {
        S = scale;
        o = offset;
        A = mapping;
    }
    void setMeans(const Matrix& means) { staticMeans = means; }
    void setExpected(const Matrix& e) { expectedResults = e; }
    void setLimitsForTest() { setLimits(); }
    double rangeLimit() const { return motionRangeLimit; }
    void setPrecision(const Precision& p) { precision = p; }
    using Accelerometer::samplesLongerBy;
};

void addSamples(Sensor& s, const std::vector<std::pair<double, Vector>>& samples) {
    for (const auto& p : samples)
        s.getBufferedData().emplace_back(p.first, p.second.elements());
}

// Static steps of one second each (0..900 ms) with a gap of 100 ms between them.
// Returns the segment times (start and end of each step).
std::vector<double> addSteps(Sensor& sensor, const std::vector<Vector>& readings, double noise, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> n(0.0, noise);
    std::vector<double> times;
    for (size_t s = 0; s < readings.size(); ++s) {
        const double t0 = 1000.0 * s;
        for (int i = 0; i < 90; ++i) {
            const Vector v = readings[s] + Vector(std::vector<double>{n(rng), n(rng), n(rng)});
            sensor.getBufferedData().emplace_back(t0 + 10 * i, v.elements());
        }
        // The device moves between two steps.
        const Vector next = s + 1 < readings.size() ? readings[s + 1] : readings[s];
        sensor.getBufferedData().emplace_back(t0 + 950, ((readings[s] + next) / 2).elements());
        times.push_back(t0 - 1);
        times.push_back(t0 + 895);
    }
    return times;
}

// Readings stuck at the end of a part's range during a turn, and what is not:
// each row a turn about Z (a 1 - cos rate profile over 4 s, 10 ms apart) read
// through a full scale and a resolution, with a small rate on X; or, with
// stuck samples, a sharp peak that the full scale holds for that many.
TEST(InertialCore, StuckReadingsAreClippingOnlyWhereTheTurnLostSomething) {
    struct Case {
        const char* what;
        double peak, fullScale, lsb, crossRate, windowEndMs;
        int axis;  // -1: no clipping
        double level;
        int stuck = 0;
        double windowStartMs = -1;
        bool longBefore = false;  // a sample long before the stretch, a gap no motion crosses
    };
    const Case cases[] = {
        {"clipped well below its peak", 180, 125, 0, 2, 4000, 2, 125},
        {"clipped on the negative side", -180, 150, 0, 2, 4000, 2, -150},
        {"a peak just over the full scale loses next to nothing", 180, 179.9, 0, 2, 4000, -1, 0},
        {"a coarse resolution holds the peak on one value", 90, 0, 0.244, 2, 4000, -1, 0},
        {"a coarse resolution holds the minor axis on one value", 180, 0, 0.5, 0.3, 4000, -1, 0},
        {"stuck up to the end of the stretch tells nothing", 180, 125, 0, 2, 2000, -1, 0},
        {"stuck from the start of the stretch tells nothing", 180, 125, 0, 2, 4000, -1, 0, 0, 2000},
        // The least run of stuck samples that is clipping: three, not two.
        {"three samples held at the full scale", 0, 125, 0, 0, 4000, 2, 125, 3},
        {"two samples at the full scale", 0, 125, 0, 0, 4000, -1, 0, 2},
        {"a long gap before the stretch is none of its motion", 180, 125, 0, 2, 4000, 2, 125, 0, -1, true},
    };
    for (const Case& c : cases) {
        TestSensor sensor;
        if (c.stuck > 0) {
            // A smooth peak of 130 a few samples wide, read through the full
            // scale: three samples or two (the peak between two) over it.
            const double curve = c.stuck == 3 ? 2.0 : 4.0, shift = c.stuck == 3 ? 0.0 : 0.5;
            for (int k = 0; k <= 14; ++k) {
                const double n = k - 7 + shift;
                sensor.getBufferedData().emplace_back(10.0 * k,
                                                      std::vector<double>{0, 0.1, std::min(c.fullScale, 130 - curve * n * n)});
            }
            const InertialSensor::Clipping clip = sensor.findClipping(-1, c.windowEndMs);
            EXPECT_EQ(clip.axis, c.axis) << c.what;
            if (c.axis >= 0) {
                EXPECT_EQ(clip.level, c.level) << c.what;
            }
            continue;
        }
        const double pi = 3.14159265358979323846;
        if (c.longBefore)
            sensor.getBufferedData().emplace_back(-1e9, std::vector<double>{0, 0.1, 0});
        for (int i = 0; i <= 400; ++i) {
            const double u = i / 400.0, shape = (1 - std::cos(2 * pi * u)) / 2;
            Vector v(std::vector<double>{c.crossRate * shape, 0.1, c.peak * shape});
            for (int k = 0; k < 3; ++k) {
                if (c.fullScale > 0)
                    v[k] = std::max(-c.fullScale, std::min(c.fullScale, v[k]));
                if (c.lsb > 0)
                    v[k] = std::round(v[k] / c.lsb) * c.lsb;
            }
            sensor.getBufferedData().emplace_back(10.0 * i, v.elements());
        }
        // No room past the last sample: a read past it is one past the buffer.
        sensor.getBufferedData().shrink_to_fit();
        const InertialSensor::Clipping clip = sensor.findClipping(c.windowStartMs, c.windowEndMs);
        EXPECT_EQ(clip.axis, c.axis) << c.what;
        if (c.axis >= 0) {
            EXPECT_EQ(clip.level, c.level) << c.what;
            EXPECT_GT(clip.seconds, 0.5) << c.what;
        }
    }
}

TEST(InertialCore, FindIndexAndSegmentation) {
    TestSensor sensor;
    for (int i = 0; i <= 10; ++i)
        addSamples(sensor, {{5.0 * i, vec({double(i), double(i), double(i)})}});
    // Samples after the last step's end time belong to no step (a live run
    // records on for a moment after it).
    FakeManager early(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 2, {10, 20, 30, 40});
    sensor.SetSensManager(&early);
    EXPECT_EQ(sensor.findIndex(), (std::vector<size_t>{3, 5, 7, 9}));
    FakeManager manager(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 2, {10, 20, 30, 50});
    sensor.SetSensManager(&manager);
    EXPECT_EQ(sensor.findIndex(), (std::vector<size_t>{3, 5, 7, 11}));
    sensor.setSteps(2);
    sensor.initStaticStates();
    sensor.FindSegmentation();
    EXPECT_EQ(sensor.getStaticMeans().getRow(0), vec({3, 3, 3}));
    EXPECT_EQ(sensor.getStaticMeans().getRow(1), vec({8, 8, 8}));
    // One sample gives no spread; three samples 7, 8, 9 give sqrt(2/3) per axis, halved over the steps.
    EXPECT_NEAR(sensor.getNoise()[0], std::sqrt(2.0 / 3) / 2, 1e-12);

    FakeManager equal(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 2, {10, 12, 14, 40});
    sensor.SetSensManager(&equal);
    EXPECT_EQ(calibrationError([&] { sensor.findIndex(); }),
              "Accelerometer Calibration Error: No data was sampled during stage 1");
    FakeManager late(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 2, {10, 60, 70, 80});
    sensor.SetSensManager(&late);
    EXPECT_EQ(calibrationError([&] { sensor.findIndex(); }),
              "Accelerometer Calibration Error: Failed splitting data to segments");
    FakeManager none(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 2, {});
    sensor.SetSensManager(&none);
    EXPECT_EQ(calibrationError([&] { sensor.findIndex(); }),
              "Accelerometer Calibration Error: Failed splitting data to segments");
    TestSensor empty(1);
    empty.SetSensManager(&manager);
    EXPECT_EQ(calibrationError([&] { empty.findIndex(); }), "Accelerometer_2 Calibration Error: No data was available");
}

TEST(InertialCore, FourteenBoundariesUseTwoStretchesPerStep) {
    TestSensor sensor;
    for (int i = 0; i <= 100; ++i)
        addSamples(sensor, {{double(i), vec({double(i), 0, 0})}});
    std::vector<double> times;
    for (int j = 0; j < 14; ++j)
        times.push_back(5.0 + 7.0 * j);
    FakeManager manager(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 4, times);
    sensor.SetSensManager(&manager);
    sensor.setSteps(4);
    sensor.initStaticStates();
    sensor.FindSegmentation();
    // Step 0: samples 6..11 and 20..26, all near enough their median to count: their mean.
    EXPECT_DOUBLE_EQ(sensor.getStaticMeans()[0][0], 212.0 / 13);
    // Step 3 has only its first stretch, up to its end time (90..95).
    EXPECT_DOUBLE_EQ(sensor.getStaticMeans()[3][0], 92.5);

    TestSensor single;
    addSamples(single, {{1, vec({1, 1, 1})}});
    FakeManager oneSample(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 1, {0, 10});
    single.SetSensManager(&oneSample);
    single.setSteps(1);
    EXPECT_EQ(calibrationError([&] { single.FindSegmentation(); }),
              "Accelerometer Calibration Error: Not enough data was sampled during stage 0");
}

TEST(InertialCore, AxisMappingAndScalingEncodings) {
    const Matrix mapping = InertialSensor::calcAxisMapping(Matrix(3, 3, {0.1, -0.9, 0, 1, 0, 0, 0, 0, 1.1}));
    EXPECT_EQ(mapping, Matrix(3, 3, {0, -1, 0, 1, 0, 0, 0, 0, 1}));
    EXPECT_EQ(InertialSensor::compressAxisMapping(mapping), 0x1004Cu);
    EXPECT_EQ(InertialSensor::calcAxisMapping(Matrix(3, 3)).getRow(0), vec({-1, 0, 0}));

    int16_t e[9];
    uint16_t f;
    InertialSensor::convertScaling(Matrix::Identity(3), e, f);
    EXPECT_EQ(std::vector<int16_t>(e, e + 9), (std::vector<int16_t>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(f, 1);
    InertialSensor::convertScaling(Matrix(3, 3, {1.01, 0, 0, 0, 1, 0, 0, 0, 0.99}), e, f);
    EXPECT_EQ(f, 32442);
    EXPECT_EQ(e[0], 32766);
    EXPECT_EQ(e[4], 32442);
    EXPECT_EQ(e[8], 32117);
    int32_t offsets[3];
    InertialSensor::convertOffset(Matrix(vec({0.0123456, -1, 1e30})), Unit_g0, Unit_microg0, offsets);
    EXPECT_EQ(offsets[0], 12345);
    EXPECT_EQ(offsets[1], -1000000);
    EXPECT_EQ(offsets[2], INT32_MAX);
}

TEST(InertialCore, FirmwareRecordReversesToRawSamples) {
    TestSensor sensor;
    const Matrix scale(3, 3, {1.02, 0.01, 0, -0.01, 0.98, 0.02, 0, 0.005, 1.01});
    const Matrix mapping(3, 3, {0, -1, 0, 1, 0, 0, 0, 0, 1});
    sensor.setModel(scale, vec({0.05, -0.02, 0.01}), mapping);
    std::vector<unsigned char> vendor = sensor.getStaticDefault();
    vendor[38] = 2;
    vendor.insert(vendor.end(), {0xAA, 0xBB});
    sensor.setOriginalScaling(vendor);
    sensor.convertToFWForamt();
    const std::vector<unsigned char> record = sensor.getScaling();
    ASSERT_EQ(record.size(), 42u);
    EXPECT_EQ(record[40], 0xAA);
    EXPECT_EQ(xmlutil::readU32(record, 34), 0x1004Cu);
    EXPECT_EQ(xmlutil::readI32(record, 2), 50000);

    // What the firmware does with the record, then the tool undoes.
    TestSensor device;
    device.setOriginalScaling(record);
    device.calcReverseSdt();
    Matrix m(3, 3);
    for (int k = 0; k < 9; ++k)
        m[k / 3][k % 3] = xmlutil::readI16(record, 14 + 2 * k) / double(xmlutil::readU16(record, 32));
    const Vector fwOffset = vec({0.05, -0.02, 0.01});
    for (const Vector& raw : {vec({0.1, 0.2, 0.97}), vec({-1, 0, 0.03}), vec({0.3, -0.7, 0.6})}) {
        SensorData d(0, (m * mapping * (raw - fwOffset)).elements());
        device.reverseStaticCalibration(d);
        EXPECT_TRUE(VectorNear(Vector(d.values), raw, 1e-9));
    }
    ASSERT_NE(device.getLogRoot(), nullptr);
    EXPECT_NE(device.getLogRoot()->FirstChildElement("ReverseOffset"), nullptr);

    TestSensor custom;
    custom.setOriginalScaling({0x80, 0, 1});
    EXPECT_EQ(calibrationError([&] { custom.calcReverseSdt(); }),
              "Custom calibration data format. Cannot reverse SDT static calibration");
    std::vector<unsigned char> singular = sensor.getStaticDefault();
    singular[14] = 0;
    TestSensor broken;
    broken.setOriginalScaling(singular);
    EXPECT_EQ(calibrationError([&] { broken.calcReverseSdt(); }), "Failed to invert SDT data");
}

// Raw readings of a sensor with a known model y = S * A * (r - o): r = (S A)^-1 y + o.
std::vector<Vector> rawReadings(const Matrix& sa, const Vector& offset, const std::vector<Vector>& expected) {
    std::vector<Vector> raw;
    for (const Vector& y : expected)
        raw.push_back(sa.invert() * y + offset);
    return raw;
}

TEST(Accelerometer, FourPositionsRecoverAKnownCalibration) {
    const std::vector<Vector> gravity = {vec({0, 0, 1}), vec({0, 1, 0}), vec({1, 0, 0}), vec({0, -1, 0})};
    struct Case {
        Matrix scale;
        Vector offset;
        double noise;
        double tolerance;
    };
    const Case cases[] = {
        {Matrix::Identity(3), vec({0, 0, 0}), 0.0, 1e-9},
        {Matrix::Identity(3) / 1.02, vec({0.01, -0.02, 0.03}), 0.0, 1e-9},
        {Matrix(3, 3, {1.03, 0.01, -0.02, 0.0, 0.97, 0.01, 0.015, 0.0, 1.01}), vec({0.04, 0.02, -0.05}), 0.0005, 2e-4},
    };
    for (const Case& c : cases) {
        TestSensor sensor;
        const std::vector<double> times = addSteps(sensor, rawReadings(c.scale, c.offset, gravity), c.noise);
        FakeManager manager(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 4, times);
        sensor.SetSensManager(&manager);
        sensor.calibrate();
        EXPECT_TRUE(MatrixNear(sensor.getScale() * sensor.getAxisMapping(), c.scale, c.tolerance));
        EXPECT_TRUE(VectorNear(sensor.getOffset(), c.offset, c.tolerance));
        EXPECT_EQ(sensor.getAxisMapping(), Matrix::Identity(3));
        EXPECT_EQ(sensor.getScaling().size(), 40u);
        EXPECT_STREQ(sensor.getLogRoot()->Attribute("Success"), "true");
    }
}

TEST(Accelerometer, WrongPositionFailsWithItsReason) {
    TestSensor sensor;
    // Step 2 repeats step 1 instead of lying on its side.
    const std::vector<Vector> readings = {vec({0, 0, 1}), vec({0, 1, 0}), vec({0, 1, 0}), vec({0, -1, 0})};
    FakeManager manager(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 4, addSteps(sensor, readings, 0.0005));
    sensor.SetSensManager(&manager);
    const std::string error = calibrationError([&] { sensor.calibrate(); });
    EXPECT_EQ(error.rfind("Calibration failed for sensor Accelerometer. Reason: ", 0), 0u) << error;
    EXPECT_NE(sensor.getLogRoot()->Attribute("FailureParameter"), nullptr);
    EXPECT_STREQ(sensor.getLogRoot()->Attribute("Success"), "false");
    EXPECT_TRUE(sensor.getScaling().empty());
}

TEST(Accelerometer, OffsetAndScaleFailuresReportTheFirstParameter) {
    TestSensor sensor;
    FakeManager manager(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 4, {});
    sensor.SetSensManager(&manager);
    sensor.setLimitsForTest();
    sensor.initStaticStates();
    sensor.calcExpected();
    sensor.setModel(Matrix::Identity(3) * 2, vec({0.5, 0, 0}), Matrix::Identity(3));
    sensor.setMeans(Matrix(4, 3, {0.5, 0, 0.5, 0.5, 0.5, 0, 1, 0, 0, 0.5, -0.5, 0}));
    const std::string error = calibrationError([&] { sensor.checkSuccess(); });
    EXPECT_EQ(error.rfind("Calibration failed for sensor Accelerometer. Reason: Calculated offset is too high.\n"
                          "Calculated scale is too high.\n",
                          0),
              0u)
        << error;
    EXPECT_STREQ(sensor.getLogRoot()->Attribute("FailureParameter"), "Offset");
}

TEST(Accelerometer, ThreePositions) {
    // Flow 2: face up, left side down, top up, face up again.
    const std::vector<Vector> gravity = {vec({0, 0, 1}), vec({-1, 0, 0}), vec({0, 1, 0}), vec({0, 0, 1})};
    const Vector offset = vec({0.02, -0.01, 0.03});
    std::vector<Vector> raw;
    for (const Vector& g : gravity)
        raw.push_back(Vector::multiplyElements(g, vec({1 / 1.01, 1 / 0.98, 1 / 1.02})) + offset);
    TestSensor sensor;
    FakeManager manager(FLOW_FOUR_STEPS, PROCESS_INERTIAL_CALIBRATION, 4, addSteps(sensor, raw, 0.0005));
    sensor.SetSensManager(&manager);
    sensor.calibrate();
    EXPECT_TRUE(VectorNear(sensor.getOffset(), offset, 5e-4));
    EXPECT_TRUE(MatrixNear(sensor.getScale(), Matrix(3, 3, {1.01, 0, 0, 0, 0.98, 0, 0, 0, 1.02}), 2e-3));
    EXPECT_EQ(sensor.getAxisMapping(), Matrix::Identity(3));

    // Step 1 turned the other way round: the mapping no longer matches the firmware's.
    std::vector<Vector> wrong = raw;
    wrong[1] = vec({1, 0, 0});
    TestSensor checked;
    FakeManager manager2(FLOW_FOUR_STEPS, PROCESS_INERTIAL_CALIBRATION, 4, addSteps(checked, wrong, 0.0005));
    checked.SetSensManager(&manager2);
    checked.setOriginalScaling(checked.getStaticDefault());
    checked.SetNeedCheckAxisMappingVsOrig(true);
    EXPECT_EQ(calibrationError([&] { checked.calibrate(); }),
              "Calibration failed for all sensors. Reason: wrong movement detected");
    EXPECT_STREQ(checked.getLogRoot()->Attribute("FailureParameter"), "AxisMapping");

    // Two steps on the same axis leave no mapping to solve.
    wrong[1] = vec({0, 0, -1});
    TestSensor singular;
    FakeManager manager3(FLOW_FOUR_STEPS, PROCESS_INERTIAL_CALIBRATION, 4, addSteps(singular, wrong, 0.0005));
    singular.SetSensManager(&manager3);
    EXPECT_EQ(calibrationError([&] { singular.calibrate(); }), "Math Exception in Accelerometer");
}

TEST(Accelerometer, FaceUpCalibrationMovesTheOffsetOnly) {
    TestSensor sensor;
    FakeManager manager(FLOW_MINIMAL, PROCESS_INERTIAL_CALIBRATION, 1, {});
    sensor.SetSensManager(&manager);
    std::vector<unsigned char> firmware = sensor.getStaticDefault();
    firmware[38] = 1;
    firmware.push_back(0x77);
    sensor.setOriginalScaling(firmware);
    std::mt19937 rng(3);
    std::normal_distribution<double> n(0, 0.002);
    for (int i = 0; i < 500; ++i) {
        SensorData d(i * 10.0, {0.03 + n(rng), -0.01 + n(rng), 1.02 + n(rng)});
        sensor.dataRecieved(d);
    }
    EXPECT_TRUE(sensor.getBufferedData().empty());
    EXPECT_EQ(sensor.getBufferedDataSize(), 500u);
    sensor.calibrate();
    const std::vector<unsigned char>& record = sensor.getScaling();
    ASSERT_EQ(record.size(), 41u);
    EXPECT_NEAR(xmlutil::readI32(record, 2), 30000, 500);
    EXPECT_NEAR(xmlutil::readI32(record, 6), -10000, 500);
    EXPECT_NEAR(xmlutil::readI32(record, 10), 20000, 500);
    EXPECT_EQ(std::vector<unsigned char>(record.begin() + 14, record.end()),
              std::vector<unsigned char>(firmware.begin() + 14, firmware.end()));

    TestSensor upsideDown;
    upsideDown.SetSensManager(&manager);
    for (int i = 0; i < 100; ++i) {
        SensorData d(i * 10.0, {0, 0, -1});
        upsideDown.dataRecieved(d);
    }
    EXPECT_EQ(calibrationError([&] { upsideDown.calibrate(); }),
              "Calibration failed for sensor Accelerometer. Reason: Calculated offset is too high. Check that axis "
              "mapping is correct. Note That per-model calibration is a prerequisite for running a Face Up "
              "calibration.\n");
}

TEST(Accelerometer, TestsOfAnExistingCalibration) {
    struct Case {
        std::vector<Vector> readings;
        bool passes;
        std::string report;
    };
    const Case cases[] = {
        {{vec({0, 0, 1}), vec({0, 1, 0}), vec({1, 0, 0}), vec({0, -1, 0})}, true, ""},
        // A small error on step 0 beyond the 0.1 g threshold.
        {{vec({0, 0, 1.2}), vec({0, 1, 0}), vec({1, 0, 0}), vec({0, -1, 0})}, false, "1\tAccelerometer: Check Calibration\n"},
        // A middle step 0.2 g off passes with the hand-held factor.
        {{vec({0, 0, 1}), vec({0, 1.2, 0}), vec({1, 0, 0}), vec({0, -1, 0})}, true, ""},
        // The last step, like the first, is not hand-held: 0.2 g off fails.
        {{vec({0, 0, 1}), vec({0, 1, 0}), vec({1, 0, 0}), vec({0, -1.2, 0})}, false,
         "1\tAccelerometer: Check Calibration\n"},
        // Step 2 points 90 degrees away: wrong position.
        {{vec({0, 0, 1}), vec({0, 1, 0}), vec({0, 0, 1}), vec({0, -1, 0})}, false,
         "2\tAccelerometer: Check Axis Mapping\n"},
    };
    for (const Case& c : cases) {
        TestSensor sensor;
        FakeManager manager(FLOW_FULL, PROCESS_CALIBRATION_TEST, 4, addSteps(sensor, c.readings, 0.001));
        sensor.SetSensManager(&manager);
        testing::internal::CaptureStdout();
        EXPECT_EQ(sensor.testCalibration(), c.passes);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(manager.report(), c.report) << printed;
    }
}

TEST(Accelerometer, ExpectationsFollowTheHinge) {
    TestSensor lid(1);
    FakeManager manager(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 4, {});
    lid.SetSensManager(&manager);
    lid.setHingeConfig("LEFT");
    lid.initStaticStates();
    lid.calcExpected();
    EXPECT_EQ(lid.getExpectedResults()[1], vec({-1, 0, 0}));
    EXPECT_EQ(lid.getExpectedResults()[0], vec({0, 0, -1}));
    FakeManager four(FLOW_FOUR_STEPS, PROCESS_INERTIAL_CALIBRATION, 4, {});
    TestSensor primary;
    primary.SetSensManager(&four);
    primary.initStaticStates();
    primary.calcExpected();
    EXPECT_EQ(primary.getExpectedResults()[1], vec({-1, 0, 0}));
    EXPECT_EQ(primary.getExpectedResults()[3], vec({0, 0, 1}));
}

TEST(InertialCore, SpikesAnglesAndRanges) {
    TestSensor sensor;
    addSamples(sensor, {{1, vec({0, 0, 1})}, {2, vec({0, 0, 1.6})}, {3, vec({0, 0, 1})}, {4, vec({0, 0, 1})}});
    FakeManager manager(FLOW_FULL, PROCESS_CALIBRATION_TEST, 1, {0, 10});
    sensor.SetSensManager(&manager);
    EXPECT_EQ(sensor.ComputeSpikesCounter(0, 0.5), 1);
    // "max_spikes_allowed" (3) spikes in a step pass the step's test, one more fails it.
    for (const int spikes : {3, 4}) {
        TestSensor spiky;
        for (int i = 0; i < 100; ++i)
            addSamples(spiky, {{10.0 * i, vec({0, 0, i % 20 == 5 && i / 20 < spikes ? 1.6 : 1.0})}});
        FakeManager one(FLOW_FULL, PROCESS_CALIBRATION_TEST, 1, {-1, 2000});
        spiky.SetSensManager(&one);
        spiky.setSteps(1);
        spiky.initStaticStates();
        spiky.setExpected(Matrix(1, 3, {0, 0, 1}));
        spiky.ComputeStaticSegmentsMeans();
        spiky.ComputeStaticSegmentsStds();
        ASSERT_EQ(spiky.ComputeSpikesCounter(0, 0.5), spikes);
        testing::internal::CaptureStdout();
        EXPECT_EQ(spiky.TestAverage(1.0, 1.0, 0.5), spikes == 3) << spikes << " spikes";
        testing::internal::GetCapturedStdout();
    }
    EXPECT_TRUE(sensor.AssertAngle(vec({359}), vec({1}), 5, "here", ""));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(sensor.AssertDouble(1.5, 1.0, 0.1, "here", "g"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error in here\nError in double assert. Value: 1.5 Expected value: 1.000000 distance is bigger than "
              "threshold of 0.1 g\n\n");

    TestSensor still;
    for (int i = 0; i < 300; ++i)
        addSamples(still, {{10.0 * i, vec({0, 0, 1 + (i % 2) * 0.001})}});
    EXPECT_EQ(still.findBufferRange(1000.0).first, 199);
    EXPECT_EQ(still.findBufferRange(1000.0).last, 299);
    EXPECT_EQ(still.findBufferRange(-50.0, 100.0).first, 0);
    EXPECT_TRUE(still.ISmotionless(true));
    EXPECT_NEAR(still.rangeLimit(), 0.0015, 1e-9);
    EXPECT_TRUE(VectorNear(still.DataMedian(), vec({0, 0, 1}), 1e-3));
    // A hold confirmed by its first second runs on to the end of its samples.
    EXPECT_EQ(still.ContinuMotionless(1000), 1900.0);
    TestSensor one;
    addSamples(one, {{0, vec({0, 0, 1})}});
    EXPECT_EQ(one.ContinuMotionless(0), 0.0);
    EXPECT_EQ(TestSensor().findBufferRange(10.0).first, -1);

    TestSensor moving;
    for (int i = 0; i < 200; ++i)
        addSamples(moving, {{10.0 * i, vec({0, std::sin(i * 0.1), 1})}});
    EXPECT_FALSE(moving.ISmotionless(false));
}

TEST(InertialCore, ResultsAndErrorReport) {
    TestSensor lid(1);
    lid.setModel(Matrix::Identity(3), vec({1, 2, 3}), Matrix::Identity(3));
    EXPECT_EQ(lid.getResult().rfind("Second Accelerometer Offset:\n  1.000000   2.000000   3.000000 \n", 0), 0u);

    FakeManager m(FLOW_FULL, PROCESS_CALIBRATION_TEST, 0, {});
    m.AddError(ErrorType::Calibration, "Accelerometer");
    m.AddError(ErrorType::AxisMapping, "Accelerometer");
    m.AddError(ErrorType::Calibration, "Accelerometer");
    EXPECT_EQ(m.report(), "2\tAccelerometer: Check Axis Mapping\n");
    m.AddError(ErrorType::Calibration, "Magnetometer");
    m.AddError(ErrorType::AxisMapping, "Magnetometer");
    EXPECT_EQ(m.report(), "3\tGeneral: Check Movement or Axis Mapping\n");
    m.AddError(ErrorType::Calibration, "Gyroscope");
    EXPECT_EQ(m.report(), "3\tGeneral: Check Movement or Axis Mapping\n");
}

TEST(InertialCore, GyroscopeRotationPredictsTheSensorsChange) {
    // The device turns 90 degrees about x in one second; the gyroscope sees it,
    // the accelerometer's gravity moves from z to -y... or stays when the rate is wrong.
    for (double rateScale : {1.0, 0.0}) {
        auto acc = std::make_shared<TestSensor>();
        auto gyro = std::make_shared<TestSensor>();
        acc->setModel(Matrix::Identity(3), Vector(3), Matrix::Identity(3));
        gyro->setModel(Matrix::Identity(3), Vector(3), Matrix::Identity(3));
        acc->setMeans(Matrix(4, 3, {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1}));
        for (int i = 0; i <= 100; ++i) {
            const double angle = (M_PI / 2) * i / 100.0;
            acc->getBufferedData().emplace_back(10.0 * i, std::vector<double>{0, std::sin(angle), std::cos(angle)});
            gyro->getBufferedData().emplace_back(10.0 * i, std::vector<double>{90.0 * rateScale, 0, 0});
        }
        const double error = InertialSensor::findGyroRotation(acc, -1, 1000, gyro, 0, Matrix::Identity(3));
        if (rateScale == 1.0) {
            EXPECT_LT(error, 0.02);
        } else {
            EXPECT_GT(error, 0.1);
        }
    }
    auto empty = std::make_shared<TestSensor>();
    EXPECT_EQ(calibrationError([&] { InertialSensor::findGyroRotation(empty, 0, 10, empty, 0, Matrix::Identity(3)); }),
              "buffered data of sensorAccelerometer is empty");
}

TEST(InertialCore, OlderSuccessCriteriaOnlyFlagTheExpectedError) {
    TestSensor sensor;
    FakeManager manager(FLOW_FOUR_STEPS, PROCESS_INERTIAL_CALIBRATION, 4, {});
    sensor.SetSensManager(&manager);
    sensor.setLimitsForTest();
    sensor.setModel(Matrix::Identity(3), vec({0, 0, 0}), Matrix::Identity(3));
    sensor.setExpected(Matrix(4, 3, {0, 0, 1, -1, 0, 0, 0, 1, 0, 0, 0, 1}));
    // All steps read the same: norms agree, but every step but the first is far from its expectation.
    const Matrix averages(4, 3, {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1});
    EXPECT_NO_THROW(sensor.checkSuccess(averages));
    EXPECT_STREQ(sensor.getLogRoot()->Attribute("FailureParameter"), "expected error");
    EXPECT_STREQ(sensor.getLogRoot()->Attribute("Success"), "true");
    EXPECT_THROW(sensor.getBuferedDataRange(0, 0), CalibrationException);
}

}  // namespace

// How much longer the samples must last for the records to promise the
// tolerance at a tenth of the risk the run allows: the noise's share of each
// element shrinks as the square root of their number, the allowance stays.
TEST(InertialSensor, SamplesLongEnoughForTheTolerance) {
    struct Case {
        const char* what;
        CalibrationFlowType flow;
        double offsetSigma;  // each axis's, mg (negative: not determined)
        double scaleSigma;   // each axis's scale (the diagonal), percent
        double longer;       // 0: no length up to a hundred times would do
    };
    // Three elements within their tolerance (3 mg, 0.3 %) at one in ten
    // thousand; the full flow's allowance: 0.15 mg, 0.03 % of each axis's scale.
    const double z = InertialSensor::sigmasForRisk(3, 1e-4);
    const double offsets = 3.0 / z, scales = 0.3 / z, allowed = 0.15, allowedScale = 0.03;
    const Case cases[] = {
        {"already long enough", FLOW_FULL, 0.5, 0.05, 1.0},
        {"the face-up flow's offsets, no allowance, its scale not promised", FLOW_MINIMAL, 2.0, 0.5,
         4.0 / (offsets * offsets)},
        {"the offsets, the allowance staying", FLOW_FULL, std::sqrt(4.0 + allowed * allowed), 0.0,
         4.0 / (offsets * offsets - allowed * allowed)},
        {"the scale, where it risks more", FLOW_FULL, 0.5, std::sqrt(0.01 + allowedScale * allowedScale),
         0.01 / (scales * scales - allowedScale * allowedScale)},
        {"no length would do", FLOW_FULL, 40.0, 0.0, 0.0},
        {"no offsets determined: the scale alone", FLOW_FULL, -1.0, std::sqrt(0.01 + allowedScale * allowedScale),
         0.01 / (scales * scales - allowedScale * allowedScale)},
    };
    for (const Case& c : cases) {
        FakeManager manager(c.flow, PROCESS_INERTIAL_CALIBRATION, 4);
        TestSensor s;
        s.SetSensManager(&manager);
        s.setModel(Matrix::Identity(3), Vector(3), Matrix::Identity(3));
        InertialSensor::Precision p;
        if (c.offsetSigma >= 0) {
            p.offsetElements = Vector(std::vector<double>{c.offsetSigma, c.offsetSigma, c.offsetSigma}) * 0.001;
            p.offset = c.offsetSigma * 0.001;
        }
        p.scaleElements = Matrix(3, 3);
        for (int i = 0; i < 3; ++i)
            p.scaleElements[i][i] = c.scaleSigma * 0.01;
        p.scale = c.scaleSigma * 0.01;
        s.setPrecision(p);
        EXPECT_NEAR(s.samplesLongerBy(), c.longer, 0.01 * std::max(1.0, c.longer)) << c.what;
    }
}

TEST(InertialSensor, BufferRangeInAndOutOfTimeOrder) {
    struct Case {
        std::vector<double> times;
        double start, window;
        int first, last;
    };
    const Case cases[] = {
        // In time order (found by bisection), equal times take the newest.
        {{0, 10, 20, 20, 30, 40}, 20, 15, 3, 4},
        {{0, 10, 20, 30}, -5, 100, 0, 3},
        {{0, 10, 20, 30}, 35, 10, 3, 3},
        {{5, 10}, 0, 1, 0, -1},
        // Times that start again (a dump whose steps restart at 0): the
        // newest matching samples, as a backward scan finds them.
        {{0, 10, 20, 0, 10, 20}, 10, 5, 4, 4},
        {{0, 10, 20, 0, 10, 20}, 15, 100, 4, 5},
    };
    for (const Case& c : cases) {
        TestSensor sensor;
        for (double t : c.times)
            sensor.getBufferedData().emplace_back(t, std::vector<double>{0, 0, 1});
        const BufferRange range = sensor.findBufferRange(c.start, c.window);
        EXPECT_EQ(range.first, c.first) << c.start << " " << c.window;
        EXPECT_EQ(range.last, c.last) << c.start << " " << c.window;
        // The same buffer grown by one sample answers as a fresh look would.
        sensor.getBufferedData().emplace_back(c.times.back() + 1000, std::vector<double>{0, 0, 1});
        EXPECT_EQ(sensor.findBufferRange(c.start, c.window).first, c.first);
    }
}

// A hold runs on while every later second is as still as the one that
// confirmed it: a spread of exactly 1.5 times its spread runs on, a hair more
// ends it, whether the windows move through a buffer in time order or are
// measured one by one in a buffer out of it.
TEST(InertialSensor, HoldRunsOnWhileStillAsItsFirstSecond) {
    struct Case {
        double low, high;  // two readings 10 ms apart at 3 s
        bool ordered;
        double extension;
    };
    const Case cases[] = {
        {-0.5, 2.5, true, 4900},
        {-0.5, 2.5 + 1e-9, true, 1000},
        {-0.5, 2.5, false, 4900},
        {-0.5, 2.5 + 1e-9, false, 1000},
    };
    for (const Case& c : cases) {
        TestSensor sensor;
        std::vector<SensorData>& buffer = sensor.getBufferedData();
        if (!c.ordered)
            buffer.emplace_back(-5.0, std::vector<double>{1, 0, 1});
        for (int i = 0; i < 600; ++i) {
            const double t = 10.0 * i;
            double x = 1;
            if (t == 200 || t == 400)
                x = 0;
            if (t == 300 || t == 500)
                x = 2;  // the first second spreads 2
            if (t == 3000)
                x = c.low;
            if (t == 3010)
                x = c.high;
            buffer.emplace_back(t, std::vector<double>{x, 0, 1});
        }
        if (!c.ordered)
            std::swap(buffer[0], buffer[1]);
        EXPECT_EQ(sensor.ContinuMotionless(1000), c.extension) << c.high << (c.ordered ? " ordered" : " unordered");
    }
}

TEST(InertialCore, DiagonalEndKeepsEachScaleOnItsAxis) {
    // The scales a gyroscope's turns give, with a little cross-talk: whatever
    // their order, each stays on its own axis and the axis mapping is found
    // first (a sign or a swap of axes comes out in the mapping, not the scale).
    struct Case {
        Matrix scale;
        Vector diagonal;
        Matrix mapping;
    };
    const Case cases[] = {
        {Matrix(3, 3, {1.2, 0.01, -0.02, 0.015, 0.95, 0.01, -0.01, 0.02, 1.05}), vec({1.2, 0.95, 1.05}),
         Matrix::Identity(3)},
        {Matrix(3, 3, {0.9, 0, 0, 0, 1.1, 0, 0, 0, 1.0}), vec({0.9, 1.1, 1.0}), Matrix::Identity(3)},
        {Matrix(3, 3, {1.05, 0, 0, 0, 1.0, 0, 0, 0, 0.95}), vec({1.05, 1.0, 0.95}), Matrix::Identity(3)},
        {Matrix(3, 3, {0, 0.8, 0, 1.3, 0, 0, 0, 0, -1.0}), vec({0.8, 1.3, 1.0}),
         Matrix(3, 3, {0, 1, 0, 1, 0, 0, 0, 0, -1})},
        // Quarter turns by hand, each a degree or so off its axis (the
        // device placed off about the vertical): the cross-talk is no scale,
        // where the singular values would make it 1.5 %.
        {Matrix(3, 3, {0.99767231, -0.00878942, 0.01192368, -0.0159138, 0.99791245, -0.00850197, -0.01836264,
                       0.00906564, 0.99836457}),
         vec({0.99767231, 0.99791245, 0.99836457}), Matrix::Identity(3)},
    };
    for (const Case& c : cases) {
        TestSensor sensor;
        sensor.setModel(c.scale, vec({0, 0, 0}), Matrix(3, 3));
        sensor.endCalibration(true);
        EXPECT_EQ(sensor.getAxisMapping(), c.mapping) << c.scale.print();
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                EXPECT_NEAR(sensor.getScale()[i][j], i == j ? c.diagonal[i] : 0.0, 1e-9)
                    << c.scale.print() << i << j;
    }
}
