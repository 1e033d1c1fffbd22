// The measurements behind bench/figures.sh, each printed as milliseconds (the
// best of several runs):
//   bench_figures read DUMP        the calibration tool's dump reader
//   bench_figures plain DUMP       a plain reader of the same file: getline and strtod
//   bench_figures fit N SAMPLES    the ellipsoid fit of N samples, which are also
//                                  written to SAMPLES (raw doubles, x y z per sample)
//                                  for the NumPy reference to fit the same data
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "CsvParser.h"
#include "EllipsoidFit.h"
#include "EllipsoidSamples.h"
#include "Sensor.h"

namespace {

double bestOf(int runs, const std::function<void()>& job) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        job();
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// What a user would write to read a dump: skip the two header lines, then one
// getline and four strtod per row into a vector of rows.
size_t plainRead(const std::string& path) {
    struct Row {
        double t, x, y, z;
    };
    std::ifstream in(path);
    std::string line;
    std::vector<Row> rows;
    std::getline(in, line);
    std::getline(in, line);
    while (std::getline(in, line)) {
        char* p = &line[0];
        Row r{};
        r.t = std::strtod(p, &p);
        r.x = std::strtod(p + 1, &p);
        r.y = std::strtod(p + 1, &p);
        r.z = std::strtod(p + 1, &p);
        rows.push_back(r);
    }
    return rows.size();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 2 ? argv[1] : "";
    if (what == "read") {
        const auto sensor = Sensor::allocateSensor(_sc_sensor_luid{115, 1, 1, 0, 2});
        std::string base = argv[2];
        base = base.substr(0, base.rfind("Accelerometer.csv"));
        size_t rows = 0;
        const double ms = bestOf(5, [&] { rows = CsvParser().readFromFile(base, {sensor}, false).begin()->second.size(); });
        std::printf("%.1f %zu\n", ms, rows);
        return 0;
    }
    if (what == "plain") {
        size_t rows = 0;
        const double ms = bestOf(5, [&] { rows = plainRead(argv[2]); });
        std::printf("%.1f %zu\n", ms, rows);
        return 0;
    }
    if (what == "fit" && argc > 3) {
        const std::vector<SensorData> samples = noisyEllipsoid(std::strtoul(argv[2], nullptr, 10));
        std::FILE* out = std::fopen(argv[3], "wb");
        if (!out)
            return 1;
        for (const SensorData& s : samples)
            std::fwrite(s.values.begin(), sizeof(double), 3, out);
        std::fclose(out);
        double first = 0;
        const double ms = bestOf(5, [&] { first = EllipsoidFit(samples).center[0]; });
        std::printf("%.2f %.6f\n", ms, first);
        return 0;
    }
    std::fprintf(stderr, "usage: bench_figures read DUMP | plain DUMP | fit N SAMPLES\n");
    return 2;
}
