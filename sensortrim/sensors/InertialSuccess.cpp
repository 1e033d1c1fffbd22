// The success criteria of a calibration, and the rotation that best maps
// measured vectors onto the expected ones.
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

}  // namespace

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

void InertialSensor::logFound(const Matrix& averages) {
    addToLog(averages, "Averages", "The measured averages of the calibration process");
    addToLog(expectedResults, "ExpectedAverages", "The averages that are expected at a perfectly calibrated system");
    addToLog(o, "Offset", "The calculated offset of the sensor");
    addToLog(S, "Scale", "The calculated scale matrix of the sensor");
    addToLog(A, "AxisMapping", "The calculated axis mapping of the sensor");
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
    logFound(staticMeans);

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
    logFound(averages);

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

Matrix InertialSensor::findPartialRotation(const std::vector<Vector>& measured) {
    const Matrix p(measured);
    const Matrix h = p.transpose() * expectedResults;
    const SVD svd(h);
    return svd.getV() * svd.getU().transpose();
}
