// The tests of an existing calibration: each step against its expected
// values, the noise and the spikes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "Console.h"
#include "Exceptions.h"
#include "InertialSensor.h"
#include "SVD.h"
#include "Statistics.h"
#include "TestingThresholds.h"
#include "XmlUtil.h"

namespace {

const double kQuarterPi = 0.7853981633974483;

bool AssertSpikes(int count, const std::string& where, int allowed) {
    if (count <= allowed)
        return true;
    consoleOut() << "Error in " << where << "\n"
              << "Spike detection error, spike count: " << count << "\n";
    return false;
}

}  // namespace

void InertialSensor::fail(const std::string& parameter, const std::string& reason) {
    if (!failure)
        setLogAttribute("FailureParameter", parameter);
    failure = true;
    failureReason += reason;
}

void InertialSensor::setLogAttribute(const std::string& attribute, const std::string& value) {
    checkCreateLog();
    logRoot->SetAttribute(attribute, value);
}

bool InertialSensor::testCalibration() {
    initStaticStates();
    return runTests();
}

bool InertialSensor::runTests() {
    if (flowType() == FLOW_MINIMAL)
        return faceUpTestCalibration();
    return TestAverage(averageThreshold, noiseLimit, spikeLimit);
}

bool InertialSensor::AssertVector(const Vector& value, const Vector& expected, double threshold,
                                  const std::string& where, const std::string& unit) {
    if ((value - expected).getAbsMaxValue() <= threshold)
        return true;
    consoleOut() << "Error in " << where << "\n"
              << "Error in vector assert. Vector: " << value.print() << " Expected vector: " << expected.print()
              << " distance is bigger than threshold of " << threshold << " " << unit << "\n\n";
    return false;
}

bool InertialSensor::AssertAngle(const Vector& value, const Vector& expected, double threshold,
                                 const std::string& where, const std::string& unit) {
    double largest = 0;
    for (int i = 0; i < value.size() && i < expected.size(); ++i) {
        double d = std::fabs(value[i] - expected[i]);
        if (d > 180)
            d = 360 - d;
        largest = std::max(largest, d);
    }
    if (largest <= threshold)
        return true;
    consoleOut() << "Error in " << where << "\n"
              << "Error in vector assert. Vector: " << value.print() << " Expected vector: " << expected.print()
              << " distance is bigger than threshold of " << threshold << " " << unit << "\n\n";
    return false;
}

bool InertialSensor::AssertDouble(double value, double expected, double threshold, const std::string& where,
                                  const std::string& unit) {
    if (std::fabs(value - expected) <= threshold)
        return true;
    char expectedText[64];
    std::snprintf(expectedText, sizeof expectedText, "%.6f", expected);
    consoleOut() << "Error in " << where << "\n"
              << "Error in double assert. Value: " << value << " Expected value: " << expectedText
              << " distance is bigger than threshold of " << threshold << " " << unit << "\n\n";
    return false;
}

int InertialSensor::ComputeSpikesCounter(int step, double threshold) {
    const std::vector<size_t> index = findIndex();
    const size_t first = 2 * static_cast<size_t>(step);
    if (first + 1 >= index.size())
        return 0;
    int count = 0;
    const size_t last = index[first + 1];
    for (size_t i = index[first]; i + 1 < last; ++i) {
        if ((Vector(bufferedData[i].values) - Vector(bufferedData[i + 1].values)).norm() > threshold) {
            ++count;
            ++i;  // the sample after a jump is not compared again
        }
    }
    return count;
}

bool InertialSensor::TestAverage(double t1, double t2, double t3) {
    pushLog("Performing_TestAverage");
    bool allPassed = true;
    bool wrongPosition = false;
    const int steps = managerSteps();
    const int allowed = TestingThresholds::Inst().maxSpikesAllowed;
    for (int s = 0; s < steps; ++s) {
        addCommentToLog("step " + std::to_string(s));
        const double f = (s == 0 || s == steps - 1) ? 1.0 : TestingThresholds::Inst().handHeldMotionlessFactor;
        const std::string stepName = "motionless " + getName() + " step " + std::to_string(s);

        const Vector mean = s < staticMeans.getRows() ? staticMeans.getRow(s) : Vector(3);
        const Vector expected = name == GYROSCOPE || s >= expectedResults.getRows() ? Vector(3)
                                                                                     : expectedResults.getRow(s);
        const std::string meanWhere = stepName + " Mean value test";
        const bool meanPassed = AssertVector(mean, expected, t1 * f, meanWhere, "");
        addToLog(mean, "Average", "The measured averages");
        addToLog(expected, "ExpectedAverage", "The averages that are expected at a perfectly calibrated system");
        addToLog(t1 * f, "threshold", "");
        addCommentToLog(meanWhere + (meanPassed ? ": PASSED" : " FAILED"));
        if (!meanPassed && name != GYROSCOPE && Vector::Angle(expected, mean) >= kQuarterPi)
            wrongPosition = true;

        const Vector deviation = s < staticStds.getRows() ? staticStds.getRow(s) : Vector(3);
        const std::string stdWhere = stepName + " Std value test";
        const bool noisePassed = AssertVector(deviation, Vector(3), t2 * f, stdWhere, "");
        addToLog(deviation, "StandardDeviation", "The measured noise");
        addToLog(Vector(3), "ExpectedDeviation", "noise that is expected at a perfectly calibrated system");
        addToLog(t2 * f, "threshold", "");
        addCommentToLog(stdWhere + (noisePassed ? ": PASSED" : " FAILED"));

        const int spikes = ComputeSpikesCounter(s, t3 * f);
        const bool spikesPassed = AssertSpikes(spikes, stepName, allowed);
        addToLog(static_cast<double>(spikes), "spikes", "The measured spikes number");
        addToLog(t3 * f, "threshold", "");
        addToLog(static_cast<double>(allowed), "allowed:", "");
        addCommentToLog(stepName + (spikesPassed ? ": PASSED" : " FAILED"));

        allPassed = allPassed && meanPassed && noisePassed && spikesPassed;
    }
    popLog();
    if (manager) {
        if (wrongPosition)
            manager->AddError(ErrorType::AxisMapping, getName());
        else if (!allPassed)
            manager->AddError(ErrorType::Calibration, getName());
    }
    return allPassed;
}
