#include "MovingWindow.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "Statistics.h"
#include "Vector.h"

namespace Statistics {
namespace {

// After this many additions and removals the sums are taken afresh, which
// keeps their rounding within the bound stdMaxAbove allows for.
const size_t kFreshSums = 4096;

}  // namespace

void MovingWindow::clear() {
    from = to = base = 0;
    for (std::vector<double>& blocks : low)
        blocks.clear();
    for (std::vector<double>& blocks : high)
        blocks.clear();
    for (double& s : sum)
        s = 0;
    for (double& s : squares)
        s = 0;
    changes = 0;
    largestSquare = 0;
    largestCount = 0;
}

bool MovingWindow::moveTo(const BufferRange& range) {
    if (range.first < 0 || range.last < range.first || static_cast<size_t>(range.last) >= buf.size()) {
        clear();
        return false;
    }
    const size_t first = static_cast<size_t>(range.first), end = static_cast<size_t>(range.last) + 1;
    if (to == from || first >= to) {
        clear();
        from = to = base = first;
    } else if (first < from || end < to) {
        clear();
        return false;
    }
    for (; to < end; ++to) {
        const SampleValues& v = buf[to].values;
        if (v.size() < 3 || !std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2])) {
            clear();
            return false;
        }
        add(to);
    }
    for (; from < first; ++from)
        remove(from);
    largestCount = std::max(largestCount, to - from);
    if (changes > kFreshSums)
        sumAfresh();
    return true;
}

void MovingWindow::add(size_t i) {
    const SampleValues& v = buf[i].values;
    for (int axis = 0; axis < 3; ++axis) {
        const double x = v[static_cast<size_t>(axis)];
        sum[axis] += x;
        squares[axis] += x * x;
        largestSquare = std::max(largestSquare, x * x);
    }
    ++changes;
    // A block the window has wholly passed into gets its extremes.
    if ((i + 1 - base) % kBlock == 0) {
        for (int axis = 0; axis < 3; ++axis) {
            double least = 0, most = 0;
            extremes(i + 1 - kBlock, i + 1, axis, least, most);
            low[axis].push_back(least);
            high[axis].push_back(most);
        }
    }
}

void MovingWindow::remove(size_t i) {
    const SampleValues& v = buf[i].values;
    for (int axis = 0; axis < 3; ++axis) {
        const double x = v[static_cast<size_t>(axis)];
        sum[axis] -= x;
        squares[axis] -= x * x;
    }
    ++changes;
}

void MovingWindow::extremes(size_t first, size_t end, int axis, double& least, double& most) const {
    least = most = buf[first].values[static_cast<size_t>(axis)];
    widen(first + 1, end, axis, least, most);
}

void MovingWindow::widen(size_t first, size_t end, int axis, double& least, double& most) const {
    for (size_t i = first; i < end; ++i)
        widen(buf[i].values[static_cast<size_t>(axis)], least, most);
}

void MovingWindow::widen(double x, double& least, double& most) {
    least = x < least ? x : least;
    most = x < most ? most : x;
}

void MovingWindow::sumAfresh() {
    largestSquare = 0;
    for (int axis = 0; axis < 3; ++axis) {
        sum[axis] = squares[axis] = 0;
        for (size_t i = from; i < to; ++i) {
            const double x = buf[i].values[static_cast<size_t>(axis)];
            sum[axis] += x;
            squares[axis] += x * x;
            largestSquare = std::max(largestSquare, x * x);
        }
    }
    changes = to - from;
    largestCount = to - from;
}

double MovingWindow::rangeMax() const {
    Vector spreads(3);
    if (to == from)
        return spreads.Max();
    // The whole blocks inside the window by their extremes, the samples
    // before and after them one by one.
    const size_t firstBlock = (from - base + kBlock - 1) / kBlock;
    const size_t endBlock = std::max(firstBlock, (to - base) / kBlock);
    const size_t head = std::min(to, base + firstBlock * kBlock), tail = std::max(head, base + endBlock * kBlock);
    for (int axis = 0; axis < 3; ++axis) {
        double least = 0, most = 0;
        extremes(from, head > from ? head : from + 1, axis, least, most);
        for (size_t b = firstBlock; b < endBlock; ++b) {
            widen(low[axis][b], least, most);
            widen(high[axis][b], least, most);
        }
        widen(tail, to, axis, least, most);
        spreads[axis] = most - least;
    }
    return spreads.Max();
}

bool MovingWindow::stdMaxAbove(double limit) const {
    const BufferRange range(static_cast<int>(from), static_cast<int>(to) - 1);
    if (to == from)
        return FindSTDMax(buf, range) > limit;
    const double n = static_cast<double>(to - from);
    // Each sum has met at most `changes` additions and removals and the
    // window's own summing, every one rounded by at most a unit in the last
    // place of a partial sum, which is at most the largest window's count of
    // the largest square. The same bounds the deviation FindSTDMax rounds to.
    const double rounding = 8.0 * DBL_EPSILON * static_cast<double>(changes + largestCount) *
                            (static_cast<double>(largestCount) / n) * largestSquare;
    const double square = limit * limit;
    bool allBelow = std::isfinite(square);
    for (int axis = 0; axis < 3; ++axis) {
        const double mean = sum[axis] / n;
        const double variance = squares[axis] / n - mean * mean;
        if (variance - rounding > square * (1 + 1e-12) && std::isfinite(square))
            return true;
        allBelow = allBelow && variance + rounding <= square * (1 - 1e-12);
    }
    // FindSTDMax's answer is at least DBL_MIN.
    if (allBelow && limit >= DBL_MIN)
        return false;
    return FindSTDMax(buf, range) > limit;
}

}  // namespace Statistics
