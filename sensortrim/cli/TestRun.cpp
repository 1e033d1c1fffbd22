// A test run's verdict: each sensor's test of its calibration, the gyroscope's
// turns against the other sensors, and the magnetic environment test.
#include <cstdio>
#include <fstream>

#include "CalibrationManager.h"
#include "Console.h"
#include "Exceptions.h"
#include "file/AtomicFile.h"
#include "Gyroscope.h"
#include "Magnetometer.h"
#include "RunHelpers.h"
#include "TestingThresholds.h"

namespace {

const double kRadToDeg = 57.29577951308232;

}  // namespace

void CalibrationManager::testAll() {
    bool allPass = true;
    // Why sensors failed when they did not report a verdict of their own.
    std::string reasons;
    for (const std::shared_ptr<Sensor>& sensor : calibratingSensors) {
        try {
            const bool passed = sensor->testCalibration();
            if (TiXmlElement* log = sensor->getLogRoot())
                log->SetAttribute("Success", passed ? "true" : "false");
            allPass = allPass && passed;
            if (!passed)
                reasons += sensor->getName() + ": test failed\n";
        } catch (const CalibrationException& e) {
            allPass = false;
            reasons += sensor->getName() + ": " + e.what() + "\n";
            sensor->logFailure(e.what());
        }
    }
    // The gyroscope's turns against the other sensors count in the verdict:
    // a test that finds them apart fails, naming the gyroscope and the steps.
    rotationFailures.clear();
    if (flowType != FLOW_MINIMAL && !TestMultipleSensors(selectA, selectG, selectM)) {
        allPass = false;
        for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
            if (sensor->getName() == "Gyroscope" && sensor->isPrimary())
                if (TiXmlElement* log = sensor->getLogRoot())
                    log->SetAttribute("Success", "false");
        sensorManager.AddError(ErrorType::Calibration, "Gyroscope");
        for (const std::string& failure : rotationFailures)
            reasons += failure + "\n";
    }
    writeLog();
    if (allPass) {
        consoleOut() << "----   test pass -----" << std::endl;
        return;
    }
    std::string text;
    sensorManager.GetFinalErrorStr(text);
    // A failed test always names its reason, on the console and in error.log;
    // a turn that disagrees names its step.
    if (text.empty())
        text = reasons;
    else
        for (const std::string& failure : rotationFailures)
            text += failure + "\n";
    writeErrorLog(text);
    throw CalibrationException(text);
}

void CalibrationManager::writeErrorLog(const std::string& text) {
    if (!exportAll)
        return;
    errorLogWritten = true;
    // Whole or not at all; one that cannot be written is skipped (the test fails all the same).
    atomicfile::write(exportFolder + "error.log", text);
}

void CalibrationManager::magTest() {
    try {
        auto magnetometer =
            calibratingSensors.empty() ? nullptr : std::dynamic_pointer_cast<Magnetometer>(calibratingSensors.front());
        if (!magnetometer)
            throw CalibrationException("No magnetometer to test the magnetic environment with");
        magnetometer->magEnvTest();
    } catch (const CalibrationException&) {
        writeLog();
        throw;
    }
    writeLog();
}

bool CalibrationManager::TestMultipleSensors(bool a, bool g, bool m) {
    if (!g)
        return true;
    auto primary = [this](const std::string& name) -> std::shared_ptr<Sensor> {
        for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
            if (sensor->getName() == name && sensor->isPrimary())
                return sensor;
        return nullptr;
    };
    const auto gyroscope = std::dynamic_pointer_cast<Gyroscope>(primary("Gyroscope"));
    const auto accelerometer = a ? inertial(primary("Accelerometer")) : nullptr;
    const auto magnetometer = m ? std::dynamic_pointer_cast<Magnetometer>(primary("Magnetometer")) : nullptr;
    if (!gyroscope)
        return true;
    if (a && accelerometer)
        return compareRotations(*gyroscope, *accelerometer, Vector(3), "Gyro_Accel", " Gravity rotation test",
                                "difference between gyro and accel",
                                TestingThresholds::Inst().rotationAgreementAcc);
    if (!a && m && magnetometer)
        return compareRotations(*gyroscope, *magnetometer, magnetometer->getCenter(), "Gyro_Mag",
                                " Magnetometer rotation test", "difference between gyro and mag",
                                TestingThresholds::Inst().rotationAgreementMag);
    return true;
}

bool CalibrationManager::compareRotations(Gyroscope& gyroscope, InertialSensor& sensor, const Vector& center,
                                          const std::string& pair, const std::string& testName,
                                          const std::string& anglesComment, double threshold) {
    gyroscope.pushLog("Performing_TestCompareRotation_" + pair);
    bool result = true;
    const std::vector<Matrix>& rotations = gyroscope.getStepRotations();
    const Matrix& means = sensor.getStaticMeans();
    for (int s = 1; s < sensorManager.getNumSteps(); ++s) {
        gyroscope.addCommentToLog("step " + std::to_string(s));
        // Without a rotation or a mean for the step the comparison cannot pass.
        bool pass = false;
        Vector angle(1);
        if (static_cast<size_t>(s - 1) < rotations.size() && s < means.getRows()) {
            const Vector current = means.getRow(s) - center;
            const Vector previous = means.getRow(s - 1) - center;
            const Vector rotated = rotations[static_cast<size_t>(s - 1)] * current;
            // The thresholds are degrees: the angle is compared in degrees.
            angle[0] = rotated.vectorAngle(previous) * kRadToDeg;
            pass = gyroscope.AssertVector(angle, Vector(1), threshold,
                                          gyroscope.getName() + " step " + std::to_string(s) + testName, "");
        }
        gyroscope.addToLog(angle, "Angles", anglesComment);
        gyroscope.addToLog(Vector(1), "Expected", "The difference that is expected at a perfectly calibrated system");
        gyroscope.addToLog(threshold, "threshold", "rotation_agreement_degrees");
        gyroscope.addCommentToLog(pass ? ": PASSED" : " FAILED");
        if (!pass) {
            char text[200];
            std::snprintf(text, sizeof text, "%.1f degrees apart, at most %g", angle[0], threshold);
            rotationFailures.push_back(gyroscope.getName() + " step " + std::to_string(s) + testName + ": the turn and the " +
                                       sensor.getName() + " " + text);
        }
        result = result && pass;
    }
    gyroscope.popLog();
    return result;
}
