// A calibration run's verdict: each sensor's calibration, and the checks that
// the calibrated sensors agree with each other.
#include "CalibrationManager.h"
#include "Exceptions.h"
#include "InertialSensor.h"
#include "RunHelpers.h"
#include "Statistics.h"

std::shared_ptr<Sensor> CalibrationManager::findCalibrating(const std::string& name) const {
    for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
        if (sensor->getName() == name)
            return sensor;
    return nullptr;
}

void CalibrationManager::calibrateAll() {
    bool allOk = true;
    std::string message;
    for (const std::shared_ptr<Sensor>& sensor : calibratingSensors) {
        try {
            sensor->calibrate();
        } catch (const CalibrationException& e) {
            allOk = false;
            const std::string text = e.what();
            // The run log has the sensor's element, whatever stopped it.
            sensor->logFailure(text);
            if (text.find("Calibration failed for all sensors. ") != std::string::npos) {
                message = text;
                break;
            }
            if (!message.empty())
                message += "\n";
            message += text;
            if (!sensor->isPrimary())
                message += " To calibrate only the primary sensor, you can use the primary sensors only option";
            continue;
        }
        const auto companion = dynamicMap.find(sensor);
        if (flowType != FLOW_MINIMAL && sensor->getSensorType() == 1 && companion != dynamicMap.end() &&
            !companion->second->getOriginalScaling().empty()) {
            auto own = inertial(sensor);
            auto dynamic = inertial(companion->second);
            if (own && dynamic)
                dynamic->setWhiteNoise(own->getWhiteNoise());
        }
    }
    if (allOk && flowType == FLOW_FULL) {
        try {
            checkCalibration();
        } catch (const CalibrationException& e) {
            allOk = false;
            message = e.what();
        }
    }
    writeLog();
    if (!allOk)
        throw CalibrationException(message);
}

double FindDipAngle(const std::shared_ptr<InertialSensor>& magnetometer,
                    const std::shared_ptr<InertialSensor>& accelerometer) {
    if (!magnetometer || !accelerometer)
        return 0;
    std::vector<double> angles;
    for (int s = 0; s < accelerometer->getDynamicNumSteps(); ++s)
        angles.push_back(
            magnetometer->calibrateSeg(s, true).vectorAngle(accelerometer->calibrateSeg(s, true)));
    return Statistics::calcStd(angles) / 0.017453292519943295;
}

double CalibrationManager::findDiffGyro(const std::shared_ptr<InertialSensor>& gyroscope,
                                        const std::shared_ptr<InertialSensor>& sensor, const Matrix& rotation) {
    if (!gyroscope || !sensor)
        return 0;
    const std::vector<double> times = sensorManager.getSegmentTimes();
    const size_t k = flowType == FLOW_FULL ? 4 : 2;
    std::vector<double> values;
    for (int i = 0; i < gyroscope->getDynamicNumSteps(); ++i) {
        const size_t end = (static_cast<size_t>(i) + 1) * k;
        if (end >= times.size())
            break;
        values.push_back(InertialSensor::findGyroRotation(sensor, times[end - 1], times[end], gyroscope, i, rotation));
        if (sensor->getName() == "Magnetometer" && static_cast<size_t>(i) * k + 2 < times.size())
            values.push_back(InertialSensor::findGyroRotation(sensor, times[static_cast<size_t>(i) * k + 1],
                                                              times[static_cast<size_t>(i) * k + 2], gyroscope, i,
                                                              rotation));
    }
    double largest = 0;
    for (double v : values)
        largest = std::max(largest, v);
    return largest;
}

void CalibrationManager::checkCalibration() {
    const auto gyroscope = inertial(findCalibrating("Gyroscope"));
    const auto accelerometer = inertial(findCalibrating("Accelerometer"));
    const auto second = inertial(findCalibrating("Accelerometer_2"));
    const auto magnetometer = inertial(findCalibrating("Magnetometer"));
    bool failed = false;
    std::string reasons;
    auto check = [&](bool applies, double value, double limit, const std::shared_ptr<InertialSensor>& loggedOn,
                     const char* parameter, const char* element, const char* comment, const char* reason) {
        if (!applies || !(value > limit))
            return;
        if (!failed && loggedOn) {
            loggedOn->addToLog(value, element, comment);
            if (TiXmlElement* log = loggedOn->getLogRoot()) {
                log->SetAttribute("Success", "false");
                log->SetAttribute("FailureParameter", parameter);
            }
        }
        failed = true;
        reasons += reason;
    };
    const Matrix identity = Matrix::Identity(3);
    check(selectA && selectM, FindDipAngle(magnetometer, accelerometer), 6.0, magnetometer, "Dip Angle", "DipAngle",
          "Dip angle value", "Calculated dip angle is too high, check magnetic environment.\n");
    check(selectM && selectG, findDiffGyro(gyroscope, magnetometer, identity), 1000.0, magnetometer, "Mag-Gyro Diff",
          "Gyro-Mag diff", "Gyro & Magnetometer difference",
          "Disagreement between magnetometer and gyroscope - check magnetic environment.\n");
    check(selectA && selectG, findDiffGyro(gyroscope, accelerometer, identity), 1.0, accelerometer, "Gyro-Accel Diff",
          "Gyro-Accel diff", "Gyro & Accelerometer difference", "Disagreement between accelerometer and gyroscope.\n");
    if (selectA && selectG && second && accelerometer) {
        const Matrix rotation = accelerometer->findPartialRotation(second->getExpectedResults());
        check(true, findDiffGyro(gyroscope, second, rotation), 1.0, second, "Gyro-Accel_2 Diff", "Gyro-Accel_2 diff",
              "Gyro & Accelerometer_2 difference", "Disagreement between accelerometer_2 and gyroscope.\n");
    }
    if (failed)
        throw CalibrationException("Calibration failed. Reason: " + reasons);
}
