// What a sensor's own samples tell of the part and of the stream that brought
// them: readings stuck at the end of the part's range, reports that did not
// come, and the level of a hold read through the part's resolution.
#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "InertialSensor.h"
#include "Statistics.h"

namespace {

// Samples on each side of a stuck stretch that tell where the readings were
// heading; at least two on each side are needed to tell anything.
const size_t kFlank = 8;
const size_t kLeastFlank = 2;
// A stuck stretch shorter than this many samples is the top of a smooth peak
// read through a coarse resolution as often as it is a clipped one.
const size_t kLeastStuck = 3;
// The share of the stretch's whole motion that the readings may have lost at the
// top of a peak before it counts as clipped: far below what any turn's
// tolerance allows.
const double kLostShare = 0.002;

bool same(double a, double b) {
    return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(a));
}

// Least-squares a + b t + c t^2 through the points; false when they do not
// determine it.
bool parabola(const std::vector<std::pair<double, double>>& points, double& a, double& b, double& c) {
    Matrix normal(3, 3);
    Vector right(3);
    for (const auto& p : points) {
        const double row[3] = {1.0, p.first, p.first * p.first};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                normal[i][j] += row[i] * row[j];
            right[i] += row[i] * p.second;
        }
    }
    double scale = 0;
    for (int i = 0; i < 3; ++i)
        scale = std::max(scale, std::fabs(normal[i][i]));
    if (!(scale > 0) || std::fabs(normal.determinant3x3()) <= 1e-12 * scale * scale * scale)
        return false;
    const Vector p = normal.invert3x3() * right;
    a = p[0];
    b = p[1];
    c = p[2];
    return std::isfinite(a) && std::isfinite(b) && std::isfinite(c);
}

}  // namespace

InertialSensor::Clipping InertialSensor::findClipping(double fromMs, double toMs) const {
    Clipping worst;
    // The samples of the stretch with three values. In time order the span
    // holds just the stretch's samples: where all have three values, they
    // are the span itself and no list of them is made.
    const auto span = spanOf(fromMs, toMs);
    bool contiguous = bufferInTimeOrder();
    for (size_t i = span.first; contiguous && i < span.second; ++i)
        contiguous = bufferedData[i].values.size() >= 3;
    std::vector<size_t> at;
    if (!contiguous)
        for (size_t i = span.first; i < span.second; ++i)
            if (bufferedData[i].timestamp > fromMs && bufferedData[i].timestamp <= toMs &&
                bufferedData[i].values.size() >= 3)
                at.push_back(i);
    const size_t count = contiguous ? span.second - span.first : at.size();
    if (count < kLeastStuck + 2 * kLeastFlank)
        return worst;
    auto sample = [&](size_t k) -> const SensorData& { return bufferedData[contiguous ? span.first + k : at[k]]; };
    auto value = [&](size_t k, int axis) { return sample(k).values[static_cast<size_t>(axis)]; };
    auto time = [&](size_t k) { return sample(k).timestamp; };
    // The whole motion of the stretch, and the largest reading on any axis:
    // a part clips on the axis that carries the motion, so a minor axis read
    // through a coarse resolution that stays on one value is no clipping.
    // Per axis, in the same pass, the first sample at the extreme the axis
    // reached.
    double whole = 0, largest = 0;
    size_t tops[3] = {0, 0, 0};
    for (size_t k = 0; k < count; ++k) {
        const SampleValues& v = sample(k).values;
        const double size = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        largest = std::max(largest, std::max(std::fabs(v[0]), std::max(std::fabs(v[1]), std::fabs(v[2]))));
        if (k > 0) {
            whole += size * (time(k) - time(k - 1)) / 1000;
            for (int axis = 0; axis < 3; ++axis)
                if (std::fabs(v[static_cast<size_t>(axis)]) > std::fabs(value(tops[axis], axis)))
                    tops[axis] = k;
        }
    }
    for (int axis = 0; axis < 3; ++axis) {
        // The extreme the axis reached, and the longest run of samples that
        // stayed exactly there.
        const size_t top = tops[axis];
        const double level = value(top, axis);
        if (level == 0 || std::fabs(level) < largest / 2)
            continue;
        size_t runFrom = 0, runLength = 0;
        for (size_t k = 0; k < count;) {
            size_t n = 0;
            while (k + n < count && same(value(k + n, axis), level))
                ++n;
            if (n > runLength) {
                runLength = n;
                runFrom = k;
            }
            k += std::max<size_t>(n, 1);
        }
        const size_t runTo = runFrom + runLength;  // one past
        // A peak needs readings heading up to it and down from it inside the
        // stretch; one at an end of the stretch is not judged.
        if (runLength < kLeastStuck || runFrom < kLeastFlank || count - runTo < kLeastFlank)
            continue;
        // Where the readings were heading, from the samples on both sides
        // (times about the middle of the run, values towards the extreme
        // positive): a smooth peak bends down through them, and the curve
        // they draw over the run is what the part would have read.
        const double sign = level > 0 ? 1.0 : -1.0;
        const double middle = (time(runFrom) + time(runTo - 1)) / 2;
        std::vector<std::pair<double, double>> flank;
        for (size_t k = runFrom >= kFlank ? runFrom - kFlank : 0; k < runFrom; ++k)
            flank.emplace_back((time(k) - middle) / 1000, sign * value(k, axis));
        for (size_t k = runTo; k < count && k < runTo + kFlank; ++k)
            flank.emplace_back((time(k) - middle) / 1000, sign * value(k, axis));
        double a = 0, b = 0, c = 0;
        double lost = 0;
        if (!parabola(flank, a, b, c))
            continue;
        for (size_t k = runFrom; k < runTo; ++k) {
            const double s = (time(k) - middle) / 1000;
            const double dt = k > 0 ? (time(k) - time(k - 1)) / 1000 : 0.0;
            lost += std::max(0.0, a + b * s + c * s * s - std::fabs(level)) * dt;
        }
        if (!(lost > kLostShare * whole))
            continue;
        const double seconds = (time(runTo - 1) - time(runFrom)) / 1000;
        if (worst.axis < 0 || seconds > worst.seconds)
            worst = Clipping{axis, level, seconds};
    }
    return worst;
}

InertialSensor::Quiet InertialSensor::quietestSecond(double fromMs) {
    Quiet quiet;
    quiet.deviationLimit = motionStdLimit;
    quiet.rangeLimit = motionRangeLimit;
    if (bufferedData.empty())
        return quiet;
    double share = 0;
    for (double start = fromMs; start + motionlessWindow <= bufferedData.back().timestamp; start += 100.0) {
        const BufferRange range = findBufferRange(start + motionlessWindow, motionlessWindow);
        if (range.first < 0 || range.last - range.first < 2)
            continue;
        const double deviation = Statistics::FindSTDMax(bufferedData, range);
        const double spread = Statistics::FindRangeMax(bufferedData, range);
        // The window nearest to still, by the larger share of its limits.
        const double s = std::max(deviation / std::max(motionStdLimit, 1e-12), spread / std::max(motionRangeLimit, 1e-12));
        if (quiet.found && s >= share)
            continue;
        quiet.found = true;
        share = s;
        quiet.deviation = deviation;
        quiet.range = spread;
        quiet.noise = 0;
        for (size_t axis = 0; axis < 3; ++axis) {
            std::vector<double> steps;
            for (int i = range.first + 1; i <= range.last; ++i) {
                const SampleValues& a = bufferedData[static_cast<size_t>(i) - 1].values;
                const SampleValues& b = bufferedData[static_cast<size_t>(i)].values;
                if (a.size() > axis && b.size() > axis)
                    steps.push_back(b[axis] - a[axis]);
            }
            quiet.noise = std::max(quiet.noise, Statistics::calcStd(steps) / std::sqrt(2.0));
        }
    }
    return quiet;
}

double InertialSensor::longestGap(double fromMs, double toMs, double& atMs) const {
    double longest = 0;
    atMs = fromMs;
    double previous = NAN;
    // In time order, the samples up to toMs lead the buffer, and the one
    // before the stretch is where its first gap begins.
    size_t first = 0, last = 0;
    std::tie(first, last) = spanOf(fromMs, toMs);
    if (first > 0)
        --first;
    for (size_t i = first; i < last; ++i) {
        const SensorData& s = bufferedData[i];
        if (s.timestamp > toMs)
            continue;
        // A gap that ends inside the stretch counts, wherever it began.
        if (!std::isnan(previous) && s.timestamp > fromMs && s.timestamp - previous > longest) {
            longest = s.timestamp - previous;
            atMs = previous;
        }
        previous = s.timestamp;
    }
    return longest;
}

double InertialSensor::bridgeDoubt(double fromMs, double toMs, double& gapMs) const {
    // Across a gap the integral takes the mean of the rates at its ends, as
    // if the rate changed evenly. Where it was changing one way on the way
    // in and another on the way out (a quick stroke of the hand) that errs
    // by about the gap squared times the change of slope over twelve. A
    // single lost report leaves too short a gap to matter.
    gapMs = 0;
    size_t first = 0, last = 0;
    std::tie(first, last) = spanOf(fromMs, toMs);
    if (first > 0)
        --first;
    std::vector<double> intervals;
    for (size_t i = first + 1; i < last; ++i)
        intervals.push_back(bufferedData[i].timestamp - bufferedData[i - 1].timestamp);
    if (intervals.size() < 3)
        return 0.0;
    std::nth_element(intervals.begin(), intervals.begin() + static_cast<std::ptrdiff_t>(intervals.size() / 2),
                     intervals.end());
    const double usual = intervals[intervals.size() / 2];
    double largest = 0;
    for (size_t i = std::max<size_t>(first, 2); i + 1 < bufferedData.size() && i < last; ++i) {
        const SensorData &a = bufferedData[i - 2], &b = bufferedData[i - 1], &c = bufferedData[i],
                         &d = bufferedData[i + 1];
        const double gap = c.timestamp - b.timestamp;
        if (!(c.timestamp > fromMs && c.timestamp <= toMs) || !(gap > 2.5 * usual))
            continue;
        const double before = (b.timestamp - a.timestamp) * 0.001, after = (d.timestamp - c.timestamp) * 0.001;
        if (!(before > 0) || !(after > 0) || a.values.size() < 3 || b.values.size() < 3 || c.values.size() < 3 ||
            d.values.size() < 3)
            continue;
        double squares = 0;
        for (size_t k = 0; k < 3; ++k) {
            const double bend = (b.values[k] - a.values[k]) / before - (d.values[k] - c.values[k]) / after;
            squares += bend * bend;
        }
        const double seconds = gap * 0.001;
        const double doubt = seconds * seconds * std::sqrt(squares) / 12;
        if (doubt > largest) {
            largest = doubt;
            gapMs = gap;
        }
    }
    return largest;
}

Vector InertialSensor::levelOf(const std::vector<SensorData>& samples) const {
    Vector level(3);
    for (int axis = 0; axis < 3; ++axis) {
        std::vector<double> values;
        values.reserve(samples.size());
        for (const SensorData& s : samples)
            if (s.values.size() >= 3)
                values.push_back(s.values[static_cast<size_t>(axis)]);
        level[axis] = Statistics::RobustMean(values);
    }
    return level;
}

double InertialSensor::levelUncertainty(const std::vector<SensorData>& samples, int& axis, double& step) const {
    double worst = 0;
    axis = -1;
    step = 0;
    for (int k = 0; k < 3; ++k) {
        // The resolution: the smallest change between two readings.
        double smallest = std::numeric_limits<double>::infinity();
        for (size_t i = 1; i < bufferedData.size(); ++i) {
            if (bufferedData[i].values.size() < 3 || bufferedData[i - 1].values.size() < 3)
                continue;
            const double d = std::fabs(bufferedData[i].values[static_cast<size_t>(k)] -
                                       bufferedData[i - 1].values[static_cast<size_t>(k)]);
            if (d > 0 && d < smallest)
                smallest = d;
        }
        if (std::isinf(smallest))
            continue;
        std::vector<double> values;
        values.reserve(samples.size());
        for (const SensorData& s : samples)
            if (s.values.size() >= 3)
                values.push_back(s.values[static_cast<size_t>(k)]);
        if (values.empty())
            continue;
        // Readings that never leave one step say only that the level lies
        // within half a step of it; noise that spreads them over the steps
        // lets their mean find it (the mean's error falls off as a Gaussian
        // of the spread in steps).
        const double spread = Statistics::calcStd(values) / smallest;
        const double uncertainty = smallest / 2 * std::exp(-2 * 9.869604401089358 * spread * spread);
        if (uncertainty > worst) {
            worst = uncertainty;
            axis = k;
            step = smallest;
        }
    }
    return worst;
}
