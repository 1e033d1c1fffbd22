// The spread and deviation of a window that moves forward through a buffer of
// samples, as FindRangeMax and FindSTDMax give them, at the cost of the samples
// that enter and leave it instead of the whole window each time.
#pragma once

#include <cstddef>
#include <vector>

#include "BufferRange.h"
#include "SensorData.h"

namespace Statistics {

class MovingWindow {
public:
    explicit MovingWindow(const std::vector<SensorData>& samples) : buf(samples) {}

    // Moves the window to range (both ends inclusive, at least one sample);
    // neither end may move back. False where it cannot follow: an end that
    // moves back, or a sample without three finite values. The window is
    // then empty, and the caller measures the range itself.
    bool moveTo(const BufferRange& range);
    // FindRangeMax over the window, exactly.
    double rangeMax() const;
    // Whether FindSTDMax over the window exceeds limit: the same answer. The
    // running sums hold the deviation to their rounding; a limit too close
    // to call from them is measured on the window.
    bool stdMaxAbove(double limit) const;

private:
    const std::vector<SensorData>& buf;
    size_t from = 0, to = 0;  // the window is [from, to)
    size_t base = 0;
    // Per axis, the smallest and largest value of each block of kBlock
    // samples from base, where the window began, as far as it has come.
    static constexpr size_t kBlock = 64;
    std::vector<double> low[3], high[3];
    double sum[3] = {}, squares[3] = {};
    // For the rounding of the sums: the additions and removals since they
    // were last summed afresh, and the largest square among their values.
    size_t changes = 0;
    double largestSquare = 0;
    size_t largestCount = 0;

    void clear();
    void add(size_t i);
    void remove(size_t i);
    // The smallest and largest value of an axis over [first, end), and the
    // same folded into least and most as they stand.
    void extremes(size_t first, size_t end, int axis, double& least, double& most) const;
    void widen(size_t first, size_t end, int axis, double& least, double& most) const;
    static void widen(double x, double& least, double& most);
    void sumAfresh();
};

}  // namespace Statistics
