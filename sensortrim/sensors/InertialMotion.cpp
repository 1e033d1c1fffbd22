// How a sensor tells motion and stillness in the live steps: the samples of a
// window, their medians and spread against the motionless limits.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "Console.h"
#include "Exceptions.h"
#include "InertialSensor.h"
#include "MovingWindow.h"
#include "SVD.h"
#include "Statistics.h"
#include "TestingThresholds.h"
#include "XmlUtil.h"

bool InertialSensor::bufferInTimeOrder() const {
    // Samples only ever join at the end: the leading run in time order grows
    // with them and is checked once.
    if (timeOrdered > bufferedData.size())
        timeOrdered = 0;
    while (timeOrdered < bufferedData.size() &&
           (timeOrdered == 0 || bufferedData[timeOrdered].timestamp >= bufferedData[timeOrdered - 1].timestamp))
        ++timeOrdered;
    return timeOrdered == bufferedData.size();
}

size_t InertialSensor::firstAfter(double t, size_t from) const {
    const auto after = [](double value, const SensorData& s) { return value < s.timestamp; };
    return static_cast<size_t>(
        std::upper_bound(bufferedData.begin() + static_cast<std::ptrdiff_t>(std::min(from, bufferedData.size())),
                         bufferedData.end(), t, after) -
        bufferedData.begin());
}

std::pair<size_t, size_t> InertialSensor::spanOf(double fromMs, double toMs) const {
    if (!bufferInTimeOrder())
        return {0, bufferedData.size()};
    const size_t first = firstAfter(fromMs);
    return {first, firstAfter(toMs, first)};
}

BufferRange InertialSensor::findBufferRange(double start, double window) {
    if (bufferedData.empty())
        return BufferRange(-1, -1);
    int first = -1, last = -1;
    if (bufferInTimeOrder() && window >= 0) {
        // In time order the newest sample at or before a time is found by
        // bisection; it is the one the backward scan below stops at. The
        // windows of consecutive samples move forward a sample or two: from
        // where the last one began, a few steps find it.
        auto newestAtOrBefore = [this](double t, size_t& hint) {
            const size_t n = bufferedData.size();
            if (hint < n && bufferedData[hint].timestamp <= t) {
                size_t i = hint;
                for (int step = 0; step < 8 && i + 1 < n && bufferedData[i + 1].timestamp <= t; ++step)
                    ++i;
                if (i + 1 >= n || bufferedData[i + 1].timestamp > t) {
                    hint = i;
                    return static_cast<int>(i);
                }
            }
            const int found = static_cast<int>(firstAfter(t)) - 1;
            hint = found >= 0 ? static_cast<size_t>(found) : 0;
            return found;
        };
        first = newestAtOrBefore(start, rangeHints[0]);
        last = newestAtOrBefore(start + window, rangeHints[1]);
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

bool InertialSensor::movedFurtherThan(double distance) {
    const BufferRange range = findBufferRange(kMoveWindowMs);
    if (range.first < 0 || range.last < range.first)
        return false;
    const size_t first = static_cast<size_t>(range.first);
    // Each axis's median lies between that axis's smallest and largest
    // value, so with every value of the window within the band the median
    // lies within distance of lastData (a hair less, for the rounding).
    const double half = distance / std::sqrt(3.0) * (1 - 1e-12);
    const size_t none = static_cast<size_t>(-1);
    if (lastData.size() == 3 && half > 0 && std::isfinite(half) && bufferInTimeOrder()) {
        if (bandChecked > bufferedData.size() || bandCentre.size() != 3 || half != bandHalfWidth ||
            !(bandCentre == lastData)) {
            bandCentre = lastData;
            bandHalfWidth = half;
            bandChecked = first;
            bandOutside = none;
        }
        bandChecked = std::max(bandChecked, first);
        for (; bandChecked < bufferedData.size(); ++bandChecked) {
            const SampleValues& v = bufferedData[bandChecked].values;
            bool inside = v.size() == 3;
            for (size_t k = 0; inside && k < 3; ++k)
                inside = std::fabs(v[k] - bandCentre[static_cast<int>(k)]) <= half;
            if (!inside)
                bandOutside = bandChecked;
        }
        if (bandOutside == none || bandOutside < first)
            return false;
    }
    const Vector now = Statistics::Median(bufferedData, range);
    return now.size() == 3 && distanceFromLast(now.elements()) > distance;
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
    // Still as the window that confirmed the hold, which ends at start: the
    // second after it may already hold the next motion (a hand that turns
    // at once), and would make that motion the measure of still.
    const BufferRange range = findBufferRange(start - motionlessWindow, motionlessWindow);
    if (range.first < 0 || range.last - range.first < 2)
        return 0;
    const double s0 = Statistics::FindSTDMax(bufferedData, range);
    const double r0 = Statistics::FindRangeMax(bufferedData, range);
    // The windows overlap nine tenths: in time order one window moves
    // through them, each sample entering and leaving it once.
    Statistics::MovingWindow moving(bufferedData);
    bool follows = bufferInTimeOrder();
    int n = 1;
    for (; bufferedData.back().timestamp > start + 100.0 * n; ++n) {
        const BufferRange next = findBufferRange(start + 100.0 * n, motionlessWindow);
        // A window with fewer than two samples is a gap in the recording (a
        // clock change, say): the device cannot be shown still across it, and
        // stepping through it 100 ms at a time would take as long as the gap.
        if (next.first < 0 || next.last - next.first < 1)
            break;
        follows = follows && moving.moveTo(next);
        if (follows ? moving.rangeMax() > 1.5 * r0 || moving.stdMaxAbove(1.5 * s0)
                    : Statistics::FindRangeMax(bufferedData, next) > 1.5 * r0 ||
                          Statistics::FindSTDMax(bufferedData, next) > 1.5 * s0)
            break;
    }
    return 100.0 * (n - 1);
}
