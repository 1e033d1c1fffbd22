// The test of a magnetometer's calibration over four headings.
#include <algorithm>
#include <cmath>

#include "Exceptions.h"
#include "Magnetometer.h"
#include "Statistics.h"
#include "TestingThresholds.h"

namespace {

const double kRadToDeg = 57.29577951308232;

}  // namespace

std::vector<double> Magnetometer::findMagDirection(const Vector& offset) {
    std::vector<double> headings;
    for (int i = 0; i < managerSteps() && i < staticMeans.getRows(); ++i) {
        const Vector v = staticMeans.getRow(i) - offset;
        Vector h(std::vector<double>{std::atan2(v[0], v[1]) * kRadToDeg});
        headings.push_back(h.setAngle()[0]);
    }
    return headings;
}

Vector Magnetometer::getCenter() {
    EllipsoidFit planar;
    return planar.FindEllispseCenter(bufferedData);
}

void Magnetometer::endTest(bool passed) {
    addCommentToLog(passed ? ": PASSED" : " FAILED");
    popLog();
    if (!passed && manager)
        manager->AddError(ErrorType::Calibration, getName());
}

bool Magnetometer::testCalibration() {
    initStaticStates();
    if (flowType() == FLOW_MINIMAL)
        return true;
    ComputeStaticSegmentsMeans();
    ComputeStaticSegmentsStds();
    EllipsoidFit planar;
    Vector offset;
    try {
        offset = planar.FindEllispseCenter(bufferedData);
    } catch (const MathException&) {
        // A recording without a turn has no centre: the heading tests cannot pass.
        throw CalibrationException("Failed to calc magnetometer values, check your magnetic environment");
    }
    const bool noise = TestMagSTD();
    const bool still = TestStaticValues();
    const bool values = TestMagValues(offset);
    const bool direction = TestDirection(offset);
    const bool scale = TestMagScale(planar);
    return noise && still && values && direction && scale;
}

bool Magnetometer::TestMagSTD() {
    pushLog("Performing_TestMagSTD");
    const double threshold = TestingThresholds::Inst().magThresholdNoise;
    bool passed = true;
    for (int i = 0; i < managerSteps() && i < staticStds.getRows(); ++i) {
        addCommentToLog("step " + std::to_string(i));
        const Vector deviation = staticStds.getRow(i);
        const bool ok = AssertVector(deviation, Vector(3), threshold,
                                     "motionless " + getName() + " step " + std::to_string(i) + " Std value test", "");
        addToLog(deviation, "StandardDeviation", "The measured noise");
        addToLog(Vector(3), "ExpectedDeviation", "noise that is expected at a perfectly calibrated system");
        addToLog(threshold, "threshold", "");
        passed = passed && ok;
    }
    endTest(passed);
    return passed;
}

bool Magnetometer::TestStaticValues() {
    pushLog("Performing_TestStaticValues");
    const double threshold = TestingThresholds::Inst().magStaticThreshold;
    double smallest = 0;
    for (int axis = 0; axis < 3; ++axis) {
        std::vector<double> values;
        for (const SensorData& s : bufferedData)
            if (s.values.size() >= 3)
                values.push_back(s.values[static_cast<size_t>(axis)]);
        const double deviation = Statistics::calcStd(values);
        smallest = axis == 0 ? deviation : std::min(smallest, deviation);
    }
    const bool passed = AssertDouble(smallest, 0, threshold, "Magnetometer static values test", "");
    addToLog(smallest, "StaticValue", "The measured static value");
    addToLog(0.0, "ExpectedStaticValue", "static value that is expected at a perfectly calibrated system");
    addToLog(threshold, "threshold", "");
    endTest(passed);
    return passed;
}

bool Magnetometer::TestMagValues(const Vector& offset) {
    pushLog("Performing_TestMagValues");
    const double threshold = TestingThresholds::Inst().magThresholdAngles;
    const std::vector<double> h = findMagDirection(offset);
    Vector changes(4), expected(4);
    if (h.size() >= 4)
        changes = Vector(std::vector<double>{h[0] - h[3], h[1] - h[0], h[2] - h[1], h[3] - h[2]}).setAngle();
    for (int i = 0; i < 4; ++i)
        expected[i] = 90.0;
    const bool passed = h.size() >= 4 && AssertAngle(changes, expected, threshold, "Magnetometer values test", "");
    addToLog(changes, "MagnetometerValues", "The measured Magnetometer values");
    addToLog(expected, "ExpectedValues", "Mag values that is expected at a perfectly calibrated system");
    addToLog(threshold, "threshold", "");
    endTest(passed);
    return passed;
}

bool Magnetometer::TestDirection(const Vector& offset) {
    pushLog("Performing_TestDirection");
    const double threshold = TestingThresholds::Inst().magThresholdAngles;
    const std::vector<double> h = findMagDirection(offset);
    Vector headings(4);
    for (size_t i = 0; i < h.size() && i < 4; ++i)
        headings[static_cast<int>(i)] = h[i];
    const Vector expected(std::vector<double>{0, 90, 180, 270});
    const bool passed = h.size() >= 4 && AssertAngle(headings, expected, threshold, "Compass direction test", "");
    addToLog(headings, "CompassDirection", "The measured compass direction");
    addToLog(expected, "ExpectedCompassDirection", "compass direction that is expected at a perfectly calibrated system");
    addToLog(threshold, "threshold", "");
    endTest(passed);
    return passed;
}

bool Magnetometer::TestMagScale(const EllipsoidFit& fit) {
    pushLog("Performing_TestMagScale");
    const double threshold = TestingThresholds::Inst().magScaleThreshold;
    const double ratio = fit.axisScale.size() >= 2 && fit.axisScale[0] != 0 ? fit.axisScale[1] / fit.axisScale[0] : 0.0;
    const bool passed = AssertDouble(ratio, 1, threshold, "Magnet scale test", "");
    addToLog(ratio, "MagScale", "The measured Mag scale");
    addToLog(1.0, "ExpectedMagScale", "Mag scale that is expected at a perfectly calibrated system");
    addToLog(threshold, "threshold", "");
    endTest(passed);
    return passed;
}
