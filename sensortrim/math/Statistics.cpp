#include "Statistics.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <cmath>

namespace {

const char kInternalError[] = "Internal error";
const char kInvalidRange[] = "invalid buffer range";

// Every sample of [first, last] has at least axes values.
void requireAxes(const std::vector<SensorData>& buf, int first, int last, size_t axes, const char* error) {
    for (int i = first; i <= last; ++i)
        if (buf[static_cast<size_t>(i)].values.size() < axes)
            throw CalibrationException(error);
}

// The values of one axis over [first, last].
std::vector<double> axisValues(const std::vector<SensorData>& buf, const BufferRange& range, int axis) {
    std::vector<double> values;
    if (range.last >= range.first)
        values.reserve(static_cast<size_t>(range.last - range.first) + 1);
    for (int i = range.first; i <= range.last; ++i)
        values.push_back(buf[static_cast<size_t>(i)].values[static_cast<size_t>(axis)]);
    return values;
}

// A range whose indexes all lie inside the buffer; an empty range (last < first) passes.
void requireRangeInside(const std::vector<SensorData>& buf, const BufferRange& range) {
    const int size = static_cast<int>(std::min<size_t>(buf.size(), 0x7fffffff));
    if (range.first < 0 || range.first >= size || range.last >= size)
        throw CalibrationException(kInvalidRange);
}

}  // namespace

namespace Statistics {

double calcAvg(const std::vector<SensorData>& buf, int axis, int start, int count) {
    if (count <= 0 || start < 0 || axis < 0 || static_cast<size_t>(start) + static_cast<size_t>(count) > buf.size())
        throw CalibrationException(kInternalError);
    requireAxes(buf, start, start + count - 1, static_cast<size_t>(axis) + 1, kInternalError);
    double sum = 0.0;
    for (int i = start; i < start + count; ++i)
        sum += buf[static_cast<size_t>(i)].values[static_cast<size_t>(axis)];
    return sum / count;
}

double calcStd(const std::vector<SensorData>& buf, int axis, int start, int count) {
    const double avg = calcAvg(buf, axis, start, count);
    double sum = 0.0;
    for (int i = start; i < start + count; ++i) {
        const double d = buf[static_cast<size_t>(i)].values[static_cast<size_t>(axis)] - avg;
        sum += d * d;
    }
    return std::sqrt(sum / count);
}

double calcStd(const std::vector<double>& list) {
    if (list.empty())
        return 0.0;
    const double n = static_cast<double>(list.size());
    double sum = 0.0, squares = 0.0;
    for (double x : list) {
        sum += x;
        squares += x * x;
    }
    const double m = sum / n;
    // Rounding can leave a tiny negative variance for constant data.
    return std::sqrt(std::max(0.0, squares / n - m * m));
}

double mean(const std::vector<double>& list) {
    if (list.empty())
        return 0.0;
    double sum = 0.0;
    for (double x : list)
        sum += x;
    return sum / static_cast<double>(list.size());
}

namespace {

// How the median by selection came out.
enum class Middle {
    Found,
    // Zero, and only the full sort tells its sign: -0 and +0 compare equal,
    // yet print apart.
    Zero,
    // NaN (no place in an order) or fewer than two values: only the sort gives it.
    Declined,
};

// The median by selection in `work`, whose order is lost. Equal values are
// the same bits, so any way of ordering gives the same median, but for the
// sign of a zero, which the full sort's arrangement has always decided. A
// zero beside a nonzero value in the middle of an even count leaves no sign
// to decide: their mean is half the other value either way.
Middle middleBySelection(std::vector<double>& work, double& middle) {
    const size_t n = work.size();
    if (n < 2 || std::any_of(work.begin(), work.end(), [](double x) { return std::isnan(x); }))
        return Middle::Declined;
    const std::pair<double, double> ranks = ranksBelowAndAt(work, n / 2);
    if (n % 2 == 1) {
        middle = ranks.second;
        return ranks.second == 0.0 ? Middle::Zero : Middle::Found;
    }
    middle = (ranks.first + ranks.second) / 2.0;
    return ranks.first == 0.0 && ranks.second == 0.0 ? Middle::Zero : Middle::Found;
}

}  // namespace

double Median(std::vector<double> list) {
    if (list.empty())
        throw CalibrationException(kInternalError);
    // Only the middle of the order is needed, and selecting it is linear; the
    // sort, where it is still needed, must see the list as it came, so the
    // selection works on a copy.
    std::vector<double> order = list;
    double middle = 0;
    if (middleBySelection(order, middle) == Middle::Found)
        return middle;
    const size_t n = list.size();
    std::sort(list.begin(), list.end());
    if (n % 2 == 1)
        return list[n / 2];
    return (list[n / 2 - 1] + list[n / 2]) / 2.0;
}

std::pair<double, double> ranksBelowAndAt(std::vector<double>& values, size_t k) {
    const size_t n = values.size();
    if (k == 0 || k >= n)
        throw CalibrationException(kInternalError);
    // Below this a plain selection is as fast.
    const size_t kLeastBracketed = 16384, kSample = 1024, kMargin = 64;
    if (n >= kLeastBracketed) {
        // Every (n / kSample)th value, in order: rank k of the list lies near
        // rank k * kSample / n of the sample, within a few of its deviations
        // (sqrt(kSample) / 2 = 16 at most); kMargin of them on either side
        // bracket it all but never.
        const size_t stride = n / kSample;
        std::vector<double> sample(kSample);
        for (size_t i = 0; i < kSample; ++i)
            sample[i] = values[i * stride];
        std::sort(sample.begin(), sample.end());
        const size_t at = static_cast<size_t>(static_cast<double>(k) / static_cast<double>(n) * kSample);
        const double low = sample[at > kMargin ? at - kMargin : 0];
        const double high = sample[std::min(kSample - 1, at + kMargin)];
        // Without branches: which side of the bracket a value falls on is
        // a toss-up the processor cannot predict. Each value is written at
        // the bracket's end and kept by counting it; the storage is only
        // touched as far as the bracket reaches.
        size_t under = 0, kept = 0;
        const std::unique_ptr<double[]> inside(new double[n]);
        for (double x : values) {
            under += x < low;
            inside[kept] = x;
            kept += (x >= low) & (x <= high);
        }
        // Both ranks inside the bracket: found there.
        if (k > under && k - under < kept) {
            double* const begin = inside.get();
            double* const place = begin + (k - under);
            std::nth_element(begin, place, begin + kept);
            return {*std::max_element(begin, place), *place};
        }
    }
    const auto place = values.begin() + static_cast<std::ptrdiff_t>(k);
    std::nth_element(values.begin(), place, values.end());
    return {*std::max_element(values.begin(), place), *place};
}

double RobustMean(const std::vector<double>& list) {
    // The median and the median deviation from it, selected in one working
    // copy: the deviations take the place of the values (a selection's result
    // does not depend on the order it is given). The mean is summed over the
    // list in its own order.
    if (list.empty())
        throw CalibrationException(kInternalError);
    const size_t n = list.size();
    std::vector<double> work(list);
    double middle = 0;
    // One value or NaN: the median as Median gives it.
    const Middle found = middleBySelection(work, middle);
    if (found == Middle::Declined)
        middle = Median(list);
    if (std::isnan(middle))
        return middle;
    // A zero in the middle: its sign changes no distance from it, and is
    // taken from Median's sort only where the median itself is the answer.
    auto answer = [&] { return found == Middle::Zero ? Median(list) : middle; };
    double step = std::numeric_limits<double>::infinity();
    for (size_t i = 0; i < n; ++i) {
        const double d = std::fabs(list[i] - middle);
        work[i] = d;
        if (d > 0 && d < step)
            step = d;
    }
    // Every value the median itself.
    if (std::isinf(step))
        return answer();
    const double width = std::max(4 * 1.4826 * ranksBelowAndAt(work, n / 2).second, 1.5 * step);
    double sum = 0.0;
    size_t count = 0;
    for (double x : list)
        if (std::fabs(x - middle) <= width) {
            sum += x;
            ++count;
        }
    return count > 0 ? sum / static_cast<double>(count) : answer();
}

Vector Median(const std::vector<SensorData>& buf, const BufferRange& range) {
    if (range.last < range.first)
        return Vector();
    requireRangeInside(buf, range);
    const size_t axes = buf[static_cast<size_t>(range.first)].values.size();
    requireAxes(buf, range.first, range.last, axes, kInvalidRange);
    Vector result(static_cast<int>(axes));
    for (size_t axis = 0; axis < axes; ++axis)
        result[static_cast<int>(axis)] = Median(axisValues(buf, range, static_cast<int>(axis)));
    return result;
}

double FindRangeMax(const std::vector<SensorData>& buf, const BufferRange& range) {
    if (buf.empty())
        return 0.0;
    requireRangeInside(buf, range);
    Vector spreads(3);
    if (range.last >= range.first) {
        // One pass in place over the three axes: the motion checks call this
        // for every tenth of a second. Per axis, the first smallest and the
        // last largest, as minmax_element finds them.
        double low[3] = {}, high[3] = {};
        bool nan = false;
        for (int i = range.first; i <= range.last; ++i) {
            const SampleValues& v = buf[static_cast<size_t>(i)].values;
            if (v.size() < 3)
                throw CalibrationException(kInvalidRange);
            if (i == range.first) {
                for (size_t axis = 0; axis < 3; ++axis)
                    low[axis] = high[axis] = v[axis];
            }
            for (size_t axis = 0; axis < 3; ++axis) {
                const double x = v[axis];
                nan = nan || std::isnan(x);
                low[axis] = x < low[axis] ? x : low[axis];
                high[axis] = x < high[axis] ? high[axis] : x;
            }
        }
        for (int axis = 0; axis < 3; ++axis) {
            if (nan) {
                // NaN has no order: its answer is whatever minmax_element makes of it.
                const std::vector<double> values = axisValues(buf, range, axis);
                const auto minmax = std::minmax_element(values.begin(), values.end());
                low[axis] = *minmax.first;
                high[axis] = *minmax.second;
            }
            spreads[axis] = high[axis] - low[axis];
        }
    }
    return spreads.Max();
}

double FindSTDMax(const std::vector<SensorData>& buf, const BufferRange& range) {
    requireRangeInside(buf, range);
    Vector deviations(3);
    if (range.last >= range.first) {
        // calcStd's sums for each axis, in the same order, in one pass in place.
        double sum[3] = {}, squares[3] = {};
        for (int i = range.first; i <= range.last; ++i) {
            const SampleValues& v = buf[static_cast<size_t>(i)].values;
            if (v.size() < 3)
                throw CalibrationException(kInvalidRange);
            for (size_t axis = 0; axis < 3; ++axis) {
                sum[axis] += v[axis];
                squares[axis] += v[axis] * v[axis];
            }
        }
        const double n = static_cast<double>(range.last - range.first + 1);
        for (int axis = 0; axis < 3; ++axis) {
            const double m = sum[axis] / n;
            deviations[axis] = std::sqrt(std::max(0.0, squares[axis] / n - m * m));
        }
    }
    return deviations.Max();
}

}  // namespace Statistics
