// Reading a 1,000,000-row accelerometer dump.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "CsvParser.h"
#include "Sensor.h"

namespace {

const char kFolder[] = "/tmp/tessary-bench-dump";
const int kRows = 1000000;

void writeDump() {
    static bool written = false;
    if (written)
        return;
    std::string mk = std::string("mkdir -p ") + kFolder;
    if (std::system(mk.c_str()) != 0)
        return;
    std::ofstream out(std::string(kFolder) + "/dataDumpAccelerometer.csv");
    out << "LUID=7300010001000002\ntime[ms],Accelerometer_X[g0],Accelerometer_Y[g0],Accelerometer_Z[g0]\n";
    char line[128];
    for (int i = 0; i < kRows; ++i) {
        std::snprintf(line, sizeof line, "%f,%f,%f,%f\n", i * 10.0, 0.001 * (i % 7), -0.002 * (i % 5), 1.0 + 0.0001 * (i % 3));
        out << line;
    }
    written = true;
}

void BM_ReadDump(benchmark::State& state) {
    writeDump();
    const auto sensor = Sensor::allocateSensor(_sc_sensor_luid{115, 1, 1, 0, 2});
    for (auto _ : state) {
        SensorDump dump = CsvParser().readFromFile(std::string(kFolder) + "/dataDump", {sensor}, false);
        benchmark::DoNotOptimize(dump);
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_CountLines(benchmark::State& state) {
    writeDump();
    for (auto _ : state) {
        const std::string cmd = std::string("wc -l < ") + kFolder + "/dataDumpAccelerometer.csv > /dev/null";
        benchmark::DoNotOptimize(std::system(cmd.c_str()));
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

BENCHMARK(BM_ReadDump)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CountLines)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
