// The gyroscope's and the magnetometer's algorithms on worked examples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "Exceptions.h"
#include "Accelerometer.h"
#include "FakeRun.h"
#include "Gyroscope.h"
#include "Magnetometer.h"
#include "SensorManager.h"

namespace {

const double kPi = 3.14159265358979323846;

class TestGyro : public Gyroscope {
public:
    TestGyro() : Gyroscope(_sc_sensor_luid{118, 9, 2, 0, 2}) {}
    void setAngles(const Matrix& angles) { integratedAngles = angles; }
    void setMeasurements(const Matrix& m) { measurements = m; }
    void setExpected(const Matrix& e) { expectedResults = e; }
    const Matrix& turns() const { return measurements; }
};

class TestMag : public Magnetometer {
public:
    TestMag() : Magnetometer(_sc_sensor_luid{527, 8, 4, 0, 2}) {}
    void setDipAngles(std::vector<double> angles) { dipAngles = std::move(angles); }
    void setModel(const Matrix& scale, const Matrix& mapping) {
        S = scale;
        A = mapping;
    }
    void setLimitsForTest() { setLimits(); }
    void setFieldError(double error) { fieldError = error; }
};

Vector v3(double x, double y, double z) {
    return Vector(std::vector<double>{x, y, z});
}

}  // namespace

TEST(Gyroscope, TurnTestVerdicts) {
    struct Case {
        Vector measured;
        bool passes;
        std::string report;
    };
    const Case cases[] = {
        {v3(0, 0, 372), true, ""},
        // The threshold of 15 degrees itself passes; past it fails.
        {v3(0, 0, 375), true, ""},
        {v3(0, 0, 375.001), false, "1\tGyroscope: Check Calibration\n"},
        {v3(0, 0, 380), false, "1\tGyroscope: Check Calibration\n"},
        {v3(0, 360, 0), false, "2\tGyroscope: Check Axis Mapping\n"},
    };
    for (const Case& c : cases) {
        FakeManager manager(FLOW_FULL, PROCESS_CALIBRATION_TEST, 2);
        TestGyro gyro;
        gyro.SetSensManager(&manager);
        gyro.setExpected(Matrix(1, 3, {0, 0, 360}));
        gyro.setAngles(Matrix(c.measured.size() == 3 ? std::vector<Vector>{c.measured} : std::vector<Vector>{}));
        EXPECT_EQ(gyro.TestIntegration(), c.passes) << c.measured.print();
        EXPECT_EQ(manager.report(), c.report);
    }
}

TEST(Gyroscope, ScaleFromTurns) {
    TestGyro gyro;
    gyro.setExpected(Matrix(3, 3, {0, 0, 90, 0, 90, 0, -90, 0, 0}));
    // A sensitivity of 1.1 on x and 0.9 on z: the measured turns are the
    // sensitivity's columns times the turn.
    gyro.setMeasurements(Matrix(3, 3, {0, 0, 81, 0, 90, 0, -99, 0, 0}));
    gyro.findGyroScale(90);
    const Matrix& s = gyro.getScale();
    EXPECT_NEAR(s[0][0], 1 / 1.1, 1e-12);
    EXPECT_NEAR(s[1][1], 1.0, 1e-12);
    EXPECT_NEAR(s[2][2], 1 / 0.9, 1e-12);

    // Turns that cannot be told apart give no scale; the scale stays as it was.
    for (const Matrix& m : {Matrix(3, 3), Matrix(3, 3, {0, 0, 90, 0, 0, 90, 90, 0, 0})}) {
        TestGyro bad;
        bad.setExpected(Matrix(3, 3, {0, 0, 90, 0, 90, 0, -90, 0, 0}));
        bad.setMeasurements(m);
        EXPECT_EQ(calibrationError([&] { bad.findGyroScale(90); }),
                  "Calibration failed for sensor Gyroscope. Reason: Failed to calculate scale matrix\n");
        EXPECT_EQ(bad.getScale().getAbsMaxValue(), 0.0);
    }
    EXPECT_EQ(calibrationError([&] { gyro.findGyroScale(0); }),
              "Calibration failed for sensor Gyroscope. Reason: Failed to calculate scale matrix\n");
}

TEST(Gyroscope, MotionIsTwoHundredDegreesTurned) {
    FakeManager manager(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 7);
    TestGyro gyro;
    gyro.SetSensManager(&manager);
    // 100 deg/s about z, one sample each 10 ms: 1 degree per sample.
    int detectedAt = -1;
    for (int i = 0; i < 300 && detectedAt < 0; ++i) {
        SensorData sample(10.0 * i, {0, 0, 100});
        gyro.dataRecieved(sample);
        if (gyro.checkMotion(0.0))
            detectedAt = i;
    }
    EXPECT_EQ(detectedAt, 200);
    // The integral starts again after a detection.
    SensorData next(3000, {0, 0, 100});
    gyro.dataRecieved(next);
    EXPECT_FALSE(gyro.checkMotion(0.0));
}

// A turn as the gyroscope's reports tell it: each interval integrated by the
// mean of the rates at its ends (a rate that changes across a gap, irregular
// intervals), and the longest time without reports in a stretch, counted
// when it ends inside it wherever it began.
TEST(Gyroscope, ATurnAsItsReportsTellIt) {
    struct Case {
        const char* what;
        std::vector<std::pair<double, double>> reports;  // time (ms), rate about Z (deg/s)
        double turned;                                   // degrees over all the reports
        double fromMs, toMs, gap;                        // the longest gap ending in (from, to]
    };
    const Case cases[] = {
        {"a rate that falls across a gap", {{0, 0}, {10, 100}, {110, 0}}, 5.5, 0, 200, 100},
        {"irregular intervals", {{0, 0}, {10, 100}, {25, 100}, {30, 0}}, 2.25, 0, 30, 15},
        {"a gap that began before the stretch", {{0, 0}, {10, 100}, {120, 100}, {130, 0}}, 12, 50, 200, 110},
        {"a gap that ends after the stretch", {{0, 0}, {10, 100}, {120, 100}, {130, 0}}, 12, 0, 100, 10},
        {"a gap that ends at the stretch's end", {{0, 0}, {10, 100}, {120, 100}, {130, 0}}, 12, 0, 120, 110},
        {"a stretch from before the first report", {{0, 0}, {10, 100}, {120, 100}, {130, 0}}, 12, -5, 200, 110},
        {"a stretch that begins at a report", {{0, 0}, {10, 100}, {20, 100}, {130, 0}}, 7, 10, 200, 110},
        {"reports out of time order (a clock set back)", {{0, 0}, {10, 100}, {5, 100}, {300, 0}}, 14.75, 0, 400, 295},
    };
    for (const Case& c : cases) {
        TestGyro gyro;
        for (const auto& r : c.reports)
            gyro.getBufferedData().emplace_back(r.first, std::vector<double>{0, 0, r.second});
        EXPECT_NEAR(gyro.integrate(1, c.reports.size(), Vector(3))[2], c.turned, 1e-9) << c.what;
        double at = 0;
        EXPECT_NEAR(gyro.longestGap(c.fromMs, c.toMs, at), c.gap, 1e-9) << c.what;
    }
}

// A turn integrated on the part's own clock: stamps that wander about an even
// clock are put back on its ticks, a clock a little off its nominal period
// keeps its own, a single lost report amid whole ticks is bridged by the
// cubic through its neighbours, and stamps that no even clock explains stand.
TEST(Gyroscope, ATurnIsIntegratedOnThePartsOwnClock) {
    struct Case {
        const char* what;
        std::vector<double> intervals;  // ms, repeated; empty: the clock below
        double periodMs, jitterMs;      // the clock and the stamps' wander (sin 0.7 k)
        std::vector<int> lost;          // ticks whose reports never came
        double turned, within;          // degrees
        int late = -1;                  // a tick whose report is stamped 4 ms late, the next 2 ms early
        double extraMs = -1;            // a report between two ticks
    };
    // A stroke of 25 degrees: 250 (1 - cos) deg/s over 0.1 s from 1 s on.
    auto rate = [](double ms) {
        const double u = (ms - 1000) / 100;
        return u > 0 && u < 1 ? 250 * (1 - std::cos(2 * kPi * u)) : 0.0;
    };
    const Case cases[] = {
        {"stamps a millisecond about the clock", {}, 10, 1, {}, 25, 0.01},
        {"a clock 1 % slow", {}, 10.1, 1, {}, 25, 0.01},
        {"one report lost at the stroke's top", {}, 10, 0, {35}, 25.0780980414929, 1e-9},
        {"one report lost, stamps wandering", {}, 10, 1, {35}, 25.078, 0.01},
        {"one report lost on the rise", {}, 10, 0, {33}, 25.0241336220482, 1e-9},
        {"two reports lost: the line across them", {}, 10, 0, {34, 35}, 23.27254248593737, 1e-9},
        {"two reports lost with one between: a cubic across each", {}, 10, 0, {33, 35}, 25.04166666666667, 1e-9},
        {"an interval under half the period: stamps stand", {4, 16, 10}, 0, 0, {}, 24.96939712099601, 1e-9},
        {"stamps no even clock explains stand", {10, 10, 10, 14, 6}, 0, 0, {}, 25.0, 1e-9},
        {"an interval under half a period between two reports on their ticks", {}, 10, 0, {}, 25, 0.01, 33},
        {"a report between two ticks: stamps stand", {}, 10, 0, {}, 25.028420849658463, 1e-9, -1, 1033},
    };
    for (const Case& c : cases) {
        TestGyro gyro;
        double ms = 700;
        for (int k = 0; ms <= 1500; ++k) {
            const double at = c.intervals.empty() ? 700 + c.periodMs * k : ms;
            if (!c.intervals.empty())
                ms += c.intervals[static_cast<size_t>(k) % c.intervals.size()];
            else
                ms = at + c.periodMs;
            if (std::find(c.lost.begin(), c.lost.end(), k) != c.lost.end())
                continue;
            gyro.getBufferedData().emplace_back(at + c.jitterMs * std::sin(0.7 * k) +
                                                    (c.late < 0 ? 0 : k == c.late ? 4 : k == c.late + 1 ? -2 : 0),
                                                std::vector<double>{0, 0, rate(at)});
            if (c.extraMs > at && c.extraMs < at + 10)
                gyro.getBufferedData().emplace_back(c.extraMs, std::vector<double>{0, 0, rate(c.extraMs)});
        }
        EXPECT_NEAR(gyro.integrate(1, gyro.getBufferedData().size(), Vector(3))[2], c.turned, c.within) << c.what;
    }
}

// What a gap of lost reports may take from a turn's integral: the bend of the
// rate the bridge across it cannot see, over gaps of two reports or more.
TEST(Gyroscope, AGapInAQuickStrokeIsDoubted) {
    struct Case {
        const char* what;
        double lostFromMs, lostToMs;  // reports in [from, to) are lost
        double firstMs;               // the recording's first report
        double fromMs, toMs;          // the stretch
        int repeated;                 // the report before (-1) or after (1) the gap comes twice, under one stamp
        double doubt;                 // degrees, about Z
        double gapMs;
    };
    // A stroke of 500 deg/s at its peak: the rate rises as 1 - cos over
    // 0.1 s from 1 s on; reports every 10 ms.
    auto rate = [](double ms) {
        const double u = (ms - 1000) / 100;
        return u > 0 && u < 1 ? 250 * (1 - std::cos(2 * 3.14159265358979 * u)) : 0.0;
    };
    auto slope = [&](double fromMs, double toMs) { return (rate(toMs) - rate(fromMs)) / (toMs - fromMs) * 1000; };
    // In at 1040 (rising at 10,000 deg/s^2) and out at 1100 (still): 60 ms.
    const double top = 0.06 * 0.06 / 12 * slope(1030, 1040);
    // In at 1020, rising, and out at 1060, falling: both slopes count.
    const double across = 0.04 * 0.04 / 12 * (slope(1010, 1020) - slope(1060, 1070));
    const Case cases[] = {
        {"a gap across the stroke's top", 1050, 1100, 700, 900, 1400, 0, top, 60},
        {"a gap from the rise into the fall", 1030, 1060, 700, 900, 1400, 0, across, 40},
        {"one report lost at the top", 1050, 1060, 700, 900, 1400, 0, 0, 0},
        {"a gap at rest", 1200, 1300, 700, 900, 1400, 0, 0, 0},
        {"a gap outside the stretch", 500, 600, 700, 900, 1400, 0, 0, 0},
        {"a gap that ends where the stretch ends", 1050, 1100, 700, 900, 1100, 0, top, 60},
        {"a gap that ends where the stretch begins", 1050, 1100, 700, 1100, 1400, 0, 0, 0},
        {"a gap at the recording's third report", 1050, 1100, 1030, 900, 1400, 0, top, 60},
        {"a stamp repeated before the gap: no slope to tell", 1050, 1100, 700, 900, 1400, -1, 0, 0},
        {"a stamp repeated after the gap: no slope to tell", 1030, 1060, 700, 900, 1400, 1, 0, 0},
    };
    for (const Case& c : cases) {
        TestGyro gyro;
        for (double ms = c.firstMs; ms <= 1500; ms += 10) {
            if (ms >= c.lostFromMs && ms < c.lostToMs)
                continue;
            gyro.getBufferedData().emplace_back(ms, std::vector<double>{0, 0, rate(ms)});
            if ((c.repeated < 0 && ms + 10 == c.lostFromMs) || (c.repeated > 0 && ms == c.lostToMs))
                gyro.getBufferedData().emplace_back(ms, std::vector<double>{1, 1, rate(ms) + 1});
        }
        double gap = -1;
        EXPECT_NEAR(gyro.bridgeDoubt(c.fromMs, c.toMs, gap), c.doubt, 1e-9) << c.what;
        EXPECT_NEAR(gap, c.gapMs, 1e-9) << c.what;
    }
}

// Each full-flow turn less the rest rate of the holds before and after it:
// a bias that drifts evenly through the run leaves the turns as they were.
TEST(Gyroscope, TheRestTakenOffATurnIsThatOfTheHoldsAroundIt) {
    // The turns of a part whose bias drifts, against those of one whose bias does not.
    auto turnsWith = [](double drift) {  // deg/s per second
        // Seven steps of a second each way: holds, a turn of 360 degrees in a
        // second about Z, Y and X (steps 2, 4, 6), moves without a turn.
        std::vector<double> times;
        for (int k = 0; k < 14; ++k)
            times.push_back(1000.0 * k);
        FakeManager manager(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 7, times);
        TestGyro gyro;
        gyro.SetSensManager(&manager);
        for (int i = 0; i <= 1400; ++i) {
            // A reading that alternates by a hundredth is no coarse one.
            const double t = 10.0 * i, bias = drift * t / 1000 + (i % 2 ? 0.01 : -0.01);
            std::vector<double> rate = {bias, bias, bias};
            const int segment = static_cast<int>(t / 1000);
            if (t > 1000 * segment && (segment == 1 || segment == 5 || segment == 9))
                rate[static_cast<size_t>(segment == 1 ? 2 : segment == 5 ? 1 : 0)] += 360;
            gyro.getBufferedData().emplace_back(t, rate);
        }
        gyro.FindSegmentation();
        return gyro.turns();
    };
    const Matrix steady = turnsWith(0);
    for (const double drift : {0.5, 2.0}) {
        const Matrix drifting = turnsWith(drift);
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(drifting[r][k], steady[r][k], 1e-6) << "drift " << drift << " turn " << r;
    }
}

TEST(Gyroscope, TestWithoutSegmentsFailsPlainly) {
    FakeManager manager(FLOW_FOUR_STEPS, PROCESS_CALIBRATION_TEST, 4);
    TestGyro gyro;
    gyro.SetSensManager(&manager);
    SensorData sample(0, {0, 0, 0});
    gyro.dataRecieved(sample);
    EXPECT_EQ(calibrationError([&] { gyro.ComputeDynamicAndStaticData(); }),
              "Gyroscope Calibration Error: Failed splitting data to segments");
}

TEST(Gyroscope, ZeroRateAcrossFourStepsPositions) {
    // Two holds of 100 samples: the difference of their rest rates counts
    // only past four standard errors of the two levels (the part's noise
    // alone moves them apart), and fails past 0.2 degrees per second.
    struct Case {
        double difference;
        double noise;
        std::string error;
    };
    const std::string moved = "Calibration failed for sensor Gyroscope. Reason: The zero rate changes with the "
                              "device's position: on the X axis by ";
    const Case cases[] = {
        // A noisy part whose raw difference passes 0.2 by noise alone calibrates.
        {0.25, 1.0, ""},
        {0.75, 1.0, ""},
        {0.80, 1.0, moved + "0.80 degrees per second between step 1 and step 2"},
        // A quiet part: its difference counts almost whole.
        {0.25, 0.01, moved + "0.25 degrees per second between step 1 and step 2"},
        {0.19, 0.01, ""},
    };
    for (const Case& c : cases) {
        TestGyro gyro;
        const std::map<size_t, Vector> levels = {{0, v3(0, 0, 0)}, {1, v3(c.difference, 0, 0)}};
        const std::map<size_t, size_t> sizes = {{0, 100}, {1, 100}};
        const std::string error = calibrationError([&] { gyro.checkZeroRateAcross(levels, sizes, v3(c.noise, 0, 0)); });
        if (c.error.empty())
            EXPECT_EQ(error, "") << c.difference << " at " << c.noise;
        else
            EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
}

TEST(Magnetometer, FieldStrengthLimits) {
    struct Case {
        double field;
        std::string reason;
        // The fit's one-sigma uncertainty of the strength: a field within
        // four of them past a limit may be the limit's, and calibrates.
        double error = 0;
    };
    const Case cases[] = {
        {199, "Calculated magnetic field is too low.\n "},
        {200, ""},
        {650, ""},
        {651, "Calculated magnetic field is too high.\n "},
        {196.5, "", 1.0},
        {195.5, "Calculated magnetic field is too low.\n ", 1.0},
        {653.5, "", 1.0},
        {654.5, "Calculated magnetic field is too high.\n ", 1.0},
    };
    for (const Case& c : cases) {
        FakeManager manager(FLOW_FULL, PROCESS_INERTIAL_CALIBRATION, 7);
        TestMag mag;
        mag.SetSensManager(&manager);
        mag.setLimitsForTest();
        mag.setFieldError(c.error);
        mag.SetExpectation(1.0, c.field);
        mag.setModel(Matrix::Identity(3), Matrix::Identity(3));
        // Averages that meet every other criterion.
        Matrix averages(4, 3);
        for (int i = 0; i < 4; ++i)
            averages.setRow(mag.getExpectedResults()[static_cast<size_t>(i)], i);
        const std::string error = calibrationError([&] { mag.checkSuccess(averages); });
        if (c.reason.empty()) {
            EXPECT_EQ(error, "") << c.field;
        } else {
            EXPECT_EQ(error, "Calibration failed for sensor Magnetometer. Reason: " + c.reason) << c.field;
            EXPECT_STREQ(mag.getLogRoot()->Attribute("FailureParameter"), "MagneticField");
        }
    }
}

// The fit's samples: runs of a tenth of a second, cut early where the field
// (the mean of five samples about each) has moved a tenth of its radius. A
// noisy part whose single samples stray past that keeps its runs whole, and
// their means on the field: two positions a second each, 300 mG either way
// along X, read at 100 Hz with a noise of 40 mG in one sample of five (-10 mG
// in the four others).
TEST(Magnetometer, BlockMeansFollowTheFieldNotItsNoise) {
    struct Case {
        const char* what;
        double stray;         // mG, one sample in five
        size_t mostBlocks;    // of 200 samples
        double medianError;   // mG, of the blocks' means
    };
    const Case cases[] = {
        {"a quiet part", 0, 24, 1e-9},
        {"a noisy part", 40, 24, 1e-9},
    };
    for (const Case& c : cases) {
        std::vector<SensorData> buffer;
        for (int i = 0; i < 200; ++i) {
            const double field = i < 100 ? 300 : -300;
            const double noise = i % 5 == 0 ? c.stray : -c.stray / 4;
            buffer.emplace_back(10.0 * i, std::vector<double>{field + noise, 20, -400});
        }
        const std::vector<SensorData> blocks = Magnetometer::blockMeans(buffer);
        EXPECT_LE(blocks.size(), c.mostBlocks) << c.what;
        std::vector<double> errors;
        for (const SensorData& b : blocks)
            errors.push_back(std::fabs(b.values[0] - (b.timestamp < 1000 ? 300 : -300)));
        std::nth_element(errors.begin(), errors.begin() + static_cast<std::ptrdiff_t>(errors.size() / 2), errors.end());
        EXPECT_LE(errors[errors.size() / 2], c.medianError) << c.what << ": " << blocks.size() << " blocks";
    }
}

TEST(Magnetometer, DipAngleOfTheEnvironment) {
    struct Case {
        std::vector<double> angles;
        std::string error;
        const char* parameter;
    };
    const std::string stdText = "The environment is not good for calibrating, dip angle standard deviation is too high";
    const std::string rangeText = "The environment is not good for calibrating, dip angle range is too high";
    const Case cases[] = {
        // Standard deviation 0.9 (population), range 4.9: passes.
        {{60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 64.9},
         "", nullptr},
        // A standard deviation of 1.1 fails before the range is looked at.
        {{58.9, 61.1}, stdText, "Dip Angle STD"},
        {{}, "The environment could not be tested: no magnetometer sample after the fit", "Dip Angle STD"},
    };
    for (const Case& c : cases) {
        TestMag mag;
        mag.setDipAngles(c.angles);
        EXPECT_EQ(calibrationError([&] { mag.checkDipAngle(); }), c.error);
        if (c.parameter)
            EXPECT_STREQ(mag.getLogRoot()->Attribute("FailureParameter"), c.parameter);
        else
            EXPECT_STREQ(mag.getLogRoot()->Attribute("Success"), "true");
    }
    // A range over 5 degrees with a small deviation fails on the range.
    std::vector<double> spike(200, 60.0);
    spike.back() = 65.5;
    TestMag mag;
    mag.setDipAngles(spike);
    EXPECT_EQ(calibrationError([&] { mag.checkDipAngle(); }), rangeText);
    EXPECT_STREQ(mag.getLogRoot()->Attribute("FailureParameter"), "Dip Angle Range");
}

TEST(Magnetometer, DipSearchFindsTheField) {
    const double dip = 1.05;  // about 60 degrees
    TestMag mag;
    mag.SetExpectation(dip, 480);
    // The expected vectors themselves, seen turned by a small rotation.
    const Matrix turn = Matrix::rotationMatrixFromAxis(v3(0.02, -0.01, 0.03));
    std::vector<Vector> seen;
    for (const Vector& e : mag.getExpectedResults())
        seen.push_back(turn * e);
    double best = mag.findBestAngle(50, 480, seen, -kPi / 2, kPi / 2);
    best = mag.findBestAngle(100, 480, seen, best - kPi / 50, best + kPi / 50);
    EXPECT_NEAR(best, dip, 2 * kPi / 50 / 100);

    // Equal errors everywhere: the smallest angle wins.
    const std::vector<Vector> none(4, Vector(3));
    EXPECT_EQ(mag.findBestAngle(50, 480, none, -1.0, 1.0), -1.0);
}

TEST(Magnetometer, TurnAxisFromSamples) {
    // A turn about an axis near the device's y axis in a field of 480 mG:
    // the field keeps its part along the axis, whatever the dip, and the axis
    // found points the way the device turned counterclockwise about it.
    struct Case {
        double dipDegrees;
        double turnSense;  // 1 counterclockwise about the axis, -1 clockwise
    };
    const Case cases[] = {{60, 1}, {-40, 1}, {-75, 1}, {0, 1}, {3, 1}, {60, -1}, {-40, -1}, {0, -1}};
    const EllipsoidFit identity;
    const Vector axis = v3(0.1, 0.99, -0.05).normalize();
    const Vector across = v3(1, -0.1, 0.02).normalize();
    for (const Case& c : cases) {
        const double dip = c.dipDegrees * kPi / 180;
        // The field as the device sees it at the start: down by the dip
        // along the axis (which points up), the rest across it.
        const Vector field = (axis * -std::sin(dip) + across * std::cos(dip)) * 480;
        std::vector<SensorData> samples;
        for (int k = 0; k < 72; ++k) {
            // The device turns by +angle; the field turns the other way in it.
            const double angle = c.turnSense * k * kPi / 36;
            samples.emplace_back(k, (Matrix::rotationMatrixFromAxis(axis * -angle) * field).elements());
        }
        TestMag mag;
        double along = 0;
        const Vector n = mag.findMisalignment(samples, identity, &along);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(n[i], c.turnSense * axis[i], 1e-9) << "dip " << c.dipDegrees << " sense " << c.turnSense;
        EXPECT_NEAR(along, -c.turnSense * std::sin(dip), 1e-9) << "dip " << c.dipDegrees;
    }
}

TEST(Magnetometer, EnvironmentTestFitsThenWatchesTheDip) {
    FakeManager manager(FLOW_FULL, PROCESS_MAGNETIC_TEST, 4);
    TestMag mag;
    mag.SetSensManager(&manager);
    mag.setLimitsForTest();
    // Turns about the three axes of a field of 450 mG with an offset.
    const Vector field = v3(0, 225, -390);
    const Vector offset = v3(40, -25, 10);
    double t = 0;
    for (const Vector& axis : {v3(1, 0, 0), v3(0, 1, 0), v3(0, 0, 1)})
        for (int k = 0; k < 360; k += 2, t += 10) {
            SensorData s(t, (Matrix::rotationMatrixFromAxis(axis * (k * kPi / 180)) * field + offset).elements());
            mag.dataRecieved(s);
        }
    mag.MidCalc();
    // The device moved without turning: the same field, a little noise.
    for (int i = 0; i < 100; ++i, t += 10) {
        SensorData s(t, (field + offset + v3(0.3 * (i % 3), -0.2 * (i % 2), 0.1)).elements());
        mag.dataRecieved(s);
    }
    EXPECT_EQ(mag.getDipAngles().size(), 100u);
    EXPECT_EQ(calibrationError([&] { mag.magEnvTest(); }), "");
    EXPECT_EQ(mag.getResult(), "Test passed. You are good to go!\n");

    // Nothing to fit.
    TestMag empty;
    empty.SetSensManager(&manager);
    EXPECT_EQ(calibrationError([&] { empty.MidCalc(); }),
              "Failed to calculate ellipsoid fit because of large magnetic interface. Check your environment");
    EXPECT_STREQ(empty.getLogRoot()->Attribute("FailureParameter"), "Ellipsoid");
    EXPECT_TRUE(empty.getDipAngles().empty());
}

namespace {

// A gyroscope, accelerometer or magnetometer whose axis mapping the test sets.
template <typename Base>
class MappedSensor : public Base {
public:
    explicit MappedSensor(const _sc_sensor_luid& id) : Base(id) {}
    void setMapping(const Matrix& mapping) {
        this->A = mapping;
        this->S = Matrix::Identity(3);
    }
    void setOffsetForTest(const Vector& offset) { this->o = offset; }
};

}  // namespace

TEST(InertialChecks, MirroredMappingNamesWhatWasTheWrongWayRound) {
    // A right-handed sensor's mapping is a rotation: one axis flipped is a
    // position or a turn the wrong way round, named by the flow's steps.
    struct Case {
        std::string sensor;
        CalibrationFlowType flow;
        Matrix mapping;
        std::string reason;  // empty: no failure
    };
    const Matrix flipZ(3, 3, {1, 0, 0, 0, 1, 0, 0, 0, -1});
    const Matrix flipX(3, 3, {-1, 0, 0, 0, 1, 0, 0, 0, 1});
    const Matrix flipY(3, 3, {1, 0, 0, 0, -1, 0, 0, 0, 1});
    const Matrix halfTurnZ(3, 3, {-1, 0, 0, 0, -1, 0, 0, 0, 1});
    const Matrix swapped(3, 3, {0, 1, 0, 1, 0, 0, 0, 0, 1});
    const Case cases[] = {
        {"A", FLOW_FULL, flipZ, "the device was placed the other side up in step 1"},
        {"A", FLOW_FULL, flipX, "the device was placed the other side up in step 5"},
        {"A", FLOW_FULL, flipY, "a position was held the other side up or a turn went the wrong way round"},
        {"A", FLOW_STATIC_FOUR_POSITIONS, flipX, "the device was placed the other side up in step 3"},
        {"A", FLOW_FOUR_STEPS, flipX, "the device was placed the other side up in step 2"},
        {"A", FLOW_FULL, halfTurnZ, ""},
        {"A", FLOW_FULL, swapped, "a position was held the other side up or a turn went the wrong way round"},
        {"G", FLOW_FULL, flipZ, "the turn about Z in step 2 went the wrong way round"},
        {"G", FLOW_FULL, flipX, "the turn about X in step 6 went the wrong way round"},
        {"G", FLOW_FOUR_STEPS, flipY, "the turn about Y in step 2 went the wrong way round"},
        {"G", FLOW_FOUR_STEPS, flipX, "the turn about X in step 4 went the wrong way round"},
        {"G", FLOW_FULL, Matrix::Identity(3), ""},
        {"M", FLOW_FULL, flipY, "the device was the other side up while it turned in step 4"},
        {"M", FLOW_FULL, flipZ, "the device was the other side up while it turned in step 2"},
        {"M", FLOW_FULL, flipX, "the device was the other side up while it turned in step 6"},
    };
    for (const Case& c : cases) {
        FakeManager manager(c.flow, PROCESS_INERTIAL_CALIBRATION, c.flow == FLOW_FULL ? 7 : 4);
        std::shared_ptr<InertialSensor> sensor;
        if (c.sensor == "A") {
            auto acc = std::make_shared<MappedSensor<Accelerometer>>(_sc_sensor_luid{115, 1, 1, 0, 2});
            acc->SetSensManager(&manager);
            acc->calcExpected();
            acc->setMapping(c.mapping);
            sensor = acc;
        } else if (c.sensor == "G") {
            auto gyro = std::make_shared<MappedSensor<Gyroscope>>(_sc_sensor_luid{118, 9, 2, 0, 2});
            gyro->SetSensManager(&manager);
            gyro->calcExpected();
            gyro->setMapping(c.mapping);
            sensor = gyro;
        } else {
            auto mag = std::make_shared<MappedSensor<Magnetometer>>(_sc_sensor_luid{527, 8, 4, 0, 2});
            mag->SetSensManager(&manager);
            mag->setMapping(c.mapping);
            sensor = mag;
        }
        sensor->checkMirroredMapping();
        EXPECT_EQ(sensor->hasFailed(), !c.reason.empty()) << c.sensor << " " << c.mapping.print();
        EXPECT_EQ(sensor->getFailureReason(),
                  c.reason.empty() ? "" : "Mirrored axis mapping created: " + c.reason + ".\n")
            << c.sensor << " " << c.mapping.print();
    }
}

TEST(InertialChecks, OlderSuccessCriteriaLogTheGyroscopesTurnsWithoutItsOffset) {
    // The gyroscope's averages are turns, not readings: its offset is not
    // taken off them in the logged calibrated averages and their norms.
    struct Case {
        bool gyroscope;
        std::string calibrated;
        std::string normVariance;
    };
    const Case cases[] = {
        {true, "0.000000,0.000000,90.000000;0.000000,90.000000,0.000000;90.000000,0.000000,0.000000;",
         "<Values>0.000000</Values>"},
        {false, "-1.000000,-2.000000,87.000000;-1.000000,88.000000,-3.000000;89.000000,-2.000000,-3.000000;",
         "<Values>0.834576</Values>"},
    };
    for (const Case& c : cases) {
        FakeManager manager(FLOW_FOUR_STEPS, PROCESS_INERTIAL_CALIBRATION, 4);
        std::shared_ptr<InertialSensor> sensor;
        if (c.gyroscope)
            sensor = std::make_shared<MappedSensor<Gyroscope>>(_sc_sensor_luid{118, 9, 2, 0, 2});
        else
            sensor = std::make_shared<MappedSensor<Accelerometer>>(_sc_sensor_luid{115, 1, 1, 0, 2});
        sensor->SetSensManager(&manager);
        auto* mapped = dynamic_cast<MappedSensor<Gyroscope>*>(sensor.get());
        if (mapped) {
            mapped->setMapping(Matrix::Identity(3));
            mapped->setOffsetForTest(Vector(std::vector<double>{1, 2, 3}));
        } else {
            auto* acc = dynamic_cast<MappedSensor<Accelerometer>*>(sensor.get());
            acc->setMapping(Matrix::Identity(3));
            acc->setOffsetForTest(Vector(std::vector<double>{1, 2, 3}));
        }
        testing::internal::CaptureStdout();
        try {
            sensor->checkSuccess(Matrix(3, 3, {0, 0, 90, 0, 90, 0, 90, 0, 0}));
        } catch (const CalibrationException&) {
        }
        testing::internal::GetCapturedStdout();
        TiXmlPrinter printer;
        sensor->getLogRoot()->Accept(&printer);
        const std::string log = printer.CStr();
        const size_t at = log.find("<CalibratedAverages");
        ASSERT_NE(at, std::string::npos) << log;
        EXPECT_NE(log.find("<Values>" + c.calibrated + "</Values>", at), std::string::npos) << log;
        const size_t variance = log.find("<NormVariance>");
        ASSERT_NE(variance, std::string::npos) << log;
        EXPECT_EQ(log.compare(log.find("<Values>", variance), c.normVariance.size(), c.normVariance), 0) << log;
    }
}
