// Piecewise-linear resampling of sample buffers.
#pragma once

#include <vector>

#include "SensorData.h"
#include "Vector.h"

namespace Interpolation {

// For an ascending xs with xs[0] <= x < xs[last]: the i with xs[i] <= x < xs[i+1].
int findIndex(const std::vector<double>& xs, double x);
// ys at x, linear between neighbours and held at the ends.
double LinearInterpolation(const std::vector<double>& xs, const std::vector<double>& ys, double x);
// Axes 0..2 of source, resampled at each timestamp of target.
std::vector<Vector> LinearInterpolation(const std::vector<SensorData>& source, std::vector<SensorData> target);

}  // namespace Interpolation
