// Step scripts and the sensor manager, fed with synthetic sample streams.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>

#include "Accelerometer.h"
#include "Exceptions.h"
#include "Magnetometer.h"
#include "Gyroscope.h"
#include "Process.h"
#include "Progress.h"
#include "RunProcess.h"
#include "ScriptedConsole.h"
#include "SensorManager.h"

namespace {

std::shared_ptr<Sensor> accelerometer(uint8_t instance = 0) {
    return Sensor::allocateSensor(_sc_sensor_luid{115, 1, 1, instance, 2});
}
std::shared_ptr<Sensor> magnetometer() {
    return Sensor::allocateSensor(_sc_sensor_luid{527, 8, 4, 0, 2});
}
std::shared_ptr<Sensor> gyroscope() {
    return Sensor::allocateSensor(_sc_sensor_luid{118, 9, 2, 0, 2});
}

std::shared_ptr<NewMotionProcess> motion(CalibrationFlowType flow, std::vector<std::shared_ptr<Sensor>> sensors,
                                         SensorManager& manager) {
    auto process = std::make_shared<NewMotionProcess>(flow);
    process->setType(PROCESS_INERTIAL_CALIBRATION);
    process->initNumOfSteps();
    manager.setSensors(sensors);
    manager.setType(process);
    return process;
}

TEST(MotionScript, InstructionsPerFlow) {
    SensorManager full;
    auto p = motion(FLOW_FULL, {accelerometer(), gyroscope(), magnetometer()}, full);
    EXPECT_EQ(p->getStaticStatesNumber(), 7);
    EXPECT_EQ(p->getStepInstructions(false),
              "Step 1 out of 7.\nPlace the device screen's Z axis directed UP, Y axis directed to North\n"
              "Hold system in current position\nNOTE:\nDevice should be placed in tablet mode, screen facing up\n"
              "Press Enter when done");
    p->moveNextStep();
    EXPECT_EQ(p->getStepInstructions(true),
              "Step 2 out of 7.\nSlowly, rotate the device 360 degrees counterclockwise around Z axis\n"
              "Hold system in current position");
    EXPECT_EQ(p->getSegmentTimes().size(), 14u);

    SensorManager onlyAcc;
    auto four = motion(FLOW_FULL, {accelerometer()}, onlyAcc);
    EXPECT_EQ(four->getStaticStatesNumber(), 4);
    EXPECT_EQ(four->GetCalibrationFlow(), FLOW_STATIC_FOUR_POSITIONS);
    EXPECT_EQ(four->getStepInstructions(true),
              "Step 1 out of 4.\nPlace the device screen's Z axis directed UP, Y axis directed to North\n"
              "Hold system in current position\nNOTE:\nDevice should be placed in tablet mode, screen facing up\n");

    SensorManager minimal;
    EXPECT_EQ(motion(FLOW_MINIMAL, {accelerometer()}, minimal)->getStepInstructions(true).rfind(
                  "Step 1 out of 1.\nPlace the device screen's Z axis directed UP\nHold", 0),
              0u);
    SensorManager minimalMag;
    EXPECT_EQ(motion(FLOW_MINIMAL, {accelerometer(), magnetometer()}, minimalMag)->getStepInstructions(true).substr(17, 70),
              "Place the device screen's Z axis directed UP, Y axis directed to North");

    SensorManager steps;
    auto fs = motion(FLOW_FOUR_STEPS, {accelerometer()}, steps);
    fs->moveNextStep();
    EXPECT_EQ(fs->getStepInstructions(false),
              "Step 2 out of 4.\nSlowly, rotate the device 90 degrees counterclockwise around Y axis\n"
              "At the end of this stage, the device's X axis directed DOWN\nHold system in current position");
    EXPECT_THROW(fs->getInput(), CalibrationException);
}

TEST(SensorManagerBinding, IndicatorsAndDefaults) {
    SensorManager manager;
    auto process = std::make_shared<PreTestProcess>();
    manager.setSensors({accelerometer()});
    try {
        manager.setType(process);
        ADD_FAILURE();
    } catch (const CalibrationException& e) {
        EXPECT_STREQ(e.what(),
                     "Could not locate sensor Magnetometer for sampling. Magnetometer is mandatory for this calibration "
                     "process");
    }
    SensorManager withoutAcc;
    auto p = std::make_shared<NewMotionProcess>(FLOW_MINIMAL);
    withoutAcc.setSensors({gyroscope()});
    withoutAcc.setType(p);
    ASSERT_EQ(withoutAcc.getSensors().size(), 2u);
    EXPECT_EQ(withoutAcc.getSensors()[1]->getName(), "Accelerometer");
    EXPECT_TRUE(p->isStageIndicator(withoutAcc.getSensors()[1]));

    auto other = std::make_shared<NewMotionProcess>(FLOW_FULL);
    EXPECT_THROW(
        {
            try {
                other->setIndicator(Sensor::allocateSensor(_sc_sensor_luid{65, 0, 0, 0, 0}));
            } catch (const CalibrationException& e) {
                EXPECT_STREQ(e.what(), "AmbientLightSensor is invalid type of stageIndicator");
                throw;
            }
        },
        CalibrationException);
}

// Holds each gravity direction for three seconds, turning for one second between them.
void feedPositions(SensorManager& manager, const std::shared_ptr<Sensor>& sensor, const std::vector<std::vector<double>>& g,
                   double timeOffset = 1000.0) {
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0, 0.0005);
    double t = timeOffset;
    for (size_t p = 0; p < g.size(); ++p) {
        for (int i = 0; i < 300; ++i, t += 10)
            manager.handleData(sensor, t, {g[p][0] + noise(rng), g[p][1] + noise(rng), g[p][2] + noise(rng)});
        if (p + 1 == g.size())
            break;
        for (int i = 1; i <= 100; ++i, t += 10) {
            const double a = i / 100.0;
            manager.handleData(sensor, t,
                               {g[p][0] * (1 - a) + g[p + 1][0] * a, g[p][1] * (1 - a) + g[p + 1][1] * a,
                                g[p][2] * (1 - a) + g[p + 1][2] * a});
        }
    }
}

TEST(MotionScript, StillPositionsEndTheStepsAndCalibrate) {
    SensorManager manager;
    auto acc = accelerometer();
    auto process = motion(FLOW_FULL, {acc}, manager);
    const std::vector<std::vector<double>> gravity = {{0, 0, 1.02}, {0, 1.02, 0}, {1.02, 0, 0}, {0, -1.02, 0}};
    feedPositions(manager, acc, gravity);
    EXPECT_TRUE(process->isDone());
    const std::vector<double> times = process->getSegmentTimes();
    ASSERT_EQ(times.size(), 8u);
    for (size_t s = 0; s < 4; ++s) {
        EXPECT_GE(times[2 * s], 4000.0 * s - 20) << s;
        EXPECT_LE(times[2 * s + 1], 4000.0 * s + 3000.0) << s;
    }
    // The first sample of the stream is the step's time 0.
    EXPECT_EQ(manager.getDataDump().at(acc).front().timestamp, 0.0);
    EXPECT_NO_THROW(manager.checkDataStreamingValidity());
    acc->calibrate();
    auto* inertial = dynamic_cast<InertialSensor*>(acc.get());
    EXPECT_NEAR(inertial->getScale()[0][0], 1 / 1.02, 1e-3);
}

// A gyroscope or magnetometer stand-in: "moving" while its newest sample is large.
class MotionSensor : public InertialSensor {
public:
    MotionSensor(uint16_t type, const char* sensorName) : InertialSensor(_sc_sensor_luid{type, 1, 1, 0, 2}) {
        name = sensorName;
        motionStdLimit = motionRangeLimit = 1.0;
        motionLowerBound = 0.5;
    }
    bool checkMotion(double) override { return !bufferedData.empty() && Vector(bufferedData.back().values).norm() > 10; }
    bool checkMovement() override { return checkMotion(0); }
    bool dataRecieved(SensorData& d) override { return DataReceivedCommon(d); }
    bool getCanCalibrate(ProcessType) override { return true; }
};

TEST(MotionScript, FullFlowWithTurnsUsesFourteenBoundaries) {
    SensorManager manager;
    auto acc = accelerometer();
    auto gyro = std::make_shared<MotionSensor>(118, "Gyroscope");
    auto process = motion(FLOW_FULL, {acc, gyro}, manager);
    ASSERT_EQ(process->getStaticStatesNumber(), 7);
    // Positions of the full flow, each held 3 s, with a 360 degree turn in place
    // (the gyroscope reads 180 deg/s for 2 s) and a move to the next position.
    const std::vector<std::vector<double>> g = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {0, -1, 0}};
    double t = 1000;
    auto hold = [&](const std::vector<double>& up, double seconds) {
        for (int i = 0; i < seconds * 100; ++i, t += 10) {
            manager.handleData(acc, t, up);
            manager.handleData(gyro, t, {0, 0, 0});
        }
    };
    for (size_t p = 0; p < g.size(); ++p) {
        hold(g[p], 3);
        if (p + 1 == g.size())
            break;
        for (int i = 0; i < 200; ++i, t += 10) {
            manager.handleData(acc, t, g[p]);
            manager.handleData(gyro, t, {0, 0, 180});
        }
        hold(g[p], 3);
        for (int i = 0; i < 100; ++i, t += 10) {  // to the next position
            const double a = i / 100.0;
            manager.handleData(acc, t, {g[p][0] * (1 - a) + g[p + 1][0] * a, g[p][1] * (1 - a) + g[p + 1][1] * a,
                                        g[p][2] * (1 - a) + g[p + 1][2] * a});
            manager.handleData(gyro, t, {50, 50, 0});
        }
    }
    EXPECT_TRUE(process->isDone());
    const std::vector<double> times = process->getSegmentTimes();
    ASSERT_EQ(times.size(), 14u);
    for (size_t i = 0; i + 1 < times.size(); ++i)
        EXPECT_LE(times[i], times[i + 1]) << i;
}

// The first position and turn of the full flow: Z up, held 3 s, a turn about
// the device's axis (degrees over 2 s, tilting gravity by up to `tilt`
// degrees), held 3 s. The magnetometer sees a 480 mG field with a dip of 62
// degrees and a hard iron of (50, -30, 20) mG, and reads it with a noise of
// `noise` up, down and none in turn (whose median over a window is the field).
void feedFirstTurn(SensorManager& manager, const std::shared_ptr<Sensor>& acc, const std::shared_ptr<Sensor>& gyro,
                   const std::shared_ptr<Sensor>& mag, double degrees, double tilt, double seconds = 2,
                   double noise = 0) {
    const double kDeg = 3.14159265358979323846 / 180;
    const double horizontal = 480 * std::cos(62 * kDeg), down = -480 * std::sin(62 * kDeg);
    double t = 1000, heading = 0;
    int count = 0;
    auto sample = [&](double rate, double tiltNow) {
        manager.handleData(acc, t, {0, std::sin(tiltNow * kDeg), std::cos(tiltNow * kDeg)});
        manager.handleData(gyro, t, {0.5, -0.3, 0.2 + rate});
        // The device turns counterclockwise: the field turns the other way in it.
        const double n = noise * (count++ % 3 - 1);
        manager.handleData(mag, t, {50 - horizontal * std::sin(-heading * kDeg) + n,
                                    -30 + horizontal * std::cos(-heading * kDeg) + n, 20 + down + n});
        t += 10;
    };
    for (int i = 0; i < 300; ++i)
        sample(0, 0);
    const int n = static_cast<int>(seconds * 100);
    for (int i = 0; i < n; ++i) {
        heading += degrees / n;
        sample(degrees / seconds, tilt * std::sin(3.14159265358979323846 * i / n));
    }
    for (int i = 0; i < 300; ++i)
        sample(0, 0);
}

TEST(MotionScript, FullFlowTurnsAreChecked) {
    struct Case {
        double degrees, tilt, seconds;
        bool watch;  // the magnetometer only watches (not selected)
        std::string error;
        double noise = 0;  // the magnetometer's, mG
    };
    const Case cases[] = {
        {360, 0, 2, true, ""},
        {360, 0, 2, false, ""},
        {364, 10, 2, true, ""},
        // A noisy magnetometer's medians are known to 1.5 mG each: 6.3 degrees
        // off is within four of their joint deviations past the tolerance (7.1
        // degrees; one deviation would be 5.5), 7.7 degrees is not.
        {366.5, 0, 2, true, "", 15},
        {368, 0, 2, true,
         "The device did not come back to where it started after the turn about Z in step 2 (7.7 degrees off): "
         "turn exactly 360 degrees",
         15},
        {340, 0, 2, true,
         "The device did not come back to where it started after the turn about Z in step 2 (20.0 degrees off): "
         "turn exactly 360 degrees"},
        {380, 0, 2, false,
         "The device did not come back to where it started after the turn about Z in step 2 (20.0 degrees off): "
         "turn exactly 360 degrees"},
        {360, 90, 2, true,
         "The device was not turned about its Z axis in step 2 (gravity moved 89.9 degrees in the device): keep the "
         "Z axis pointing up and turn about it"},
        {360, 0, 0.3, true,
         "The turn about Z in step 2 was too fast (1200.0 degrees per second): turn slowly, over at least two "
         "seconds"},
    };
    for (const Case& c : cases) {
        SensorManager manager;
        auto acc = accelerometer();
        auto gyro = gyroscope();
        auto mag = magnetometer();
        auto process = std::make_shared<NewMotionProcess>(FLOW_FULL);
        process->setType(PROCESS_INERTIAL_CALIBRATION);
        process->initNumOfSteps();
        manager.setSensors(c.watch ? std::vector<std::shared_ptr<Sensor>>{acc, gyro}
                                   : std::vector<std::shared_ptr<Sensor>>{acc, gyro, mag});
        manager.setType(process);
        if (c.watch) {
            manager.addWatcher(mag);
            process->setTurnWatch(std::dynamic_pointer_cast<InertialSensor>(mag));
        }
        ASSERT_TRUE(process->canCheckTurnEnds());
        feedFirstTurn(manager, acc, gyro, mag, c.degrees, c.tilt, c.seconds, c.noise);
        std::string error;
        try {
            // Both steps' ends were reported; the last one says how it went.
            manager.waitForStepFinish(false);
        } catch (const CalibrationException& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.error) << c.degrees << " " << c.tilt;
        EXPECT_EQ(process->getCurrentSegment(), c.error.empty() ? 2 : 1) << c.degrees << " " << c.tilt;
    }
}

TEST(MotionScript, AHoldThatRunsIntoTheNextStepNamesTheStepAndSensors) {
    // A magnetometer that always reports a turn ends each turn step while
    // the device is still held: the first hold's stillness then runs past
    // the start of the next step, and the recording cannot be cut. The
    // samples after the last step do not turn that failure into a success.
    SensorManager manager;
    auto acc = accelerometer();
    auto mag = std::make_shared<MotionSensor>(527, "Magnetometer");
    auto process = motion(FLOW_FULL, {acc, mag}, manager);
    const std::vector<std::vector<double>> g = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}, {0, -1, 0}};
    double t = 1000;
    std::string error;
    for (size_t p = 0; p < g.size(); ++p) {
        for (int i = 0; i < 600; ++i, t += 10) {
            manager.handleData(acc, t, g[p]);
            manager.handleData(mag, t, {20, 0, 0});
        }
        for (int i = 1; i <= 100 && p + 1 < g.size(); ++i, t += 10) {
            const double a = i / 100.0;
            manager.handleData(acc, t, {g[p][0] * (1 - a) + g[p + 1][0] * a, g[p][1] * (1 - a) + g[p + 1][1] * a,
                                        g[p][2] * (1 - a) + g[p + 1][2] * a});
            manager.handleData(mag, t, {20, 0, 0});
        }
    }
    try {
        manager.waitForStepFinish(false);
    } catch (const CalibrationException& e) {
        error = e.what();
    }
    EXPECT_EQ(error, "segmentation error: the hold that ends step 1 runs past the start of step 2 (Accelerometer, "
                     "Magnetometer)");
}

TEST(MotionScript, ProgressOfATurn) {
    // The first hold, the turn about Z and a pause in it: the status line's figures.
    struct Case {
        bool withGyroscope;  // else the magnetometer tells the turn
        double tolerance;
    };
    for (const Case& c : {Case{true, 1.0}, Case{false, 5.0}}) {
        SensorManager manager;
        auto acc = accelerometer();
        auto gyro = gyroscope();
        auto mag = magnetometer();
        auto process = motion(FLOW_FULL, c.withGyroscope ? std::vector<std::shared_ptr<Sensor>>{acc, gyro, mag}
                                                         : std::vector<std::shared_ptr<Sensor>>{acc, mag},
                              manager);
        StepProgress before;
        EXPECT_FALSE(process->fillProgress(before));  // nothing yet
        // Three seconds still, then 180 of the 360 degrees over one second.
        const double kDeg = 3.14159265358979323846 / 180;
        double t = 1000;
        auto sample = [&](double heading, double rate) {
            manager.handleData(acc, t, {0, 0, 1});
            if (c.withGyroscope)
                manager.handleData(gyro, t, {0.5, -0.3, 0.2 + rate});
            manager.handleData(mag, t, {50 - 225 * std::sin(-heading * kDeg), -30 + 225 * std::cos(-heading * kDeg),
                                        -400});
            t += 10;
        };
        for (int i = 0; i < 300; ++i)
            sample(0, 0);
        StepProgress held;
        ASSERT_TRUE(process->fillProgress(held));
        EXPECT_EQ(held.step, 2);
        EXPECT_EQ(held.waitingFor, "the turn");
        EXPECT_EQ(held.turnAxis, "Z");
        EXPECT_EQ(held.turnTarget, 360.0);
        EXPECT_NEAR(held.turnedDegrees, 0.0, 1.0);
        EXPECT_GE(held.motion, 0.0);
        EXPECT_LE(held.motion, 1.0);  // still, against the step's threshold
        for (int i = 1; i <= 100; ++i)
            sample(1.8 * i, 180);
        StepProgress turning;
        ASSERT_TRUE(process->fillProgress(turning));
        EXPECT_EQ(turning.step, 2);
        EXPECT_NEAR(turning.turnedDegrees, 180.0, c.tolerance) << c.withGyroscope;
        EXPECT_GT(turning.motion, 1.0);  // a steady turn moves, though its rates hardly spread
        // On to 270 degrees and stopped there for 0.4 s: still already, while
        // the step waits for a whole second of it to end the turn.
        for (int i = 101; i <= 150; ++i)
            sample(1.8 * i, 180);
        for (int i = 0; i < 40; ++i)
            sample(270, 0);
        StepProgress stopped;
        ASSERT_TRUE(process->fillProgress(stopped));
        EXPECT_EQ(stopped.step, 2);
        EXPECT_EQ(stopped.waitingFor, "holding still") << c.withGyroscope;
        EXPECT_LE(stopped.motion, 1.0) << c.withGyroscope;
        EXPECT_NEAR(stopped.turnedDegrees, 270.0, c.tolerance) << c.withGyroscope;
        // A turn made in strokes: the pause ends nothing, the next stroke adds
        // to what the first turned.
        for (int i = 151; i <= 190; ++i)
            sample(1.8 * i, 180);
        StepProgress stroked;
        ASSERT_TRUE(process->fillProgress(stroked));
        EXPECT_EQ(stroked.step, 2);
        EXPECT_NEAR(stroked.turnedDegrees, 342.0, c.tolerance) << c.withGyroscope;
    }
}

TEST(MotionScript, AClockwiseTurnCountsUpToItsTarget) {
    // The four-steps flow's X step asks for 90 degrees clockwise: a device
    // turned that way counts up towards +90.
    SensorManager manager;
    auto acc = accelerometer();
    auto gyro = gyroscope();
    auto process = motion(FLOW_FOUR_STEPS, {acc, gyro}, manager);
    double t = 1000;
    auto hold = [&](const std::vector<double>& gravity, int samples) {
        for (int i = 0; i < samples; ++i, t += 10) {
            manager.handleData(acc, t, gravity);
            manager.handleData(gyro, t, {0.5, -0.3, 0.2});
        }
    };
    // Z up, X down, Y up: each held, then moved on from.
    hold({0, 0, 1}, 200);
    hold({-1, 0, 0}, 200);
    hold({0, 1, 0}, 200);
    StepProgress before;
    ASSERT_TRUE(process->fillProgress(before));
    ASSERT_EQ(before.step, 4);
    ASSERT_EQ(before.turnAxis, "X");
    // Half of the quarter turn, clockwise about X (from Y up towards Z up).
    const double kDeg = 3.14159265358979323846 / 180;
    for (int i = 1; i <= 50; ++i, t += 10) {
        manager.handleData(acc, t, {0, std::cos(0.9 * i * kDeg), std::sin(0.9 * i * kDeg)});
        manager.handleData(gyro, t, {0.5 - 90, -0.3, 0.2});
    }
    StepProgress turning;
    ASSERT_TRUE(process->fillProgress(turning));
    EXPECT_EQ(turning.turnTarget, 90.0);
    EXPECT_NEAR(turning.turnedDegrees, 45.0, 1.5);
}

TEST(SensorManagerSteps, TheStatusLineCountsDownWhileAStepWaits) {
    ScriptedConsole screen;
    SensorManager manager;
    auto acc = accelerometer();
    auto process = motion(FLOW_FOUR_STEPS, {acc}, manager);
    std::thread reader([&] {
        // Samples arrive, the device is held, but the step does not end yet.
        for (int i = 0; i < 50; ++i) {
            manager.handleData(acc, 1000 + 10.0 * i, {0, 0, 1});
            std::this_thread::sleep_for(std::chrono::milliseconds(14));
        }
        manager.stageDone(true);
    });
    std::string failure;
    try {
        manager.waitForStepFinish(false);
    } catch (const std::exception& e) {
        failure = e.what();
    }
    reader.join();
    EXPECT_EQ(failure, "");
    const std::vector<StepProgress> shown = screen.progressShown();
    ASSERT_FALSE(shown.empty());
    for (const StepProgress& p : shown) {
        EXPECT_EQ(p.step, 1);
        EXPECT_EQ(p.waitingFor, "holding still");
        EXPECT_GE(p.secondsLeft, 59);
        EXPECT_LE(p.secondsLeft, 60);
        EXPECT_TRUE(p.turnAxis.empty());
    }
    (void)process;
}

TEST(MotionScript, MagnetometerFourStepsFollowsTheHeading) {
    SensorManager manager;
    auto mag = std::make_shared<MotionSensor>(527, "Magnetometer");
    auto process = std::make_shared<NewMotionProcess>(FLOW_MAG_FOUR_STEPS);
    process->setType(PROCESS_CALIBRATION_TEST);
    process->initNumOfSteps();
    manager.setSensors({mag});
    manager.setType(process);
    ASSERT_EQ(manager.getSensors().size(), 1u);  // the magnetometer drives this flow
    double t = 1000;
    for (int step = 0; step < 4; ++step) {
        for (int i = 0; i < 300; ++i, t += 10)
            manager.handleData(mag, t, {1, 2, 3});
        for (int i = 0; i < 100 && step < 3; ++i, t += 10)
            manager.handleData(mag, t, {30, 0, 0});
    }
    EXPECT_TRUE(process->isDone());
}

TEST(MotionScript, GuardTimeAfterAChange) {
    SensorManager manager;
    auto acc = accelerometer();
    auto process = motion(FLOW_FOUR_STEPS, {acc}, manager);
    // Still from the first sample: the step is judged 1100 ms after it at the earliest.
    manager.handleData(acc, 500, {0, 0, 1});
    for (double t = 510; t < 1600; t += 10)
        manager.handleData(acc, t, {0, 0, 1});
    EXPECT_EQ(process->getCurrentSegment(), 0);
    manager.handleData(acc, 1600, {0, 0, 1});
    EXPECT_EQ(process->getCurrentSegment(), 1);
    EXPECT_EQ(process->getSegmentTimes()[0], 100.0);
    EXPECT_EQ(process->getSegmentTimes()[1], 1100.0);
}

TEST(MotionScript, MinimalFlowEndsAfterOneSecond) {
    SensorManager manager;
    auto acc = accelerometer();
    auto process = motion(FLOW_MINIMAL, {acc}, manager);
    for (int i = 0; i < 99; ++i)
        manager.handleData(acc, 5000 + 10 * i, {0, 0, 1});
    EXPECT_FALSE(process->isDone());
    manager.handleData(acc, 6000, {0, 0, 1});
    EXPECT_TRUE(process->isDone());
    manager.handleData(acc, 7000, {0, 0});  // wrong value count: dropped
    EXPECT_EQ(manager.getDataDump().at(acc).size(), 100u);
}

// Records the order in which samples reach the script.
class RecordingProcess : public NewMotionProcess {
public:
    RecordingProcess() : NewMotionProcess(FLOW_MINIMAL) {}
    void CalibrationControl(SensorData& sample) override { seen.push_back(sample.values[0]); }
    bool isStageIndicator(const std::shared_ptr<Sensor>&) override { return true; }
    std::vector<double> seen;
};

TEST(SensorManagerPlayback, OrderAcrossSensorsAndDumpSize) {
    const std::string dir = makeTempDir();
    auto acc = accelerometer();
    auto lid = accelerometer(1);
    SensorManager manager;
    auto recorder = std::make_shared<RecordingProcess>();
    // A script of no kind: playback does not ask it for every step.
    recorder->setType(PROCESS_NONE);
    recorder->initNumOfSteps();
    manager.setSensors({acc, lid});
    manager.setType(recorder);
    SensorDump dump;
    dump[acc] = {SensorData(0, {1, 0, 0}), SensorData(10, {3, 0, 0}), SensorData(20, {5, 0, 0})};
    dump[lid] = {SensorData(0, {2, 0, 0}), SensorData(15, {4, 0, 0})};
    CsvParser().writeToFile(dir + "/dataDump", dump);
    manager.loadDataFromFile({acc, lid}, dir, "dataDump", false);
    manager.playData();
    // Equal timestamps: the sensor registered later comes first.
    EXPECT_EQ(recorder->seen, (std::vector<double>{2, 1, 3, 4, 5}));

    SensorManager short_;
    auto script = std::make_shared<NewMotionProcess>(FLOW_MINIMAL);
    script->setType(PROCESS_INERTIAL_CALIBRATION);
    script->initNumOfSteps();
    auto acc2 = accelerometer();
    short_.setSensors({acc2});
    short_.setType(script);
    short_.loadDataFromFile({acc2}, dir, "dataDump", false);
    try {
        short_.playData();
        ADD_FAILURE();
    } catch (const CalibrationException& e) {
        EXPECT_STREQ(e.what(), "Unexpected data dump size. Not enough data for completing the calibration process");
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(SensorManagerPlayback, StreamingCheck) {
    for (double lag : {100.0, 150.0}) {
        SensorManager manager;
        auto acc = accelerometer();
        auto lid = accelerometer(1);
        auto process = std::make_shared<NewMotionProcess>(FLOW_MINIMAL);
        process->setType(PROCESS_CALIBRATION_TEST);
        process->initNumOfSteps();
        manager.setSensors({lid, acc});
        manager.setType(process);
        SensorDump dump;
        for (int i = 0; i <= 100; ++i)
            dump[acc].push_back(SensorData(10.0 * i, {0, 0, 1}));
        for (int i = 0; i <= 100 - lag / 10; ++i)
            dump[lid].push_back(SensorData(10.0 * i, {0, 0, -1}));
        const std::string dir = makeTempDir();
        CsvParser().writeToFile(dir + "/d", dump);
        manager.loadDataFromFile({lid, acc}, dir, "d", false);
        if (lag == 100.0) {
            EXPECT_NO_THROW(manager.playData());
        } else {
            try {
                manager.playData();
                ADD_FAILURE();
            } catch (const CalibrationException& e) {
                EXPECT_STREQ(e.what(), "Data streaming rate was invalid. Not enough data points were sampled for "
                                       "Accelerometer_2");
            }
        }
        std::system(("rm -rf '" + dir + "'").c_str());
    }
}

TEST(SensorManagerSteps, EndOfStepHandshake) {
    SensorManager manager;
    auto acc = accelerometer();
    auto process = motion(FLOW_MINIMAL, {acc}, manager);
    std::thread reader([&] {
        for (int i = 0; i <= 150; ++i)
            manager.handleData(acc, 1000 + 10.0 * i, {0, 0, 1});
    });
    EXPECT_NO_THROW(manager.waitForStepFinish(false));
    reader.join();
    EXPECT_TRUE(process->isDone());

    manager.stageDone(false);
    try {
        manager.waitForStepFinish(false);
        ADD_FAILURE();
    } catch (const CalibrationException& e) {
        EXPECT_STREQ(e.what(), "DATA COLLECTION FAILED\n Failed to get samples from FW");
    }
}

TEST(AlsScript, LevelsAndInstructions) {
    const std::string dir = makeTempDir();
    writeFile(dir + "/levels.txt", "values=1000,600,200\n");
    AlsProcess configured(false);
    configured.readConfiguration(dir + "/levels.txt");
    configured.initNumOfSteps();
    EXPECT_EQ(configured.getStaticStatesNumber(), 3);
    EXPECT_EQ(configured.getStepInstructions(false), "Please change the light level to 1000 lux");
    EXPECT_EQ(configured.getInput(), "1000");
    configured.moveNextStep();
    EXPECT_EQ(configured.getInput(), "600");
    configured.moveNextStep();
    EXPECT_EQ(configured.getInput(), "200");

    writeFile(dir + "/bad.txt", "values=100,400\n");
    AlsProcess flipped(false);
    flipped.readConfiguration(dir + "/bad.txt");
    flipped.initNumOfSteps();
    EXPECT_EQ(flipped.getInput(), "100");
    flipped.moveNextStep();
    EXPECT_EQ(flipped.getInput(), "400");
    flipped.moveNextStep();
    EXPECT_EQ(flipped.getStepInstructions(false), "Please change the light level to 400 lux");
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(AlsScript, ProgressWaitsForASteadyLightThenForTheChange) {
    const std::string dir = makeTempDir();
    writeFile(dir + "/levels.txt", "values=100,500\n");
    SensorManager manager;
    auto light = Sensor::allocateSensor(_sc_sensor_luid{65, 2, 1, 0, 0});
    auto process = std::make_shared<AlsProcess>(false);
    process->setType(PROCESS_ALS_CALIBRATION);
    process->readConfiguration(dir + "/levels.txt");
    process->initNumOfSteps();
    manager.setSensors({light});
    manager.setType(process);
    std::system(("rm -rf '" + dir + "'").c_str());

    StepProgress before;
    ASSERT_TRUE(process->fillProgress(before));
    EXPECT_EQ(formatProgress(before, 200), "step 1: a steady light");

    // The lamp comes up to its level at 50 samples a second: changing, then
    // steady until the step ends.
    double t = 1000;
    for (int i = 0; i < 20; ++i, t += 20)
        manager.handleData(light, t, {5.0 * i});
    StepProgress rising;
    ASSERT_TRUE(process->fillProgress(rising));
    // The reading is the latest sample the light sensor holds.
    EXPECT_TRUE(rising.reading == "light 90" || rising.reading == "light 95") << rising.reading;
    EXPECT_GT(rising.motion, 1.0);
    EXPECT_NE(formatProgress(rising, 200).find("| light [#########!] changing"), std::string::npos);
    while (process->getCurrentSegment() < 0 && t < 20000) {
        manager.handleData(light, t, {100.0 + (static_cast<int>(t / 20) % 2 ? 0.5 : -0.5)});
        t += 20;
    }
    ASSERT_EQ(process->getCurrentSegment(), 0);

    // The first level is recorded: the next step waits for the light to change.
    StepProgress waiting;
    ASSERT_TRUE(process->fillProgress(waiting));
    EXPECT_EQ(waiting.step, 2);
    EXPECT_EQ(waiting.waitingFor, "the light to change");
    EXPECT_LE(waiting.motion, 1.0);
    const std::string line = formatProgress(waiting, 200);
    EXPECT_EQ(line.rfind("step 2: the light to change | light 100 | light [", 0), 0u) << line;
    EXPECT_NE(line.find(".] steady"), std::string::npos) << line;
}

TEST(PreTestScript, TextsAndMidCalculation) {
    PreTestProcess p;
    EXPECT_EQ(p.getStepInstructions(false), "Slowly rotate the device 360 degrees around X axis\nPress Enter to signal "
                                            "start and finish");
    p.moveNextStep();
    p.moveNextStep();
    EXPECT_EQ(p.getStepInstructions(false), "Slowly rotate the device 360 degrees around Z axis\nPress Enter when done");
    EXPECT_TRUE(p.getNeedMidCalc());
    p.moveNextStep();
    EXPECT_EQ(p.getStepInstructions(false),
              "Slowly move the device in a rectangle, keeping the same heading all the time\nPress Enter when done");
    EXPECT_FALSE(p.getNeedMidCalc());
    EXPECT_TRUE(p.isExternal());
    EXPECT_EQ(p.getType(), PROCESS_MAGNETIC_TEST);
}

}  // namespace
