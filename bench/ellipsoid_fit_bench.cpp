// Cost of the full ellipsoid fit against the sample count; it should grow linearly.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "EllipsoidFit.h"

namespace {

std::vector<SensorData> noisyEllipsoid(int n) {
    std::mt19937 rng(1);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.2);
    std::vector<SensorData> samples;
    samples.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        double x = gauss(rng), y = gauss(rng), z = gauss(rng);
        const double r = std::sqrt(x * x + y * y + z * z);
        x /= r;
        y /= r;
        z /= r;
        samples.emplace_back(i, std::vector<double>{28 + 55 * x + 3 * y + noise(rng), -40 + 47 * y + noise(rng),
                                                    -27 + 51 * z + 2 * x + noise(rng)});
    }
    return samples;
}

void BM_EllipsoidFit(benchmark::State& state) {
    const std::vector<SensorData> samples = noisyEllipsoid(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        EllipsoidFit fit(samples, 48.0);
        benchmark::DoNotOptimize(fit.center);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_EllipsoidFit)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace
