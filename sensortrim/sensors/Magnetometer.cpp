// The magnetic field sensor: its limits, its samples, how it tells motion and
// the move to the next position, and the magnetic environment test run before
// calibrating.
#include "Magnetometer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Exceptions.h"
#include "Statistics.h"

namespace {

const double kRadToDeg = 57.29577951308232;

}  // namespace

Magnetometer::Magnetometer(const _sc_sensor_luid& id) : InertialSensor(id) {
    name = MAGNETOMER;
    samplingUnit = Unit_milliGauss;
    calibrationUnit = Unit_microGauss;
    canCalibrate = true;
    motionLowerBound = 1.0;
    motionStdLimit = 30.0;
    motionRangeLimit = 100.0;
    ownSteps = 4;
}

_sc_sensor_luid Magnetometer::getLuidForSampling() {
    _sc_sensor_luid sampling = luid;
    sampling.sensorType = 578;
    sampling.flags = 0;
    return sampling;
}

void Magnetometer::setLimits() {
    const bool full = flowType() == FLOW_FULL;
    offsetLimit = 10000.0;
    normDeviationLimit = 30.0;
    expectedErrorLimit = 150.0;
    whiteNoiseLimit = full ? 15.0 : 50.0;
    scaleLimit = 1.0;
    rotationLimit = full ? 20.0 : 1.0;
    faceUpOffsetLimit = 5000.0;
    faceUpNoiseLimit = 40.0;
    defaultNoise = 1.0;
    normTolerance = 200.0;
    nominalNorm = 450.0;
    if (samplingUnit != Unit_milliGauss)
        convertDependentLimits(Unit_milliGauss, samplingUnit);
    environmentReduceDistance = 10.0;
}

bool Magnetometer::dataRecieved(SensorData& data) {
    if (processType() != PROCESS_MAGNETIC_TEST)
        return DataReceivedCommon(data);
    if (fitDone) {
        dipAngles.push_back(findDipAngleWithGravity(data));
    } else {
        std::lock_guard<std::mutex> lock(bufferMutex);
        bufferedData.push_back(data);
    }
    return true;
}

std::string Magnetometer::getResult() {
    if (processType() == PROCESS_MAGNETIC_TEST)
        return "Test passed. You are good to go!\n";
    return InertialSensor::getResult();
}

void Magnetometer::checkSuccess(Matrix averages) {
    failOnNoise("Noise");
    // Noise that a tenth of a second averages away is no sensor's: a field
    // that alternates faster than that, as mains wiring makes one.
    if (noiseNamed && swingNoise.size() == 3 && swingNoise.getAbsMaxValue() < 0.5 * whiteNoise.getAbsMaxValue()) {
        char text[300];
        std::snprintf(text, sizeof text,
                      "The field at the station swings by %.0f mG RMS from sample to sample but by %.1f mG over a "
                      "tenth of a second: the field of mains wiring or a power supply near, not the sensor's "
                      "noise: calibrate away from them.\n",
                      whiteNoise.getAbsMaxValue(), swingNoise.getAbsMaxValue() / std::sqrt(10.0));
        fail("Noise", text);
    }
    // The strength is known to what the noise lets the fit find: it must be
    // past a limit by more than that.
    const double field = expectedResults.getRows() > 0 ? expectedResults.getRow(0).norm() : 0.0;
    const double error = kRiskSigmas * fieldError;
    if (field < minFieldStrength - error)
        fail("MagneticField", "Calculated magnetic field is too low.\n ");
    else if (field > maxFieldStrength + error)
        fail("MagneticField", "Calculated magnetic field is too high.\n ");
    InertialSensor::checkSuccess(averages);
}

bool Magnetometer::checkMotion(double window) {
    if (bufferedData.empty())
        return false;
    const double from = bufferedData.back().timestamp - window;
    Vector low(3), high(3);
    bool first = true;
    for (auto it = bufferedData.rbegin(); it != bufferedData.rend() && it->timestamp >= from; ++it) {
        if (it->values.size() < 3)
            continue;
        for (int axis = 0; axis < 3; ++axis) {
            const double v = it->values[static_cast<size_t>(axis)];
            low[axis] = first ? v : std::min(low[axis], v);
            high[axis] = first ? v : std::max(high[axis], v);
        }
        first = false;
    }
    return (high - low).Max() > motionRangeThreshold;
}

bool Magnetometer::checkMovement() {
    if (bufferedData.empty() || bufferedData.back().values.size() < 3)
        return false;
    return movedFurtherThan(movementDistance);
}

void Magnetometer::setLastData(Vector data) {
    InertialSensor::setLastData(data);
    // The flow this marks turns the device a quarter about its Z axis, which
    // points up: the field's part across Z moves by the square root of two
    // times its length. A steep field, or a weak one, moves less than
    // movementThreshold; half the move tells it, as long as the noise cannot.
    movementDistance = movementThreshold;
    if (data.size() == 3) {
        const double across = std::hypot(data[0], data[1]);
        movementDistance = std::max(std::min(movementThreshold, 0.5 * std::sqrt(2.0) * across), motionRangeLimit);
    }
}

void Magnetometer::MidCalc() {
    findFit();
    fitDone = true;
}

void Magnetometer::findFit() {
    std::unique_lock<std::mutex> lock(bufferMutex);
    try {
        const std::vector<SensorData> samples = Vector::reduceBuffer(bufferedData, environmentReduceDistance);
        environmentFit = EllipsoidFit(samples, 1.0);
        const double error = environmentFit.ellipsoidError(samples, 1.0);
        lock.unlock();
        addToLog(error, "EllipsoidError", "the error of the ellipsoid fit");
        if (error > 0.05)
            throw CalibrationException("The environment is not good for calibrating, ellipsoid error is too high");
    } catch (const CalibrationException&) {
        setLogAttribute("FailureParameter", "EllipsoidError");
        throw;
    } catch (const MathException&) {
        pushLog("Magnetic_Environment_Test");
        setLogAttribute("FailureParameter", "Ellipsoid");
        popLog();
        throw CalibrationException(
            "Failed to calculate ellipsoid fit because of large magnetic interface. Check your environment");
    } catch (const std::exception&) {
        throw CalibrationException("The environment is too noisy for calibrating");
    }
}

double Magnetometer::findDipAngleWithGravity(const SensorData& sample) const {
    const Vector up(std::vector<double>{0, 0, 1});
    return environmentFit.calibrate(Vector(sample.values)).vectorAngle(up) * kRadToDeg;
}

void Magnetometer::checkDipAngle() {
    // Without a sample after the fit there is nothing to judge the environment by.
    if (dipAngles.empty()) {
        setLogAttribute("FailureParameter", "Dip Angle STD");
        throw CalibrationException("The environment could not be tested: no magnetometer sample after the fit");
    }
    const double deviation = Statistics::calcStd(dipAngles);
    addToLog(deviation, "Dip Angle STD", "the standard deviation of the dip angles");
    if (deviation > 1.0) {
        setLogAttribute("FailureParameter", "Dip Angle STD");
        throw CalibrationException("The environment is not good for calibrating, dip angle standard deviation is too high");
    }
    const auto range = std::minmax_element(dipAngles.begin(), dipAngles.end());
    const double spread = *range.second - *range.first;
    addToLog(spread, "Dip Angle Range", "the range of the dip angles");
    if (spread > 5.0) {
        setLogAttribute("FailureParameter", "Dip Angle Range");
        throw CalibrationException("The environment is not good for calibrating, dip angle range is too high");
    }
    setLogAttribute("Success", "true");
}

void Magnetometer::magEnvTest() {
    checkDipAngle();
}

std::string Magnetometer::mirrorCause(int axis) const {
    // The full flow's turns give the axes: X in step 6, Y in step 4, Z in step 2.
    if (flowType() != FLOW_FULL)
        return "";
    return "the device was the other side up while it turned in step " + std::to_string(6 - 2 * axis);
}
