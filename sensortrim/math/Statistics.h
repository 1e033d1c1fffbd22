// Statistics over sample buffers; "axis" indexes a sample's value list.
#pragma once

#include <utility>
#include <vector>

#include "BufferRange.h"
#include "SensorData.h"
#include "Vector.h"

namespace Statistics {

// Mean of one axis over count samples from start.
double calcAvg(const std::vector<SensorData>& buf, int axis, int start, int count);
// Population standard deviation of one axis over count samples from start.
double calcStd(const std::vector<SensorData>& buf, int axis, int start, int count);
// Population standard deviation of a list.
double calcStd(const std::vector<double>& list);
double mean(const std::vector<double>& list);
double Median(std::vector<double> list);
// The mean of the values near the median: within four standard deviations
// (from the median absolute deviation) or one and a half steps of the
// resolution the values show, whichever is wider. As robust to spikes as the
// median, and not held, as a median is, to one of the values a coarse
// resolution allows.
double RobustMean(const std::vector<double>& list);
// The values of ranks k - 1 and k (0-based, 0 < k < size) of a list without
// NaN, as std::nth_element would place them; the list's order is lost. A long
// list is bracketed about rank k from a sample of it, so that one pass and a
// selection over a small share of it find them.
std::pair<double, double> ranksBelowAndAt(std::vector<double>& values, size_t k);
// One median per axis over the samples of the range (both ends inclusive).
Vector Median(const std::vector<SensorData>& buf, const BufferRange& range);
// Largest per-axis spread (max - min) over axes 0..2 of the range.
double FindRangeMax(const std::vector<SensorData>& buf, const BufferRange& range);
// Largest per-axis standard deviation over axes 0..2 of the range.
double FindSTDMax(const std::vector<SensorData>& buf, const BufferRange& range);

}  // namespace Statistics
