#include "Gyroscope.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "Exceptions.h"
#include "Statistics.h"
#include "TestingThresholds.h"

namespace {

const double kQuarterPi = 0.7853981633974483;

// The integral from 0 to 2 of the cubic through the points at `at` that is
// 1 at at[i] and 0 at the others.
double cubicWeight(const double at[4], int i) {
    double r[3], denominator = 1;
    int n = 0;
    for (int k = 0; k < 4; ++k)
        if (k != i) {
            r[n++] = at[k];
            denominator *= at[i] - at[k];
        }
    // (x - r0)(x - r1)(x - r2) = x^3 + a x^2 + b x + c
    const double a = -(r[0] + r[1] + r[2]), b = r[0] * r[1] + r[0] * r[2] + r[1] * r[2], c = -r[0] * r[1] * r[2];
    return (4 + a * 8 / 3 + b * 2 + c * 2) / denominator;
}
const double kDegToRad = 0.0174532925;

}  // namespace

Gyroscope::Gyroscope(const _sc_sensor_luid& id) : InertialSensor(id) {
    name = GYROSCOPE;
    samplingUnit = Unit_deg__sec;
    calibrationUnit = Unit_deg_sec_5;
    canCalibrate = true;
    motionLowerBound = 0.1;
    motionStdLimit = 5.0;
    motionRangeLimit = 15.0;
    // A steady rate of this much is a turn, however little it spreads.
    restDepartureLimit = 5.0;
    ownSteps = 3;
    if (luid.flags & 0x01) {
        minDataSize = 71;
        maxDataSize = 71;
        formatId = 2;
    }
}

_sc_sensor_luid Gyroscope::getLuidForSampling() {
    _sc_sensor_luid sampling = luid;
    sampling.sensorType = 577;
    sampling.flags = 0;
    return sampling;
}

void Gyroscope::setLimits() {
    const bool full = flowType() == FLOW_FULL;
    offsetLimit = full ? 30.0 : 50.0;
    normDeviationLimit = 100.0;
    expectedErrorLimit = full ? 10.0 : 40.0;
    whiteNoiseLimit = 15.0;
    scaleLimit = full ? 0.3 : 0.5;
    rotationLimit = full ? 5.0 : 0.3;
    faceUpOffsetLimit = 50.0;
    faceUpNoiseLimit = 5.0;
    defaultNoise = 0.1;
    normTolerance = 20.0;
    if (samplingUnit != Unit_deg__sec)
        convertDependentLimits(Unit_deg__sec, samplingUnit);
}

void Gyroscope::calcExpected() {
    const CalibrationFlowType flow = flowType();
    signDependent = flow == FLOW_FOUR_STEPS;
    switch (flow) {
    case FLOW_FULL:
        expectedAngle = fullTurn;
        expectedResults = Matrix(3, 3, {0, 0, fullTurn, 0, fullTurn, 0, fullTurn, 0, 0});
        break;
    case FLOW_FOUR_STEPS:
        expectedAngle = quarterTurn;
        expectedResults = Matrix(3, 3, {0, quarterTurn, 0, 0, 0, quarterTurn, -quarterTurn, 0, 0});
        break;
    case FLOW_MAG_FOUR_STEPS:
        expectedAngle = quarterTurn;
        expectedResults = Matrix(3, 3, {0, 0, quarterTurn, 0, 0, quarterTurn, 0, 0, quarterTurn});
        break;
    case FLOW_MINIMAL:
        expectedAngle = quarterTurn;
        break;
    default:
        break;
    }
}

void Gyroscope::calibrate() {
    setLimits();
    initStaticStates();
    calcExpected();
    const CalibrationFlowType flow = flowType();
    if (flow == FLOW_MINIMAL) {
        faceUpDataCalibrate();
        return;
    }
    if (flow != FLOW_FULL && flow != FLOW_FOUR_STEPS)
        return;
    FindSegmentation();
    findGyroScale(expectedAngle);
    endCalibration(signDependent);
    // The same solution from turns and holds read as their noise lets them read.
    {
        const Matrix found = S * A;
        const Vector offset = o;
        const Matrix savedS = S, savedA = A;
        std::normal_distribution<double> unit(0.0, 1.0);
        precision = spreadOf(
            0,
            [&](std::mt19937& rng) {
                Matrix turns = measurements;
                Vector zero = o;
                for (int r = 0; r < 3; ++r)
                    for (int k = 0; k < 3; ++k)
                        turns[r][k] += turnErrors[r][k] * unit(rng);
                for (int k = 0; k < 3; ++k)
                    zero[k] += offsetError[k] * unit(rng);
                S = scaleFrom(turns, expectedResults, expectedAngle);
                endCalibration(signDependent);
                return std::make_pair(S * A, zero);
            },
            found, offset, false);
        S = savedS;
        A = savedA;
    }
    checkSuccess(measurements);
    convertToFWForamt();
}

void Gyroscope::FindSegmentation() {
    const std::vector<double> times = manager ? manager->getSegmentTimes() : std::vector<double>();
    const size_t stride = times.size() == 14 ? 4 : 2;
    const std::vector<size_t> index = findIndex();
    const std::string splitting = name + " Calibration Error: Failed splitting data to segments";

    std::vector<SensorData> still;
    // The holds with the Y axis up (the third and fourth) and down (the seventh).
    std::vector<SensorData> yUp, yDown;
    // Each hold's rest rate, by its place in the boundary list (k / 2).
    std::map<size_t, Vector> holdLevels;
    std::map<size_t, size_t> holdSizes;
    // The noise within the holds, apart from how their levels differ.
    Vector withinHolds(3);
    int holds = 0;
    measurements = Matrix(3, 3);
    int row = 0;
    for (size_t k = 0; k + 1 < index.size(); ++k) {
        if (k % 2 == 0) {
            if (index[k + 1] > index[k]) {
                const std::vector<SensorData> hold = stretch(index[k], index[k + 1] - 1);
                still.insert(still.end(), hold.begin(), hold.end());
                std::vector<SensorData>& side = k == 4 || k == 6 ? yUp : k == 12 ? yDown : still;
                if (&side != &still)
                    side.insert(side.end(), hold.begin(), hold.end());
                holdLevels[k / 2] = levelOf(hold);
                holdSizes[k / 2] = hold.size();
                for (int axis = 0; axis < 3; ++axis) {
                    std::vector<double> values;
                    for (const SensorData& s : hold)
                        values.push_back(s.values[static_cast<size_t>(axis)]);
                    const double d = Statistics::calcStd(values);
                    withinHolds[axis] += d * d;
                }
                ++holds;
            }
        } else if ((k - 1) % stride == 0 && row < 3) {
            measurements.setRow(integrate(std::max<size_t>(index[k], 1), index[k + 1], Vector(3)), row++);
        }
    }
    if (still.empty())
        throw CalibrationException(name + " Calibration Error: Not enough data was sampled during stage 0");
    whiteNoise = Vector(3);
    o = findSegmentAndNoise(still);
    for (int axis = 0; axis < 3; ++axis)
        if (std::isnan(whiteNoise[axis]))
            whiteNoise[axis] = defaultNoise;
    // A gyroscope's zero rate shifts with gravity along its axes (its
    // sensitivity to acceleration): the rest rate of all holds together leans
    // towards the positions held longest. With the Y axis up and then down
    // gravity's share cancels, and their mean is the zero rate the device has
    // on average over all orientations.
    const bool balanced = times.size() == 14 && !yUp.empty() && !yDown.empty();
    if (balanced)
        o = (levelOf(yUp) + levelOf(yDown)) * 0.5;
    // How well the holds give the zero rate.
    offsetError = Vector(3);
    for (int k = 0; k < 3; ++k)
        offsetError[k] = balanced ? 0.5 * whiteNoise[k] *
                                        std::sqrt(1.0 / static_cast<double>(yUp.size()) + 1.0 / static_cast<double>(yDown.size()))
                                  : whiteNoise[k] / std::sqrt(static_cast<double>(still.size()));
    // Without opposite positions gravity's share of the zero rate cannot be
    // told apart: the zero rate found holds for these positions only as far
    // as it is the same in each of them.
    for (int axis = 0; axis < 3; ++axis)
        withinHolds[axis] = holds > 0 ? std::sqrt(withinHolds[axis] / holds) : whiteNoise[axis];
    // Past its noise limit the part fails for that, not for what its noise makes of the levels.
    if (!balanced && !(whiteNoise.getAbsMaxValue() > whiteNoiseLimit))
        checkZeroRateAcross(holdLevels, holdSizes, withinHolds);
    // Readings too coarse to find the zero rate to what the calibration promises.
    std::vector<SensorData> level = balanced ? yUp : still;
    if (balanced)
        level.insert(level.end(), yDown.begin(), yDown.end());
    int axis = -1;
    double step = 0;
    const double uncertainty = levelUncertainty(level, axis, step);
    if (uncertainty > kOffsetResolution) {
        char text[400];
        std::snprintf(text, sizeof text,
                      "The readings are too coarse for the offset: the %c axis reads in steps of %.3f degrees per "
                      "second, with too little noise between them to average (an offset to %.2f at best): set the "
                      "part to a smaller full scale.\n",
                      "XYZ"[axis], step, uncertainty);
        fail("Resolution", text);
        throw CalibrationException("Calibration failed for sensor " + getName() + ". Reason: " + failureReason);
    }
    // Each turn less the rest rate of its own position, the holds before
    // and after it: the zero rate that gravity and the part's warming shift
    // from hold to hold.
    for (int r = 0; r < 3; ++r) {
        const size_t i = static_cast<size_t>(r) * stride + 1;
        if (i + 1 >= times.size())
            throw CalibrationException(splitting);
        const auto before = holdLevels.find((i - 1) / 2), after = holdLevels.find((i + 1) / 2);
        const bool ownRest = before != holdLevels.end() && after != holdLevels.end();
        const Vector rest = ownRest ? (before->second + after->second) * 0.5 : o;
        const double seconds = (times[i + 1] - times[i]) * 0.001;
        measurements.setRow(measurements.getRow(r) - rest * seconds, r);
        // The turn's noise: each sample's, over its interval, and the rest
        // rate's, over the whole turn.
        double squares = 0;
        const std::vector<size_t> turnIndex = index;
        for (size_t j = std::max<size_t>(turnIndex[i], 1); j < turnIndex[i + 1] && j < bufferedData.size(); ++j) {
            const double dt = (bufferedData[j].timestamp - bufferedData[j - 1].timestamp) * 0.001;
            squares += dt * dt;
        }
        for (int k = 0; k < 3; ++k) {
            const double restError =
                ownRest ? 0.5 * whiteNoise[k] *
                              std::sqrt(1.0 / static_cast<double>(std::max<size_t>(holdSizes[(i - 1) / 2], 1)) +
                                        1.0 / static_cast<double>(std::max<size_t>(holdSizes[(i + 1) / 2], 1)))
                        : offsetError[k];
            turnErrors[r][k] = std::sqrt(whiteNoise[k] * whiteNoise[k] * squares + restError * restError * seconds * seconds);
        }
    }
}

void Gyroscope::checkZeroRateAcross(const std::map<size_t, Vector>& holdLevels,
                                    const std::map<size_t, size_t>& holdSizes, const Vector& noise) {
    // The difference furthest past what its levels' errors allow.
    double widest = 0, excess = 0;
    int axis = 0;
    size_t low = 0, high = 0;
    for (int k = 0; k < 3; ++k)
        for (const auto& a : holdLevels)
            for (const auto& b : holdLevels) {
                const double na = static_cast<double>(std::max<size_t>(holdSizes.count(a.first) ? holdSizes.at(a.first) : 1, 1));
                const double nb = static_cast<double>(std::max<size_t>(holdSizes.count(b.first) ? holdSizes.at(b.first) : 1, 1));
                const double error = noise[k] * std::sqrt(1 / na + 1 / nb);
                const double difference = b.second[k] - a.second[k];
                if (difference - kRiskSigmas * error > excess) {
                    excess = difference - kRiskSigmas * error;
                    widest = difference;
                    axis = k;
                    low = a.first;
                    high = b.first;
                }
            }
    if (excess <= 2 * kOffsetResolution)
        return;
    const size_t first = std::min(low, high) + 1, second = std::max(low, high) + 1;
    char text[400];
    std::snprintf(text, sizeof text,
                  "The zero rate changes with the device's position: on the %c axis by %.2f degrees per second between "
                  "step %zu and step %zu (the part's sensitivity to gravity), more than this flow can calibrate: "
                  "calibrate in the full flow.\n",
                  "XYZ"[axis], widest, first, second);
    fail("ZeroRate", text);
    throw CalibrationException("Calibration failed for sensor " + getName() + ". Reason: " + failureReason);
}

Matrix Gyroscope::scaleFrom(const Matrix& turns, const Matrix& expected, double angle) {
    if (angle == 0)
        throw MathException("division by zero");
    Matrix sensitivity(3, 3);
    for (int r = 0; r < 3; ++r) {
        const Vector e = expected.getRow(r);
        const int j = Matrix::getIndexOfAbsoluteMax(e);
        const double s = e[j] < 0 ? -1.0 : 1.0;
        sensitivity.setColumn(turns.getRow(r) * (s / angle), j);
    }
    const Matrix scale = sensitivity.invert3x3();
    // A nearly singular sensitivity inverts into numbers no record can hold.
    if (!scale.isFinite())
        throw MathException("singular matrix");
    return scale;
}

void Gyroscope::findGyroScale(double angle) {
    try {
        S = scaleFrom(measurements, expectedResults, angle);
    } catch (const MathException&) {
        // The Part's text, said of the sensor it concerns, as the success
        // criteria say their reasons.
        fail("scale", "Failed to calculate scale matrix\n");
        throw CalibrationException("Calibration failed for sensor " + getName() + ". Reason: " + failureReason);
    }
}

std::vector<double> Gyroscope::tickTimes(const std::vector<double>& stamps, std::vector<double>* ticksOut) {
    if (ticksOut)
        ticksOut->clear();
    const size_t n = stamps.size();
    if (n < 8)
        return stamps;
    std::vector<double> intervals;
    intervals.reserve(n - 1);
    for (size_t j = 1; j < n; ++j)
        intervals.push_back(stamps[j] - stamps[j - 1]);
    const double period = Statistics::Median(std::move(intervals));
    if (!(period > 0) || !std::isfinite(period))
        return stamps;
    // Each report's tick, and the line through the stamps by their ticks.
    // The median interval is the period only to a few tenths of a percent,
    // which over hundreds of ticks adds up: past the first few, each report
    // is put on the tick the line through those before it points to.
    std::vector<double> ticks(n, 0.0);
    double sumK = 0, sumT = 0, sumKK = 0, sumKT = 0;  // ticks and stamps (from the first) so far
    double slope = period, start = 0;                 // the line: stamps[0] + start + slope * tick
    auto fit = [&](double count) {
        slope = (count * sumKT - sumK * sumT) / (count * sumKK - sumK * sumK);
        start = (sumT - slope * sumK) / count;
    };
    for (size_t j = 1; j < n; ++j) {
        const double t = stamps[j] - stamps[0];
        if (j >= 8)
            fit(static_cast<double>(j));
        const double tick = j < 8 ? ticks[j - 1] + std::round((stamps[j] - stamps[j - 1]) / period)
                                  : std::round((t - start) / slope);
        // Two reports on one tick: no even clock sampled them.
        if (!(tick > ticks[j - 1]) || !std::isfinite(tick))
            return stamps;
        ticks[j] = tick;
        sumK += tick;
        sumT += t;
        sumKK += tick * tick;
        sumKT += tick * t;
    }
    fit(static_cast<double>(n));
    std::vector<double> times(n);
    double squares = 0;
    for (size_t j = 0; j < n; ++j) {
        times[j] = stamps[0] + start + slope * ticks[j];
        squares += (times[j] - stamps[j]) * (times[j] - stamps[j]);
    }
    // Stamps scattered at random over their ticks stray 0.29 of a period,
    // root mean square: no even clock sampled them.
    if (!(std::sqrt(squares / static_cast<double>(n)) <= period / 8))
        return stamps;
    if (ticksOut)
        *ticksOut = std::move(ticks);
    return times;
}

Vector Gyroscope::integrate(size_t from, size_t to, const Vector& rest) const {
    // Each interval by the mean of the rates at its ends: a sample after a
    // gap in the reports then does not stand for the whole gap.
    Vector turn(3);
    if (from >= to || from >= bufferedData.size())
        return turn;
    if (from == 0)
        throw CalibrationException("Internal error");
    const size_t end = std::min(to, bufferedData.size());
    std::vector<double> stamps, ticks;
    stamps.reserve(end - from + 1);
    for (size_t j = from - 1; j < end; ++j)
        stamps.push_back(bufferedData[j].timestamp);
    const std::vector<double> times = tickTimes(stamps, &ticks);
    // Ticks between report j - 1 and report j (0 where the clock is not known).
    auto ticksBefore = [&](size_t j) { return ticks.empty() ? 0.0 : ticks[j - from + 1] - ticks[j - from]; };
    for (size_t j = from; j < end; ++j) {
        if (bufferedData[j].values.size() < 3 || bufferedData[j - 1].values.size() < 3)
            throw CalibrationException("Internal error");
        const double dt = (times[j - from + 1] - times[j - from]) * 0.001;
        turn += ((Vector(bufferedData[j].values) + Vector(bufferedData[j - 1].values)) * 0.5 - rest) * dt;
        // A single lost report: the straight line across its gap cuts off
        // the bend of a quick stroke, which the cubic through the two
        // reports either side keeps (with whole ticks between them, its
        // integral over the gap weighs them -2/9, 11/9, 11/9, -2/9 ticks).
        const double before = j > from ? ticksBefore(j - 1) : 0.0, after = j + 1 < end ? ticksBefore(j + 1) : 0.0;
        if (ticksBefore(j) == 2 && (before == 1 || before == 2) && (after == 1 || after == 2) &&
            bufferedData[j - 2].values.size() >= 3 && bufferedData[j + 1].values.size() >= 3) {
            const double at[4] = {-before, 0, 2, 2 + after};
            const Vector rates[4] = {Vector(bufferedData[j - 2].values), Vector(bufferedData[j - 1].values),
                                     Vector(bufferedData[j].values), Vector(bufferedData[j + 1].values)};
            Vector cubic(3);
            for (int i = 0; i < 4; ++i)
                cubic += rates[i] * cubicWeight(at, i);
            turn += (cubic - rates[1] - rates[2]) * (dt / 2);
        }
    }
    return turn;
}

Vector Gyroscope::getCalibratedVector(int step) {
    return (S * A) * measurements.getRow(step);
}

bool Gyroscope::checkMotion(double /*threshold*/) {
    if (bufferedData.size() < 2)
        return false;
    const SensorData& last = bufferedData.back();
    const SensorData& before = bufferedData[bufferedData.size() - 2];
    if (last.values.size() < 3)
        return false;
    const double dt = (last.timestamp - before.timestamp) * 0.001;
    motionIntegral += (Vector(last.values) - gyroOffset) * dt;
    if (motionIntegral.norm() < motionAngleThreshold)
        return false;
    motionIntegral = Vector(3);
    return true;
}

void Gyroscope::findOffset() {
    gyroOffset = DataMedian();
}

bool Gyroscope::testCalibration() {
    initStaticStates();
    calcExpected();
    const TestingThresholds& limits = TestingThresholds::Inst();
    noiseLimit = limits.gyrMaxNoise;
    spikeLimit = limits.gyrMaxSpike;
    averageThreshold = limits.gyrThresholdMotionless;
    const CalibrationFlowType flow = flowType();
    if (flow != FLOW_MINIMAL) {
        ComputeDynamicAndStaticData();
        ComputeStaticSegmentsStds();
    }
    if (flow == FLOW_MAG_FOUR_STEPS)
        return true;
    const bool still = runTests();
    if (flow == FLOW_MINIMAL)
        return still;
    const bool turns = TestIntegration();
    return still && turns;
}

void Gyroscope::ComputeDynamicAndStaticData() {
    const int stillSteps = managerSteps();
    const int motionSteps = std::max(stillSteps - 1, 0);
    integratedAngles.init(motionSteps, 3);
    const std::vector<double> times = manager ? manager->getSegmentTimes() : std::vector<double>();
    if (times.empty())
        throw CalibrationException(name + " Calibration Error: Failed splitting data to segments");
    ComputeStaticSegmentsMeans();
    Vector offset(3);
    for (int s = 0; s < stillSteps; ++s)
        offset += staticMeans.getRow(s);
    if (stillSteps > 0)
        offset = offset / stillSteps;

    const std::vector<size_t> index = findIndex();
    const bool testRun = processType() == PROCESS_CALIBRATION_TEST;
    const Vector first = stillSteps > 0 ? staticMeans.getRow(0) : Vector(3);
    stepRotations.clear();
    for (int i = 0; i < motionSteps; ++i) {
        const size_t from = 2 * static_cast<size_t>(i) + 1;
        if (from + 1 >= index.size())
            throw CalibrationException(name + " Calibration Error: Failed splitting data to segments");
        Matrix rotation = Matrix::Identity(3);
        const size_t begin = std::max<size_t>(index[from], 1);
        if (testRun)
            for (size_t j = begin; j < index[from + 1]; ++j) {
                const Vector v = Vector(bufferedData[j].values) - first;
                const double dt = (bufferedData[j].timestamp - bufferedData[j - 1].timestamp) / 1000;
                rotation = rotation.applyApproximateRotation(v * (dt * kDegToRad));
            }
        integratedAngles.setRow(integrate(begin, index[from + 1], first), i);
        if (testRun)
            stepRotations.push_back(rotation);
    }

    Vector sum(3);
    double count = 0;
    for (int s = 0; s < stillSteps; ++s) {
        const size_t at = 2 * static_cast<size_t>(s);
        if (at + 1 >= index.size())
            break;
        for (size_t j = index[at]; j < index[at + 1]; ++j) {
            const Vector d = offset - Vector(bufferedData[j].values);
            sum += d * d;
            ++count;
        }
    }
    if (count > 0)
        whiteNoise = (sum / count).Sqrt();
}

bool Gyroscope::TestIntegration() {
    pushLog("Performing_TestIntegration");
    const double threshold = TestingThresholds::Inst().gyrThresholdMotion;
    bool allPassed = true, axisMapping = false;
    const int steps = std::min(integratedAngles.getRows(), expectedResults.getRows());
    for (int i = 0; i < steps; ++i) {
        addCommentToLog("dynamic step " + std::to_string(i));
        const Vector measured = integratedAngles.getRow(i);
        const Vector expected = expectedResults.getRow(i);
        const std::string where = "motion " + getName() + " step " + std::to_string(i) + " gyro rotation test";
        const bool passed = AssertVector(measured, expected, threshold, where, "");
        addToLog(measured, "Angles", "measured rotation in degrees");
        addToLog(expected, "Expected", "expected rotation at a perfectly calibrated system");
        addToLog(threshold, "threshold", "");
        addCommentToLog(passed ? ": PASSED" : " FAILED");
        if (!passed && Vector::Angle(expected, measured) >= kQuarterPi)
            axisMapping = true;
        allPassed = allPassed && passed;
    }
    popLog();
    if (manager) {
        if (axisMapping)
            manager->AddError(ErrorType::AxisMapping, getName());
        else if (!allPassed)
            manager->AddError(ErrorType::Calibration, getName());
    }
    return allPassed;
}

InertialSensor::Tolerance Gyroscope::tolerance() const {
    switch (flowType()) {
    case FLOW_FULL:
    case FLOW_FOUR_STEPS:
        return {0.01, 0.1};
    case FLOW_MINIMAL:
        return {0.0, 0.1};
    default:
        return {};
    }
}

std::string Gyroscope::mirrorCause(int axis) const {
    const CalibrationFlowType flow = flowType();
    if (flow != FLOW_FULL && flow != FLOW_FOUR_STEPS)
        return "";
    // The turn about the axis, and its step on the console.
    for (int r = 0; r < expectedResults.getRows(); ++r)
        if (Matrix::getIndexOfAbsoluteMax(expectedResults.getRow(r)) == axis) {
            const int step = flow == FLOW_FULL ? 2 * r + 2 : r + 2;
            return std::string("the turn about ") + "XYZ"[axis] + " in step " + std::to_string(step) +
                   " went the wrong way round";
        }
    return "";
}
