#include "Accelerometer.h"

#include <cmath>

#include "Exceptions.h"
#include "SDT.h"
#include "TestingThresholds.h"
#include "XmlUtil.h"

namespace {

// Expected gravity per step as (axis, sign) pairs; axis 2 is z.
struct Row {
    int axis;
    int sign;
};

// Four positions (flows 0 and 4): primary, then hinge BOTTOM, TOP, LEFT, RIGHT.
const Row kFourPositions[5][4] = {
    {{2, 1}, {1, 1}, {0, 1}, {1, -1}},
    {{2, -1}, {1, -1}, {0, 1}, {1, 1}},
    {{2, -1}, {1, 1}, {0, -1}, {1, -1}},
    {{2, -1}, {0, -1}, {1, -1}, {0, 1}},
    {{2, -1}, {0, 1}, {1, 1}, {0, -1}},
};
// Four steps (flow 2), same order.
const Row kFourSteps[5][4] = {
    {{2, 1}, {0, -1}, {1, 1}, {2, 1}},
    {{2, -1}, {0, -1}, {1, -1}, {2, -1}},
    {{2, -1}, {0, 1}, {1, 1}, {2, -1}},
    {{2, -1}, {1, 1}, {0, -1}, {2, -1}},
    {{2, -1}, {1, -1}, {0, 1}, {2, -1}},
};

}  // namespace

Accelerometer::Accelerometer(const _sc_sensor_luid& id) : InertialSensor(id) {
    canCalibrate = true;
    name = ACCELEROMETER;
    samplingUnit = Unit_g0;
    calibrationUnit = Unit_microg0;
    divider = 1000000;
    ownSteps = 4;
    motionLowerBound = 0.0005;
    motionStdLimit = 0.02;
    motionRangeLimit = 0.1;
}

void Accelerometer::setLimits() {
    const CalibrationFlowType flow = flowType();
    const bool full = flow == FLOW_FULL || flow == FLOW_STATIC_FOUR_POSITIONS;
    normDeviationLimit = full ? 0.001 : 0.04;
    expectedErrorLimit = full ? 0.001 : 0.2;
    whiteNoiseLimit = full ? 0.015 : 0.06;
    scaleLimit = full ? 0.3 : 0.5;
    rotationLimit = full ? 5.0 : 0.3;
    if (full)
        defaultNoise = 0.001;
    offsetLimit = 0.3;
    nominalNorm = 1.0;
    normTolerance = 0.02;
    scaleReference = 1.0;
    faceUpNoiseLimit = 0.05;
    faceUpOffsetLimit = 0.3;
    if (samplingUnit != Unit_g0)
        convertDependentLimits(Unit_g0, samplingUnit);
}

void Accelerometer::calcExpected() {
    const CalibrationFlowType flow = flowType();
    const double s = isPrimary() ? 1.0 : -1.0;
    faceUpExpected = Vector(std::vector<double>{0, 0, s * gravity});
    int table = 0;
    if (!isPrimary()) {
        // A secondary accelerometer follows its hinge position.
        const std::string position = getHingeConfig();
        table = position == "BOTTOM" ? 1 : position == "TOP" ? 2 : position == "LEFT" ? 3 : 4;
    }
    const int rows = std::max(4, numStaticStates);
    expectedResults.init(rows, 3);
    for (int step = 0; step < rows; ++step) {
        if (flow == FLOW_MAG_FOUR_STEPS || step >= 4) {
            expectedResults[step][2] = s * gravity;
            continue;
        }
        const Row r = flow == FLOW_FOUR_STEPS ? kFourSteps[table][step] : kFourPositions[table][step];
        expectedResults[step][r.axis] = r.sign * gravity;
    }
}

Matrix Accelerometer::MatFromSeg() {
    Matrix m(12, 12);
    for (int a = 0; a < 3; ++a)
        for (int j = 0; j < 4; ++j) {
            for (int c = 0; c < 3; ++c)
                m[4 * a + j][4 * a + c] = staticMeans[j][c];
            m[4 * a + j][4 * a + 3] = 0.001;
        }
    return m;
}

Vector Accelerometer::VecFromExpected() {
    Vector y(12);
    for (int a = 0; a < 3; ++a)
        for (int j = 0; j < 4; ++j)
            y[4 * a + j] = expectedResults[j][a];
    return y;
}

void Accelerometer::GetScaleOffset(const Vector& x) {
    if (x.size() != 12)
        return;
    for (int a = 0; a < 3; ++a)
        for (int c = 0; c < 3; ++c)
            S[a][c] = x[4 * a + c];
    const Vector b(std::vector<double>{x[3], x[7], x[11]});
    o = (S.invert3x3() * -0.001) * b;
}

void Accelerometer::SetMapping3() {
    Matrix p(3, 3), e(3, 3);
    for (int i = 0; i < 3; ++i) {
        const Vector mean = staticMeans.getRow(i);
        const int k = mean.getAbsMaxIndex();
        p[k][i] = mean[k] > 0 ? 1.0 : mean[k] == 0 ? 0.0 : -1.0;
        e.setColumn(expectedResults.getRow(i).normalize(), i);
    }
    A = e * p.invert3x3();
}

void Accelerometer::SetOffset() {
    o = Vector(3);
    int counter[3] = {0, 0, 0};
    for (int s = 0; s < managerSteps() && s < staticMeans.getRows(); ++s) {
        const Vector a = A * staticMeans.getRow(s);
        o += a;
        const int k = a.getAbsMaxIndex();
        o[k] -= a[k];
        for (int axis = 0; axis < 3; ++axis)
            if (axis != k)
                ++counter[axis];
    }
    for (int axis = 0; axis < 3; ++axis)
        o[axis] = o[axis] / counter[axis];
    o = A.transpose() * o;
}

void Accelerometer::SetScale() {
    for (int i = 0; i < 3; ++i) {
        const Vector a = A * (staticMeans.getRow(i) - o);
        const int k = a.getAbsMaxIndex();
        S[k][k] = scaleReference / std::fabs(a[k]);
    }
}

void Accelerometer::CheckAxisMappingVsOrig() {
    if (!isPrimary())
        return;
    const uint32_t mapping = compressAxisMapping(A);
    uint32_t original = 0x10101;
    if (originalPresent && originalScaling.size() >= staticrecord::kVendorLength)
        original = compressAxisMapping(decompressAxisMapping(recordAxisMapping(originalScaling)));
    if (mapping != original) {
        setLogAttribute("FailureParameter", "AxisMapping");
        throw CalibrationException(std::string("Calibration failed for all sensors. ") + "Reason: wrong movement detected");
    }
}

void Accelerometer::calibrate() {
    setLimits();
    initStaticStates();
    calcExpected();
    switch (flowType()) {
    case FLOW_MINIMAL:
        faceUpDataCalibrate();
        break;
    case FLOW_FULL:
    case FLOW_STATIC_FOUR_POSITIONS: {
        FindSegmentation();
        const Vector x = MatFromSeg().invert() * VecFromExpected();
        GetScaleOffset(x);
        // The same solution from holds read as their noise lets them read.
        const Matrix means = staticMeans, found = S;
        const Vector offset = o;
        precision = spreadOf(
            0,
            [&](std::mt19937& rng) {
                staticMeans = drawnMeans(means, rng);
                GetScaleOffset(MatFromSeg().invert() * VecFromExpected());
                return std::make_pair(S, o);
            },
            found, offset, false);
        staticMeans = means;
        S = found;
        o = offset;
        endCalibration(false);
        checkSuccess();
        convertToFWForamt();
        break;
    }
    case FLOW_FOUR_STEPS:
        FindSegmentation();
        whiteNoise = calcWhiteNoise();
        try {
            SetMapping3();
            SetOffset();
            SetScale();
            const Matrix means = staticMeans, found = S, mapping = A;
            const Vector offset = o;
            precision = spreadOf(
                0,
                [&](std::mt19937& rng) {
                    staticMeans = drawnMeans(means, rng);
                    SetOffset();
                    SetScale();
                    return std::make_pair(S * A, o);
                },
                found * mapping, offset, false);
            staticMeans = means;
            S = found;
            A = mapping;
            o = offset;
        } catch (const MathException&) {
            throw CalibrationException("Math Exception in Accelerometer");
        }
        if (needCheckAxisMapping)
            CheckAxisMappingVsOrig();
        checkSuccess(staticMeans);
        convertToFWForamt();
        break;
    default:
        break;
    }
}

bool Accelerometer::testCalibration() {
    initStaticStates();
    calcExpected();
    averageThreshold = TestingThresholds::Inst().accThreshold;
    noiseLimit = TestingThresholds::Inst().accMaxNoise;
    spikeLimit = TestingThresholds::Inst().accMaxSpike;
    if (flowType() != FLOW_MINIMAL) {
        ComputeStaticSegmentsMeans();
        ComputeStaticSegmentsStds();
    }
    return runTests();
}

void Accelerometer::initSDTCalibrationData(SDT& sdt) {
    Sensor::initSDTCalibrationData(sdt);
    hinge = 0;
    if (!isPrimary())
        hinge = sdt.getConnectionHinge();
}

bool Accelerometer::checkMovement() {
    if (bufferedData.empty())
        return false;
    // Where the device is now: the median of the last tenth of a second, so
    // that a knock or a re-grip (a jolt of a sample or two) is no move.
    return movedFurtherThan(movementThreshold);
}

std::vector<std::vector<double>> Accelerometer::getBuferedDataRange(unsigned long start, unsigned long count) {
    if (start + count >= bufferedData.size())
        throw CalibrationException("Failed calling GetRange. Inner error");
    std::vector<std::vector<double>> values;
    for (unsigned long i = start; i < start + count; ++i)
        values.push_back(bufferedData[i].values);
    return values;
}

InertialSensor::Tolerance Accelerometer::tolerance() const {
    switch (flowType()) {
    case FLOW_FULL:
    case FLOW_STATIC_FOUR_POSITIONS:
        return {0.003, 0.003};
    case FLOW_FOUR_STEPS:
        // What the misalignment the flow cannot see leaves, with the noise's share.
        return {0.015, 0.02};
    case FLOW_MINIMAL:
        return {0.0, 0.003};
    default:
        return {};
    }
}

std::string Accelerometer::mirrorCause(int axis) const {
    // The position whose gravity lies along the axis, when only one does.
    int step = -1;
    for (int s = 0; s < expectedResults.getRows(); ++s)
        if (Matrix::getIndexOfAbsoluteMax(expectedResults.getRow(s)) == axis) {
            if (step >= 0)
                return "";
            step = s;
        }
    if (step < 0)
        return "";
    // The full flow's positions are its odd steps on the console.
    const int console = flowType() == FLOW_FULL ? 2 * step + 1 : step + 1;
    return "the device was placed the other side up in step " + std::to_string(console);
}
