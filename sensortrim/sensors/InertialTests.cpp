// Success criteria of a calibration, tests of an existing calibration, the
// face-up flow and the motionless detection of the live steps.
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

const double kRadToDeg = 180.0 / 3.14159265358979323846;
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

void InertialSensor::failOnNoise(const std::string& parameter) {
    if (noiseNamed)
        return;
    for (int i = 0; i < whiteNoise.size(); ++i)
        if (whiteNoise[i] > whiteNoiseLimit) {
            fail(parameter, "Calculated white noise is too high.\n");
            noiseNamed = true;
            return;
        }
}

void InertialSensor::checkMirroredMapping() {
    // A sensor's axes are right-handed, and so are the device's: the mapping
    // between them is a rotation. A mirror image comes of a position held the
    // other side up or a turn the wrong way round, never of the sensor.
    // A mapping that is no permutation at all, or one taken from a scale that
    // cannot be inverted, is irreversible, not mirrored.
    if (!(A.determinant3x3() < -0.5) || std::fabs(S.determinant3x3()) < 0.1)
        return;
    std::string cause;
    for (int axis = 0; axis < 3 && cause.empty(); ++axis)
        if (A[axis][axis] < 0 && std::fabs(A[(axis + 1) % 3][(axis + 1) % 3]) == 1 &&
            std::fabs(A[(axis + 2) % 3][(axis + 2) % 3]) == 1)
            cause = mirrorCause(axis);
    if (cause.empty())
        cause = "a position was held the other side up or a turn went the wrong way round";
    // On a line of its own, also after a reason that ends without one.
    const bool newLine = !failureReason.empty() && failureReason.back() != '\n';
    fail("AxisMapping", std::string(newLine ? "\n" : "") + "Mirrored axis mapping created: " + cause + ".\n");
}

void InertialSensor::checkSuccess() {
    addToLog(staticMeans, "Averages", "The measured averages of the calibration process");
    addToLog(expectedResults, "ExpectedAverages", "The averages that are expected at a perfectly calibrated system");
    addToLog(o, "Offset", "The calculated offset of the sensor");
    addToLog(S, "Scale", "The calculated scale matrix of the sensor");
    addToLog(A, "AxisMapping", "The calculated axis mapping of the sensor");

    // A part noisier than its limit fails for that first: the other
    // figures may follow from it.
    failOnNoise("White Noise");
    if (o.getAbsMaxValue() > offsetLimit)
        fail("Offset", "Calculated offset is too high.\n");
    const SVD svd(S);
    const Matrix sigma = svd.getSigma();
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(sigma[k][k] - 1) > scaleLimit) {
            fail("Scale", "Calculated scale is too high.\n");
            break;
        }
    }
    const double rotation = (svd.getU() * svd.getV().transpose()).rotationMatrixToRotationAxis().norm() * kRadToDeg;
    if (rotation > rotationLimit)
        fail("Rotation", "Calculated rotation is too high.\n");

    std::vector<double> norms;
    std::string calibratedText;
    double expectedError = 0;
    for (int s = 0; s < ownSteps; ++s) {
        const Vector c = getCalibratedVector(s);
        norms.push_back(c.norm());
        calibratedText += c.printArr();
        if (s < expectedResults.getRows())
            expectedError += (c - expectedResults.getRow(s)).norm();
    }
    expectedError /= ownSteps > 0 ? ownSteps : 1;
    const double normStd = Statistics::calcStd(norms);
    if (normStd > normDeviationLimit)
        fail("norm standard deviation", "Calculated norm standard deviation is too high.\n");
    if (expectedError > expectedErrorLimit)
        fail("expected error vs calibrated", "Expected error vs calibrated is too high.\n");
    if (std::fabs(A.determinant3x3()) < 0.1)
        fail("AxisMapping", "Irreversible axis mapping matrix created.\n");
    if (std::fabs(S.determinant3x3()) < 0.1)
        fail("scale", "Irreversible scale matrix created.\n");
    checkMirroredMapping();
    const double meanNorm = Statistics::mean(norms);
    if (meanNorm < nominalNorm - normTolerance)
        fail("norm variance", "Calculated norm value is too low.\n");
    if (meanNorm > nominalNorm + normTolerance)
        fail("norm variance", "Calculated norm value is too high.\n");

    TiXmlElement* calibrated = new TiXmlElement("CalibratedAverages");
    calibrated->SetAttribute("Rows", ownSteps);
    calibrated->SetAttribute("Cols", "3");
    addToLog(calibrated, calibratedText, "Measured averages after applying the calculated calibration");
    addToLog(normStd, "NormSTD", "The calculated norm standard deviation of the sensor during the calibration");
    addToLog(whiteNoise, "WhiteNoise", "The calculated white noise of the sensor during the calibration");

    judgePrecision(whiteNoise.getAbsMaxValue(), whiteNoiseLimit);
    if (!failure) {
        setLogAttribute("Success", "true");
        return;
    }
    throw CalibrationException("Calibration failed for sensor " + getName() + ". Reason: " + failureReason);
}

void InertialSensor::checkSuccess(Matrix averages) {
    if (resetCalibration)
        return;
    addToLog(averages, "Averages", "The measured averages of the calibration process");
    addToLog(expectedResults, "ExpectedAverages", "The averages that are expected at a perfectly calibrated system");
    addToLog(o, "Offset", "The calculated offset of the sensor");
    addToLog(S, "Scale", "The calculated scale matrix of the sensor");
    addToLog(A, "AxisMapping", "The calculated axis mapping of the sensor");

    failOnNoise("Noise");
    for (int i = 0; i < 3; ++i)
        if (std::fabs(o[i]) > offsetLimit) {
            fail("Offset", "Calculated offset is too high.\n");
            break;
        }
    bool scaleFailed = false, rotationFailed = false;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            if (i == j && !scaleFailed && std::fabs(S[i][i] - 1) > scaleLimit) {
                fail("Scale", "Calculated scale is too high.\n");
                scaleFailed = true;
            }
            if (i != j && !rotationFailed && std::fabs(S[i][j]) > rotationLimit) {
                fail("Rotation", "Calculated rotation is too high.\n");
                rotationFailed = true;
            }
        }

    const bool gyro = name == GYROSCOPE;
    std::string calibratedText;
    double sum = 0, sumSquares = 0, expectedError = 0;
    const int rows = averages.getRows();
    for (int i = 0; i < rows; ++i) {
        const Vector c = (S * A) * (gyro ? averages.getRow(i) : averages.getRow(i) - o);
        calibratedText += c.printArr();
        const double n = c.norm();
        sum += n;
        sumSquares += n * n;
        if (i < expectedResults.getRows())
            expectedError += (c - expectedResults.getRow(i)).norm();
    }
    TiXmlElement* calibrated = new TiXmlElement("CalibratedAverages");
    calibrated->SetAttribute("Rows", rows);
    calibrated->SetAttribute("Cols", "3");
    addToLog(calibrated, calibratedText, "Measured averages after applying the calculated calibration");
    const double normVariance = rows > 0 ? std::sqrt(std::fabs((sumSquares - sum * sum / rows) / rows)) : 0.0;
    addToLog(normVariance, "NormVariance", "The calculated norm variance of the sensor during the calibration");
    if (normVariance > normDeviationLimit)
        fail("norm variance", "Calculated norm variance is too high.\n");
    if (std::fabs(S.determinant3x3()) < 0.1 || std::fabs(A.determinant3x3()) < 0.1)
        fail("AxisMapping", "Irreversible matrix created");
    checkMirroredMapping();
    if (rows > 0 && expectedError / rows > expectedErrorLimit && !failure)
        setLogAttribute("FailureParameter", "expected error");

    judgePrecision(whiteNoise.getAbsMaxValue(), whiteNoiseLimit);
    if (!failure) {
        setLogAttribute("Success", "true");
        return;
    }
    throw CalibrationException("Calibration failed for sensor " + getName() + ". Reason: " + failureReason);
}

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

Matrix InertialSensor::findPartialRotation(const std::vector<Vector>& measured) {
    const Matrix p(measured);
    const Matrix h = p.transpose() * expectedResults;
    const SVD svd(h);
    return svd.getV() * svd.getU().transpose();
}

bool InertialSensor::bufferInTimeOrder() {
    // Samples only ever join at the end: the leading run in time order grows
    // with them and is checked once.
    if (timeOrdered > bufferedData.size())
        timeOrdered = 0;
    while (timeOrdered < bufferedData.size() &&
           (timeOrdered == 0 || bufferedData[timeOrdered].timestamp >= bufferedData[timeOrdered - 1].timestamp))
        ++timeOrdered;
    return timeOrdered == bufferedData.size();
}

BufferRange InertialSensor::findBufferRange(double start, double window) {
    if (bufferedData.empty())
        return BufferRange(-1, -1);
    int first = -1, last = -1;
    if (bufferInTimeOrder() && window >= 0) {
        // In time order the newest sample at or before a time is found by
        // bisection; it is the one the backward scan below stops at.
        auto newestAtOrBefore = [this](double t) {
            const auto it = std::upper_bound(bufferedData.begin(), bufferedData.end(), t,
                                             [](double value, const SensorData& s) { return value < s.timestamp; });
            return static_cast<int>(it - bufferedData.begin()) - 1;
        };
        first = newestAtOrBefore(start);
        last = newestAtOrBefore(start + window);
    } else {
        for (int i = static_cast<int>(bufferedData.size()) - 1; i >= 0; --i) {
            const double t = bufferedData[static_cast<size_t>(i)].timestamp;
            if (last < 0 && t <= start + window)
                last = i;
            if (first < 0 && t <= start) {
                first = i;
                break;
            }
        }
    }
    if (first < 0 && bufferedData.front().timestamp > start)
        first = 0;
    return BufferRange(first, last);
}

BufferRange InertialSensor::findBufferRange(double window) {
    if (bufferedData.empty())
        return BufferRange(-1, -1);
    return findBufferRange(bufferedData.back().timestamp - window, window);
}

Vector InertialSensor::DataMedian() {
    return Statistics::Median(bufferedData, findBufferRange(motionlessWindow));
}

double InertialSensor::medianError() {
    const BufferRange range = findBufferRange(motionlessWindow);
    if (range.first < 0 || range.last < range.first)
        return 0.0;
    // A median of n samples spreads 1.25 times as much as their mean.
    return 1.2533 * Statistics::FindSTDMax(bufferedData, range) / std::sqrt(static_cast<double>(range.last - range.first + 1));
}

double InertialSensor::motionShare(double windowMs) {
    const BufferRange range = findBufferRange(windowMs);
    if (range.first < 0 || range.last < 0 || motionStdLimit <= 0 || motionRangeLimit <= 0)
        return -1.0;
    const double s = Statistics::FindSTDMax(bufferedData, range);
    const double r = Statistics::FindRangeMax(bufferedData, range);
    return std::max(s / motionStdLimit, r / motionRangeLimit);
}

double InertialSensor::departureShare(const Vector& rest, double windowMs) {
    const BufferRange range = findBufferRange(windowMs);
    if (range.first < 0 || range.last < 0 || rest.size() != 3 || motionRangeLimit <= 0)
        return -1.0;
    double furthest = 0.0;
    for (int i = range.first; i <= range.last; ++i) {
        const SensorData& sample = bufferedData[static_cast<size_t>(i)];
        for (size_t axis = 0; axis < 3 && axis < sample.values.size(); ++axis)
            furthest = std::max(furthest, std::fabs(sample.values[axis] - rest[static_cast<int>(axis)]));
    }
    return furthest / motionRangeLimit;
}

bool InertialSensor::ISmotionless(bool adapt) {
    const BufferRange range = findBufferRange(motionlessWindow);
    if (range.first < 0 || range.last < 0)
        return false;
    const double s = Statistics::FindSTDMax(bufferedData, range);
    const double r = Statistics::FindRangeMax(bufferedData, range);
    if (adapt)
        setLimits(s, r, 1.5);
    const bool still = s <= motionStdLimit && r <= motionRangeLimit;
    if (!still || restDepartureLimit <= 0)
        return still;
    // A rate sensor at the end of its range reads a steady value while the
    // device turns: still is also near the rates of the first hold.
    Vector level(3);
    for (int i = range.first; i <= range.last; ++i)
        for (size_t axis = 0; axis < 3 && axis < bufferedData[static_cast<size_t>(i)].values.size(); ++axis)
            level[static_cast<int>(axis)] += bufferedData[static_cast<size_t>(i)].values[axis];
    level = level / (range.last - range.first + 1);
    if (adapt || restLevel.size() != 3) {
        restLevel = level;
        return true;
    }
    return (level - restLevel).Abs().Max() <= restDepartureLimit;
}

void InertialSensor::setLimits(double stdValue, double range, double factor) {
    motionRangeLimit = std::min(std::max(factor * range, motionLowerBound), motionRangeLimit);
    motionStdLimit = std::min(std::max(factor * stdValue, motionLowerBound), motionStdLimit);
}

double InertialSensor::ContinuMotionless(double start) {
    const BufferRange range = findBufferRange(start, motionlessWindow);
    if (range.first < 0 || range.last - range.first < 2)
        return 0;
    const double s0 = Statistics::FindSTDMax(bufferedData, range);
    const double r0 = Statistics::FindRangeMax(bufferedData, range);
    int n = 1;
    for (; bufferedData.back().timestamp > start + 100.0 * n; ++n) {
        const BufferRange next = findBufferRange(start + 100.0 * n, motionlessWindow);
        // A window with fewer than two samples is a gap in the recording (a
        // clock change, say): the device cannot be shown still across it, and
        // stepping through it 100 ms at a time would take as long as the gap.
        if (next.first < 0 || next.last - next.first < 1)
            break;
        if (Statistics::FindRangeMax(bufferedData, next) > 1.5 * r0 ||
            Statistics::FindSTDMax(bufferedData, next) > 1.5 * s0)
            break;
    }
    return 100.0 * (n - 1);
}
