// The face-up flow: one position, its mean and noise, its calibration and test.
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

void InertialSensor::faceUpDataRecieved(const SensorData& data) {
    if (data.values.size() < 3)
        return;
    const Vector v(std::vector<double>(data.values.begin(), data.values.begin() + 3));
    faceUpSum += v;
    faceUpSumSquares += v * v;
    ++faceUpCount;
}

Vector InertialSensor::faceUpMean() const {
    return faceUpSum / faceUpCount;
}

Vector InertialSensor::faceUpDeviation() const {
    const Vector m = faceUpMean();
    return (faceUpSumSquares / faceUpCount - m * m).Abs().Sqrt();
}

bool InertialSensor::faceUpTestCalibration() {
    bool passed = true;
    const Vector m = faceUpMean();
    const Vector d = faceUpDeviation();
    for (int k = 0; k < 3; ++k) {
        if (d[k] > noiseLimit) {
            consoleOut() << "[Failure] Noise on " << name << " sensor exceeded the threshold on axis:" << AxisName(k)
                      << "\n"
                      << "Noise: " << d[k] << " , maximum allowed is " << noiseLimit << "\n";
            passed = false;
            break;
        }
    }
    addToLog(d, "StandardDeviation", "measured noise");
    addToLog(Vector(3), "Expected", "noise expected at a perfectly calibrated system");
    addToLog(noiseLimit, "threshold", "");
    addCommentToLog(passed ? "PASSED" : "FAILED");

    int spikes = 0;
    for (const SensorData& s : bufferedData)
        if (s.values.size() >= 3 &&
            (Vector(std::vector<double>(s.values.begin(), s.values.begin() + 3)) - m).getAbsMaxValue() > spikeLimit)
            ++spikes;
    const int allowed = TestingThresholds::Inst().maxSpikesAllowed;
    if (spikes > allowed) {
        consoleOut() << "[Failure] Spikes number detected on " << name << " is above allowed threshold of " << allowed
                  << "\n";
        passed = false;
    }

    const Vector difference = m - faceUpExpected;
    if (difference.getAbsMaxValue() > averageThreshold) {
        consoleOut() << "[Failure] Average value error in " << name << " above allowed threshold " << averageThreshold
                  << "\n"
                  << "Expected: " << faceUpExpected.print() << "Results:  " << m.print();
        passed = false;
    }
    addToLog(m, "Average", "The measured averages");
    addToLog(faceUpExpected, "ExpectedAverage", "The averages that are expected at a perfectly calibrated system");
    addToLog(averageThreshold, "threshold", "");
    if (!passed && manager)
        manager->AddError(ErrorType::Calibration, getName());
    return passed;
}

void InertialSensor::faceUpDataCalibrate() {
    std::vector<unsigned char> record =
        originalPresent && originalScaling.size() >= staticrecord::kSize ? originalScaling : getStaticDefault();
    if (faceUpCount == 0)
        throw CalibrationException(getName() + " Calibration Error: No data was available");
    const Vector m = faceUpMean();
    const Vector& e = faceUpExpected;
    addToLog(m, "Averages", "The measured averages of the calibration process");
    addToLog(e, "ExpectedAverages", "The averages that are expected at a perfectly calibrated system");

    const Vector d = faceUpDeviation();
    if (reverseMatrix.getRows() != 3 && originalPresent)
        calcReverseSdt();
    const Matrix reverse = reverseMatrix.getRows() == 3 ? reverseMatrix : Matrix::Identity(3);
    const Vector offset = m - reverse * e;
    addToLog(offset, "Offset", "The calculated offset of the sensor");
    addToLog(d, "StandardDeviation", "The standard deviation of the sampled sensor data");
    addToLog(m - offset, "CalibratedAverages", "Measured averages after applying the calculated calibration");

    if (offset.getAbsMaxValue() > faceUpOffsetLimit) {
        Vector flipped = offset;
        flipped[2] = -(e[2] + offset[2]) - e[2];
        fail("Offset", flipped.getAbsMaxValue() <= faceUpOffsetLimit
                           ? "Calculated offset is too high. Check that axis mapping is correct. Note That "
                             "per-model calibration is a prerequisite for running a Face Up calibration.\n"
                           : "Calculated offset is too high.\n");
    }
    if (d.getAbsMaxValue() > faceUpNoiseLimit)
        fail("StandardDeviation", "Data standard deviation is too high. Device should be motionless.\n");
    o = offset;
    whiteNoise = d;
    // The offset is the hold's mean: as good as its standard error.
    precision = Precision();
    precision.offsetElements = d / std::sqrt(static_cast<double>(faceUpCount));
    precision.offset = precision.offsetElements.getAbsMaxValue();
    judgePrecision(d.getAbsMaxValue(), faceUpNoiseLimit);
    if (failure)
        throw CalibrationException("Calibration failed for sensor " + getName() + ". Reason: " + failureReason);

    setLogAttribute("Success", "true");
    int32_t offsets[3];
    convertOffset(Matrix(o), samplingUnit, calibrationUnit, offsets);
    for (int i = 0; i < 3; ++i)
        xmlutil::writeU32(record, staticrecord::kOffsets + 4 * static_cast<size_t>(i),
                          static_cast<uint32_t>(offsets[i]));
    scaling = record;
}
