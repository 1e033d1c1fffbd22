// The samples the ellipsoid-fit benchmarks fit: points of an ellipsoid with a
// centre, different radii and a slight tilt, plus noise, always the same.
#pragma once

#include <cmath>
#include <random>
#include <vector>

#include "SensorData.h"

inline std::vector<SensorData> noisyEllipsoid(size_t n) {
    std::mt19937 rng(1);
    std::normal_distribution<double> gauss(0.0, 1.0), noise(0.0, 0.2);
    std::vector<SensorData> samples;
    samples.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        double x = gauss(rng), y = gauss(rng), z = gauss(rng);
        const double r = std::sqrt(x * x + y * y + z * z);
        x /= r;
        y /= r;
        z /= r;
        samples.emplace_back(static_cast<double>(i),
                             SampleValues{28 + 55 * x + 3 * y + noise(rng), -40 + 47 * y + noise(rng),
                                          -27 + 51 * z + 2 * x + noise(rng)});
    }
    return samples;
}
