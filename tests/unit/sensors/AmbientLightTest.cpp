// The light sensor's sample intake and calibration on worked examples.
#include <gtest/gtest.h>

#include <functional>

#include "AmbientLight.h"
#include "Exceptions.h"
#include "FakeRun.h"
#include "SensorManager.h"
#include "ScriptedConsole.h"

namespace {

class TestLight : public AmbientLight {
public:
    TestLight() : AmbientLight(_sc_sensor_luid{65, 2, 1, 0, 0}) {}
    void keepFirmwareRecord(const std::vector<unsigned char>& record) { storeOriginalScaling(record); }
};

// Feeds each level's readings (after two priming samples) and returns the
// segment indexes of the levels: 50 samples each, of which the median filter
// carries the first two over from the level before.
std::vector<int> feed(AmbientLight& light, const std::vector<double>& readings) {
    std::vector<int> indexes;
    double t = 0;
    for (int i = 0; i < 2; ++i, t += 20) {
        SensorData s(t, {readings.front()});
        light.dataRecieved(s);
    }
    for (double r : readings) {
        indexes.push_back(static_cast<int>(light.getBufferedData().size()) + 2);
        for (int i = 0; i < 50; ++i, t += 20) {
            SensorData s(t, {r});
            light.dataRecieved(s);
        }
        indexes.push_back(static_cast<int>(light.getBufferedData().size()) - 1);
    }
    return indexes;
}

}  // namespace

TEST(AmbientLight, KnownGainGivesItsScale) {
    struct Case {
        std::vector<int> levels;
        double gain;
        double multiplier, divider;
        std::string stages;
    };
    const Case cases[] = {
        {{100, 1000}, 0.5, 200, 100, "Stage 1 multiplier is 2.000000\nStage 2 multiplier is 2.000000\n"},
        {{100, 500, 1000}, 0.8, 125, 100, ""},
    };
    for (const Case& c : cases) {
        ScriptedConsole console;
        TestLight light;
        std::vector<double> readings;
        for (int level : c.levels) {
            light.addLightLevel(level);
            readings.push_back(level * c.gain);
        }
        FakeManager manager(FLOW_FULL, PROCESS_ALS_CALIBRATION, 0);
        manager.setSegmentIndexes(feed(light, readings));
        light.SetSensManager(&manager);
        light.calibrate();
        EXPECT_EQ(light.getMultiplier(), c.multiplier);
        EXPECT_EQ(light.getAlsDivider(), c.divider);
        const std::vector<unsigned char>& record = light.getScaling();
        ASSERT_EQ(record.size(), 66u);
        EXPECT_EQ(record[0], 1);
        EXPECT_EQ(record[2] | record[3] << 8, static_cast<int>(c.multiplier));
        EXPECT_EQ(record[4], static_cast<int>(c.divider));
        EXPECT_EQ(record[5], 1);
        if (!c.stages.empty()) {
            EXPECT_EQ(console.output, c.stages);
        }
        EXPECT_EQ(light.getResult(), "Multiplier: " + std::to_string(c.multiplier) + "\nDivider: " +
                                         std::to_string(c.divider) + "\nMultiplier/Divider: " +
                                         std::to_string(c.multiplier / c.divider) + "\n");
    }
}

TEST(AmbientLight, FailedCalibrations) {
    struct Case {
        std::vector<int> levels;
        std::vector<double> readings;
        std::string error;
    };
    const Case cases[] = {
        {{100, 500}, {50, 0}, "Invalid light level of 0 was measured"},
        {{100, 500}, {50, -2}, "Invalid light level of -2.000000 was measured"},
        {{100, 1000}, {0.4, 500}, "Invalid multiplier 250.000000 was calculated"},
        {{70000, 140000}, {100, 200}, "Invalid multiplier 700.000000 was calculated"},
    };
    for (const Case& c : cases) {
        ScriptedConsole console;
        TestLight light;
        for (int level : c.levels)
            light.addLightLevel(level);
        FakeManager manager(FLOW_FULL, PROCESS_ALS_CALIBRATION, 0);
        manager.setSegmentIndexes(feed(light, c.readings));
        light.SetSensManager(&manager);
        EXPECT_EQ(calibrationError([&] { light.calibrate(); }), c.error);
        EXPECT_TRUE(light.getScaling().empty()) << c.error;
    }
    // Levels without their segments.
    TestLight light;
    light.addLightLevel(100);
    FakeManager manager(FLOW_FULL, PROCESS_ALS_CALIBRATION, 0);
    light.SetSensManager(&manager);
    EXPECT_EQ(calibrationError([&] { light.calibrate(); }),
              "AmbientLightSensor Calibration Error: Failed splitting data to segments");
}

TEST(AmbientLight, FirmwareRecordKeepsAllButTheScale) {
    ScriptedConsole console;
    // Three steps and a vendor block of two bytes.
    const std::vector<unsigned char> firmware = {1, 7, 0x10, 0x27, 50, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                                 2, 0, 0xAB, 0xCD};
    TestLight light;
    light.keepFirmwareRecord(firmware);
    light.addLightLevel(100);
    light.addLightLevel(1000);
    FakeManager manager(FLOW_FULL, PROCESS_ALS_CALIBRATION, 0);
    manager.setSegmentIndexes(feed(light, {50, 500}));
    light.SetSensManager(&manager);
    light.calibrate();
    std::vector<unsigned char> expected = firmware;
    expected[2] = 200;
    expected[3] = 0;
    expected[4] = 100;
    EXPECT_EQ(light.getScaling(), expected);

    // The firmware's scale 10000/50 = 200 is undone on incoming samples.
    light.calcReverseSdt();
    SensorData s(0, {400});
    light.reverseStaticCalibration(s);
    EXPECT_DOUBLE_EQ(s.values[0], 2);

    TestLight none;
    EXPECT_EQ(calibrationError([&] { none.calcReverseSdt(); }),
              "No calibration entry exists for AmbientLight. Original entry must exist");
    TestLight custom;
    custom.keepFirmwareRecord({0x81, 0, 1, 2});
    EXPECT_EQ(calibrationError([&] { custom.calcReverseSdt(); }),
              "Custom calibration data format. Cannot reverse SDT static calibration");
}

TEST(AmbientLight, MedianOfThreeAndTheFirstTwoSamples) {
    TestLight light;
    FakeManager manager(FLOW_FULL, PROCESS_ALS_CALIBRATION, 0);
    light.SetSensManager(&manager);
    const double readings[] = {10, 10, 10, 90, 10, 10};
    double t = 0;
    std::vector<bool> accepted;
    for (double r : readings) {
        SensorData s(t += 20, {r});
        accepted.push_back(light.dataRecieved(s));
    }
    EXPECT_EQ(accepted, (std::vector<bool>{false, false, true, true, true, true}));
    ASSERT_EQ(light.getBufferedData().size(), 4u);
    for (const SensorData& s : light.getBufferedData())
        EXPECT_EQ(s.values[0], 10);

    // An operator-driven run drops samples until a level is entered.
    TestLight manual;
    FakeManager operatorRun(FLOW_FULL, PROCESS_ALS_CALIBRATION, 0);
    operatorRun.setManual(true);
    manual.SetSensManager(&operatorRun);
    for (int i = 0; i < 5; ++i) {
        SensorData s(t += 20, {10});
        EXPECT_FALSE(manual.dataRecieved(s));
    }
    manual.setStageInput("300");
    for (int i = 0; i < 3; ++i) {
        SensorData s(t += 20, {10});
        manual.dataRecieved(s);
    }
    EXPECT_EQ(manual.getBufferedData().size(), 1u);
    EXPECT_EQ(manual.getLightLevels(), std::vector<int32_t>{300});
    EXPECT_EQ(calibrationError([&] { manual.setStageInput("3x"); }), "Conversion error. Value 3x is not a valid number");
}
