// Segmentation, the calibration model, and the rotation a gyroscope predicts
// for another sensor.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "Exceptions.h"
#include "InertialSensor.h"
#include "Interpolation.h"
#include "Quaternion.h"
#include "Statistics.h"
#include "XmlUtil.h"

using namespace xmlutil;

CalibrationFlowType InertialSensor::flowType() const {
    return manager ? manager->getClibrationFlowType() : FLOW_FULL;
}

ProcessType InertialSensor::processType() const {
    return manager ? manager->getProcessType() : PROCESS_NONE;
}

int InertialSensor::managerSteps() const {
    return manager ? manager->getNumSteps() : ownSteps;
}

bool InertialSensor::DataReceivedCommon(SensorData& data) {
    const CalibrationFlowType flow = flowType();
    if (!(flow == FLOW_MINIMAL && processType() != PROCESS_CALIBRATION_TEST))
        bufferedData.push_back(data);
    if (flow == FLOW_MINIMAL)
        faceUpDataRecieved(data);
    return true;
}

size_t InertialSensor::getBufferedDataSize() {
    if (flowType() == FLOW_MINIMAL)
        return static_cast<size_t>(faceUpCount);
    return bufferedData.size();
}

void InertialSensor::initStaticStates() {
    numStaticStates = flowType() != FLOW_FULL ? managerSteps() : ownSteps;
    staticMeans.init(std::max(numStaticStates, 0), 3);
    staticStds.init(std::max(managerSteps(), 0), 3);
}

std::vector<size_t> InertialSensor::findIndex() {
    if (bufferedData.empty())
        throw CalibrationException(getName() + " Calibration Error: No data was available");
    const std::vector<double> times = manager ? manager->getSegmentTimes() : std::vector<double>();
    const std::string splitting = name + " Calibration Error: Failed splitting data to segments";
    if (times.empty())
        throw CalibrationException(getName() + " Calibration Error: Failed splitting data to segments");
    std::vector<size_t> index(times.size());
    const bool ordered = bufferInTimeOrder();
    for (size_t j = 0; j < times.size(); ++j) {
        // The first sample after the time: by bisection when the buffer is in
        // time order, which finds the one the scan from the start finds.
        size_t i = 0;
        if (ordered) {
            i = firstAfter(times[j]);
        } else {
            while (i < bufferedData.size() && !(bufferedData[i].timestamp > times[j]))
                ++i;
        }
        if (i == bufferedData.size() && j + 1 < times.size())
            throw CalibrationException(splitting);
        index[j] = i;
        if (j > 0 && j + 1 < times.size() && index[j] == index[j - 1])
            throw CalibrationException(name + " Calibration Error: No data was sampled during stage " +
                                       std::to_string(j));
    }
    // The last step ends at its own time too: what a live run records after
    // it (until the recording stops) depends on the moment, and the same
    // recording played back must give the same steps.
    return index;
}

std::vector<SensorData> InertialSensor::stretch(size_t from, size_t to) const {
    const size_t end = std::min(to, bufferedData.size());
    if (from >= end)
        return {};
    return std::vector<SensorData>(bufferedData.begin() + static_cast<std::ptrdiff_t>(from),
                                   bufferedData.begin() + static_cast<std::ptrdiff_t>(end));
}

Vector InertialSensor::findSegmentAndNoise(const std::vector<SensorData>& samples) {
    return findSegmentAndNoise(samples, {{0, samples.size()}});
}

Vector InertialSensor::findSegmentAndNoise(const std::vector<SensorData>& buffer,
                                           const std::vector<std::pair<size_t, size_t>>& stretches,
                                           Vector* standardError) {
    size_t count = 0;
    for (const auto& part : stretches)
        count += part.second - part.first;
    // Each axis's level: the mean of the values near the median, robust to
    // spikes and not held to a code of a coarse resolution as a median is.
    Vector level(3);
    for (int axis = 0; axis < 3; ++axis) {
        std::vector<double> values;
        values.reserve(count);
        for (const auto& part : stretches)
            for (size_t i = part.first; i < part.second; ++i) {
                const SensorData& s = buffer[i];
                if (s.values.size() < 3)
                    throw CalibrationException("Internal error");
                values.push_back(s.values[static_cast<size_t>(axis)]);
            }
        const double deviation = Statistics::calcStd(values);
        whiteNoise[axis] += deviation;
        level[axis] = Statistics::RobustMean(values);
        if (standardError) {
            standardError->resize(3);
            const double independent = values.empty() ? 0.0 : deviation / std::sqrt(static_cast<double>(values.size()));
            (*standardError)[axis] = independent;
            const double blocks = blockError(values);
            if (blocks >= 0) {
                levelSquares[0] += independent * independent;
                levelSquares[1] += blocks * blocks;
            }
        }
    }
    return level;
}

double InertialSensor::blockError(const std::vector<double>& values) {
    // The spread of the means of consecutive blocks, as the error of their
    // mean: what the samples' spread says of it where they are independent,
    // more where they are not (a bias that wanders or drifts, a hold's edge
    // where the device still settles).
    const size_t n = values.size();
    if (n < kLevelBlocks * 5)
        return -1.0;
    std::vector<double> means(kLevelBlocks, 0.0);
    for (size_t b = 0; b < kLevelBlocks; ++b) {
        const size_t from = b * n / kLevelBlocks, to = (b + 1) * n / kLevelBlocks;
        for (size_t i = from; i < to; ++i)
            means[b] += values[i];
        means[b] /= static_cast<double>(to - from);
    }
    double mean = 0;
    for (double m : means)
        mean += m / kLevelBlocks;
    double squares = 0;
    for (double m : means)
        squares += (m - mean) * (m - mean);
    return std::sqrt(squares / (kLevelBlocks - 1) / kLevelBlocks);
}

void InertialSensor::FindSegmentation() {
    const std::vector<double> times = manager ? manager->getSegmentTimes() : std::vector<double>();
    const size_t k = times.size() == 14 ? 4 : 2;
    const std::vector<size_t> index = findIndex();
    if (staticMeans.getRows() < ownSteps)
        staticMeans.init(ownSteps, 3);
    holdErrors.init(staticMeans.getRows(), 3);
    whiteNoise = Vector(3);
    levelSquares[0] = levelSquares[1] = 0.0;
    for (int s = 0; s < ownSteps; ++s) {
        const size_t first = k * static_cast<size_t>(s);
        if (first + 1 >= index.size())
            throw CalibrationException(name + " Calibration Error: Failed splitting data to segments");
        // The last sample before the step's end time is left out as well. The
        // step's samples are read where they are buffered.
        std::vector<std::pair<size_t, size_t>> stretches;
        size_t count = 0;
        auto add = [&](size_t from, size_t to) {
            to = std::min(to, bufferedData.size());
            if (from < to) {
                stretches.emplace_back(from, to);
                count += to - from;
            }
        };
        if (index[first + 1] > index[first])
            add(index[first], index[first + 1] - 1);
        if (k == 4 && first + 3 < index.size())
            add(index[first + 2], index[first + 3]);
        if (count == 0)
            throw CalibrationException(name + " Calibration Error: Not enough data was sampled during stage " +
                                       std::to_string(s));
        Vector standardError(3);
        staticMeans.setRow(findSegmentAndNoise(bufferedData, stretches, &standardError), s);
        holdErrors.setRow(standardError, s);
    }
    whiteNoise = whiteNoise / ownSteps;
    for (int axis = 0; axis < 3; ++axis)
        if (std::isnan(whiteNoise[axis]))
            whiteNoise[axis] = defaultNoise;
    // The levels are as far off as their blocks' means spread, over all the
    // holds and axes together, where that is more than the samples' spread
    // says.
    if (levelSquares[0] > 0 && levelSquares[1] > levelSquares[0])
        holdErrors = holdErrors * std::sqrt(levelSquares[1] / levelSquares[0]);
}

void InertialSensor::ComputeStaticSegmentsMeans() {
    const std::vector<size_t> index = findIndex();
    const int steps = managerSteps();
    if (staticMeans.getRows() < steps)
        staticMeans.init(steps, 3);
    for (int s = 0; s < steps; ++s) {
        const size_t first = 2 * static_cast<size_t>(s);
        if (first + 1 >= index.size())
            throw CalibrationException(name + " Calibration Error: Failed splitting data to segments");
        Vector sum(3);
        for (size_t i = index[first]; i < index[first + 1]; ++i)
            sum += bufferedData[i].values;
        const Vector row = sum / (static_cast<double>(index[first + 1]) - static_cast<double>(index[first]));
        for (int axis = 0; axis < 3; ++axis)
            if (std::isnan(row[axis]) || row[axis] == std::numeric_limits<double>::infinity())
                throw CalibrationException("Infinity value was found. Calibration is invalid for " + name);
        staticMeans.setRow(row, s);
    }
}

void InertialSensor::ComputeStaticSegmentsStds() {
    const std::vector<size_t> index = findIndex();
    const int steps = managerSteps();
    if (staticStds.getRows() < steps)
        staticStds.init(steps, 3);
    for (int s = 0; s < steps && s < staticMeans.getRows(); ++s) {
        const size_t first = 2 * static_cast<size_t>(s);
        if (first + 1 >= index.size())
            throw CalibrationException(name + " Calibration Error: Failed splitting data to segments");
        const Vector mean = staticMeans.getRow(s);
        Vector sum(3);
        for (size_t i = index[first]; i < index[first + 1]; ++i) {
            const Vector d = Vector(bufferedData[i].values) - mean;
            sum += d * d;
        }
        staticStds.setRow((sum / (static_cast<double>(index[first + 1]) - static_cast<double>(index[first]))).Sqrt(), s);
    }
}

double InertialSensor::distanceFromLast(const SampleValues& values) const {
    if (lastData.size() > static_cast<int>(values.size()))
        throw MathException("Error while substructing vector");
    double sum = 0.0;
    for (size_t i = 0; i < values.size(); ++i) {
        double d = values[i];
        if (static_cast<int>(i) < lastData.size())
            d -= lastData[static_cast<int>(i)];
        sum += d * d;
    }
    return std::sqrt(sum);
}

Vector InertialSensor::calcWhiteNoise() {
    const std::vector<size_t> index = findIndex();
    Vector sum(3);
    double count = 0;
    for (int s = 0; s < staticMeans.getRows(); ++s) {
        const size_t first = 2 * static_cast<size_t>(s);
        if (first + 1 >= index.size())
            break;
        const Vector mean = staticMeans.getRow(s);
        for (size_t i = index[first]; i < index[first + 1]; ++i) {
            const SampleValues& v = bufferedData[i].values;
            if (v.size() == 3 && mean.size() == 3) {
                // The sum below, element by element, without a vector per sample.
                for (int k = 0; k < 3; ++k) {
                    const double d = mean[k] - v[static_cast<size_t>(k)];
                    sum[k] += d * d;
                }
            } else {
                const Vector d = mean - Vector(v);
                sum += d * d;
            }
            ++count;
        }
    }
    return (sum / count).Sqrt();
}

Vector InertialSensor::calibrateSeg(const Vector& v) const {
    return (S * A) * (v - o);
}

Vector InertialSensor::calibrateSeg(int index, bool useMeans) {
    try {
        if (useMeans)
            return calibrateSeg(staticMeans.getRow(index));
        if (index < 0 || static_cast<size_t>(index) >= bufferedData.size())
            throw MathException("index out of range");
        return calibrateSeg(Vector(bufferedData[static_cast<size_t>(index)].values));
    } catch (const std::exception&) {
        throw CalibrationException("exception thrown in calibration");
    }
}

Vector InertialSensor::getCalibratedVector(int step) {
    return calibrateSeg(staticMeans.getRow(step));
}

Matrix InertialSensor::calcAxisMapping(const Matrix& m) {
    Matrix mapping(3, 3);
    for (int i = 0; i < 3; ++i) {
        const Vector row = m.getRow(i);
        const int k = Matrix::getIndexOfAbsoluteMax(row);
        mapping[i][k] = row[k] > 0 ? 1.0 : -1.0;
    }
    return mapping;
}

Matrix InertialSensor::diagonalOf(const Matrix& m) {
    // A turn made by hand is not about the device's axis alone: the device
    // lands a degree or so off about the vertical, and the turn takes that
    // along. Such cross-talk is no property of the part, and it moves the
    // correction's diagonal only at second order, where the singular values
    // take its symmetric part as a scale error of the first (a degree of it
    // makes 1.5 %). The part's own misalignment, a rotation, moves neither
    // at first order. The axes are mapped first, so each element of the
    // diagonal is its row's largest in size, and positive.
    Matrix diagonal(3, 3);
    for (int k = 0; k < 3; ++k)
        diagonal[k][k] = m[k][k];
    return diagonal;
}

void InertialSensor::endCalibration(bool diagonalOnly) {
    A = calcAxisMapping(S);
    S = S * A.transpose();
    if (diagonalOnly)
        S = diagonalOf(S);
}

double InertialSensor::findGyroRotation(const std::shared_ptr<InertialSensor>& sensor, double tStart, double tEnd,
                                        const std::shared_ptr<InertialSensor>& gyro, int step,
                                        const Matrix& rotation) {
    const double k = 0.001 * 0.017453292519943295;
    const double delta = (tEnd - tStart) / 200;
    std::vector<SensorData> predicted{SensorData(tStart, sensor->calibrateSeg(step, true).elements())};
    const std::vector<SensorData>& samples = sensor->bufferedData;
    const std::vector<SensorData>& rates = gyro->bufferedData;
    size_t i = 0, j = 0;
    while (i < samples.size() && !(samples[i].timestamp > tStart))
        ++i;
    while (j < rates.size() && !(rates[j].timestamp > tStart))
        ++j;
    if (i == samples.size())
        throw CalibrationException("buffered data of sensor" + sensor->getName() + " is empty");

    Quaternion q;
    double tNext = tStart;
    while (i < samples.size() && samples[i].timestamp < tEnd) {
        while (j < rates.size() && rates[j].timestamp < samples[i].timestamp)
            ++j;
        if (j >= rates.size())
            break;
        const double dt = j > 0 ? rates[j].timestamp - rates[j - 1].timestamp : 0.0;
        const Vector w = rotation * gyro->calibrateSeg(static_cast<int>(j), false) * -1.0 * k * dt;
        q = q * Quaternion(w);
        if (samples[i].timestamp > tNext + delta) {
            tNext += delta;
            predicted.emplace_back(samples[i].timestamp,
                                   Quaternion::RotateVector(Vector(predicted.back().values), q).elements());
            q.reset();
        }
        ++i;
        ++j;
    }
    const std::vector<Vector> raw = Interpolation::LinearInterpolation(samples, predicted);
    std::vector<double> errors;
    for (size_t m = 0; m + 1 < predicted.size(); ++m)
        errors.push_back((sensor->calibrateSeg(raw[m + 1]) - Vector(predicted[m].values)).norm());
    return Statistics::mean(errors);
}

std::string InertialSensor::getResult() {
    const std::string label = isPrimary() ? name : "Second " + name;
    std::string text = label + " Offset:\n" + o.print();
    if (flowType() != FLOW_MINIMAL)
        text += label + " Scale:\n" + S.print() + label + " Axis mapping:\n" + A.print();
    return text;
}

void InertialSensor::convertDependentLimits(UnitsEnum from, UnitsEnum to) {
    for (double* limit : {&offsetLimit, &normDeviationLimit, &expectedErrorLimit, &whiteNoiseLimit,
                          &faceUpOffsetLimit, &faceUpNoiseLimit, &scaleReference, &defaultNoise, &normTolerance,
                          &nominalNorm})
        *limit = Conversions::Convert(*limit, from, to);
}

std::vector<Vector> InertialSensor::getExpectedResults() const {
    std::vector<Vector> rows;
    for (int i = 0; i < expectedResults.getRows(); ++i)
        rows.push_back(expectedResults.getRow(i));
    return rows;
}
