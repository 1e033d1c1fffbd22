#include "Interpolation.h"

#include "Exceptions.h"

namespace {
const char kInternalError[] = "Internal error";
}

namespace Interpolation {

int findIndex(const std::vector<double>& xs, double x) {
    const size_t n = xs.size();
    if (n < 2 || !(xs[0] <= x && x < xs[n - 1]))
        throw CalibrationException(kInternalError);
    size_t hi = n, lo = 0, i = n / 2;
    // i stays below n - 1 whenever xs[i+1] is read: xs[n-1] <= x is false.
    // An ascending list settles within 64 halvings; anything else is refused.
    for (int step = 0; !(xs[i] <= x && x < xs[i + 1]); ++step) {
        if (step > 64)
            throw CalibrationException(kInternalError);
        i = (hi + lo) / 2;
        if (xs[i] > x)
            hi = i;
        else
            lo = i;
    }
    return static_cast<int>(i);
}

double LinearInterpolation(const std::vector<double>& xs, const std::vector<double>& ys, double x) {
    if (xs.empty() || ys.size() < xs.size())
        throw CalibrationException(kInternalError);
    if (x <= xs.front())
        return ys.front();
    if (x >= xs.back())
        return ys[xs.size() - 1];
    const size_t i = static_cast<size_t>(findIndex(xs, x));
    return ys[i] + (ys[i + 1] - ys[i]) * (x - xs[i]) / (xs[i + 1] - xs[i]);
}

std::vector<Vector> LinearInterpolation(const std::vector<SensorData>& source, std::vector<SensorData> target) {
    std::vector<double> times;
    std::vector<double> axes[3];
    for (const SensorData& s : source) {
        if (s.values.size() < 3)
            throw CalibrationException(kInternalError);
        times.push_back(s.timestamp);
        for (int a = 0; a < 3; ++a)
            axes[a].push_back(s.values[static_cast<size_t>(a)]);
    }
    std::vector<Vector> result;
    result.reserve(target.size());
    for (const SensorData& t : target) {
        Vector v(3);
        for (int a = 0; a < 3; ++a)
            v[a] = LinearInterpolation(times, axes[a], t.timestamp);
        result.push_back(v);
    }
    return result;
}

}  // namespace Interpolation
