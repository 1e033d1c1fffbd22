// Cost of the full ellipsoid fit against the sample count; it should grow linearly.
#include <benchmark/benchmark.h>

#include "EllipsoidFit.h"
#include "EllipsoidSamples.h"

namespace {

void BM_EllipsoidFit(benchmark::State& state) {
    const std::vector<SensorData> samples = noisyEllipsoid(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        EllipsoidFit fit(samples, 48.0);
        benchmark::DoNotOptimize(fit.center);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_EllipsoidFit)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace
