// The envelope of the calibration, judged as a production test is: a device
// with errors drawn on every axis, recorded by the independent simulator at a
// station anywhere inside the limits the tools set (a dip from -75 to +75
// degrees, any heading, a field of 220 or 620 mG as the part reads it) with
// parts of typical noise,
// of a noisy but common kind, and as noisy as nine tenths of each
// calibration's limit, calibrated offline in the full flow (AGM). Each run is
//  - true: completed, every record within its flow's tolerance;
//  - a false accept: completed with a record past its tolerance;
//  - too noisy: failed naming the part's noise (the data cannot promise the
//    tolerance, or the part is past its limit);
//  - a false reject: failed for any other reason.
// Per cell (dip, field, noise) the counts are printed as a Markdown table,
// with the worst residual of the runs that completed as a share of its
// tolerance.
//
//   envelope [--seeds N] [--jobs J] [--keep yes]
//   (N runs per cell, default 15: 1,050 runs; J at a time; --keep yes keeps
//   the folders of the false accepts and rejects and names them)
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "Records.h"
#include "RunProcess.h"
#include "TruthMatrix.h"

namespace {

using truth::Errors;
using truth::number;

struct Noise {
    const char* name;
    double acc, gyro, mag;
};
// Typical parts; a noisy but common kind (a low-power magnetometer, a station
// that shakes a little); one sensor at nine tenths of its calibration's limit.
const Noise kNoises[] = {{"typical", 0.001, 0.05, 1.0},
                         {"noisy", 0.004, 0.3, 3.0},
                         {"accelerometer at 0.9 limit", 0.0135, 0.05, 1.0},
                         {"gyroscope at 0.9 limit", 0.001, 13.5, 1.0},
                         {"magnetometer at 0.9 limit", 0.001, 0.05, 13.5}};
const double kDips[] = {-75, -40, -15, 0, 15, 40, 75};
const double kFields[] = {220, 620};

struct Cell {
    double dip, field;
    const Noise* noise;
};

struct Tally {
    int runs = 0, right = 0, falseAccepts = 0, tooNoisy = 0, falseRejects = 0;
    double worstShare = 0;  // the largest residual over its tolerance, of the runs that completed
    std::string firstReject, firstAccept;
};

bool namesNoise(const std::string& out) {
    for (const char* reason : {"is too noisy for this calibration", "never read still", "white noise is too high",
                               "the field of mains wiring"})
        if (out.find(reason) != std::string::npos)
            return true;
    return false;
}

// The largest residual of the run's records over the flow's tolerance (the
// full flow: scale and axes 0.3 %, 1 %, shape 3 %; offsets 3 mg, 0.1 deg/s,
// 1 % of the field), and which record it was.
double worstShare(const std::string& xml, const Errors& acc, const Errors& gyro, const Errors& mag, double field,
                  std::string& which) {
    double worst = 0;
    auto note = [&](double share, const char* what) {
        if (share > worst) {
            worst = share;
            which = what;
        }
    };
    const records::Record a = records::recordOf(xml, 115, 0), g = records::recordOf(xml, 118),
                          m = records::recordOf(xml, 527);
    if (!a.found || !g.found || !m.found) {
        which = "a record missing";
        return 1e9;
    }
    note(records::largestDifference(a.correction, acc.correction()) / truth::kAccTolerance,
         "accelerometer scale and axes");
    note(records::largestDifference(g.correction, gyro.correction()) / truth::kGyroScaleTolerance,
         "gyroscope scale and axes");
    const records::M3 c = mag.correction();
    note(records::largestDifference(truth::shapeOf(m.correction, c), c) / truth::kMagShapeTolerance,
         "magnetometer shape");
    for (int i = 0; i < 3; ++i) {
        note(std::fabs(a.offset[i] / 1e6 - acc.offset[i]) / truth::kAccTolerance, "accelerometer offset");
        note(std::fabs(g.offset[i] / 1e5 - gyro.offset[i]) / truth::kGyroOffsetTolerance, "gyroscope offset");
        note(std::fabs(m.offset[i] / 1e3 - mag.offset[i]) / (truth::kMagCentreShare * field), "magnetometer centre");
    }
    return worst;
}

// Keep the folders of false accepts and rejects (--keep), to look into them.
bool keep = false;

void runOne(const Cell& cell, int seed, const std::string& root, Tally& tally, std::mutex& lock) {
    std::mt19937 rng(static_cast<unsigned>(seed) * 7919u + static_cast<unsigned>(cell.dip * 13 + cell.field));
    const Errors acc = truth::drawAccelerometer(rng, cell.noise->acc);
    const Errors gyro = truth::drawGyroscope(rng, cell.noise->gyro);
    const Errors mag = truth::drawMagnetometer(rng, cell.noise->mag);
    std::uniform_real_distribution<double> heading(0, 360);
    // The field as the part reads it is the cell's: the station's field
    // through the part's gain (the calibration keeps the gain, and judges
    // the field it reads against its limits).
    double gain = 0;
    for (double s : mag.scale)
        gain += 1 / s / 3;
    const double station = cell.field / gain;
    const std::string dir = root + "/run" + std::to_string(seed) + "_" + number(cell.dip) + "_" + number(cell.field) +
                            "_" + std::to_string(cell.noise - kNoises);
    std::vector<std::string> simulate = {DEVICESIM_BIN, "--out", dir + "/dump", "--flow", "full", "--sensors", "A,G,M",
                                         "--seed", std::to_string(seed), "--dip", number(cell.dip), "--field",
                                         number(station), "--heading", number(heading(rng))};
    for (const auto& sensor : {std::make_pair("acc", acc), std::make_pair("gyro", gyro), std::make_pair("mag", mag)}) {
        const std::string s = sensor.first;
        const Errors& e = sensor.second;
        const std::vector<std::string> errors = truth::simulatorErrors(s, e);
        simulate.insert(simulate.end(), errors.begin(), errors.end());
        simulate.insert(simulate.end(), {"--" + s + "-noise", number(e.noise)});
    }
    ProcessResult r = runProcess(simulate);
    if (r.exitStatus != 0) {
        std::fprintf(stderr, "devicesim failed: %s\n", r.err.c_str());
        std::exit(1);
    }
    ProcessOptions options;
    options.workDir = dir;
    r = runProcess({SENSORTRIM_BIN, "-CalibrateOffline", "AGM", "-UseRawData", "dump", "-ExportAllFiles", "out"},
                   options);
    std::lock_guard<std::mutex> guard(lock);
    ++tally.runs;
    bool wrong = false;
    if (r.exitStatus == 0) {
        std::string which;
        const double share = worstShare(readFile(dir + "/out/resultCalibration.xml"), acc, gyro, mag, station, which);
        tally.worstShare = std::max(tally.worstShare, share);
        if (share > 1) {
            ++tally.falseAccepts;
            wrong = true;
            if (tally.firstAccept.empty())
                tally.firstAccept = "seed " + std::to_string(seed) + ": " + which + " " + number(share) + " x tolerance";
        } else {
            ++tally.right;
        }
    } else if (namesNoise(r.out)) {
        ++tally.tooNoisy;
    } else {
        ++tally.falseRejects;
        wrong = true;
        if (tally.firstReject.empty()) {
            const size_t at = r.out.find("Error:\n");
            tally.firstReject = "seed " + std::to_string(seed) + ": " +
                                (at == std::string::npos ? r.out.substr(0, 160) : r.out.substr(at + 7, 160));
            std::replace(tally.firstReject.begin(), tally.firstReject.end(), '\n', ' ');
            std::replace(tally.firstReject.begin(), tally.firstReject.end(), '|', '/');
        }
    }
    if (keep && wrong)
        std::fprintf(stderr, "kept %s\n", dir.c_str());
    else
        std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    int seeds = 15, jobs = static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--seeds")
            seeds = std::atoi(argv[i + 1]);
        else if (arg == "--jobs")
            jobs = std::max(1, std::atoi(argv[i + 1]));
        else if (arg == "--keep")
            keep = std::string(argv[i + 1]) == "yes";
    }
    const std::string root = makeTempDir();
    std::vector<Cell> cells;
    for (const Noise& noise : kNoises)
        for (double field : kFields)
            for (double dip : kDips)
                cells.push_back({dip, field, &noise});
    std::vector<Tally> tallies(cells.size());
    std::vector<std::pair<size_t, int>> work;
    for (size_t c = 0; c < cells.size(); ++c)
        for (int seed = 1; seed <= seeds; ++seed)
            work.emplace_back(c, seed);
    std::mutex lock;
    size_t next = 0;
    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; ++j)
        workers.emplace_back([&] {
            while (true) {
                size_t k;
                {
                    std::lock_guard<std::mutex> guard(lock);
                    if (next >= work.size())
                        return;
                    k = next++;
                }
                runOne(cells[work[k].first], work[k].second, root, tallies[work[k].first], lock);
            }
        });
    for (std::thread& w : workers)
        w.join();
    if (!keep)
        std::system(("rm -rf '" + root + "'").c_str());

    std::printf("| noise | field (mG) | dip (degrees) | calibrations | true | false accepts | too noisy (named) | "
                "false rejects | worst record / tolerance | first false reject or accept |\n"
                "|---|---|---|---|---|---|---|---|---|---|\n");
    Tally all;
    for (size_t c = 0; c < cells.size(); ++c) {
        const Tally& t = tallies[c];
        std::printf("| %s | %g | %g | %d | %d | %d | %d | %d | %.2f | %s |\n", cells[c].noise->name, cells[c].field,
                    cells[c].dip, t.runs, t.right, t.falseAccepts, t.tooNoisy, t.falseRejects, t.worstShare,
                    (t.firstReject.empty() ? t.firstAccept : t.firstReject).c_str());
        all.runs += t.runs;
        all.right += t.right;
        all.falseAccepts += t.falseAccepts;
        all.tooNoisy += t.tooNoisy;
        all.falseRejects += t.falseRejects;
        all.worstShare = std::max(all.worstShare, t.worstShare);
    }
    std::printf("| all | | | %d | %d | %d | %d | %d | %.2f | |\n", all.runs, all.right, all.falseAccepts, all.tooNoisy,
                all.falseRejects, all.worstShare);
    return all.falseAccepts + all.falseRejects > 0 ? 1 : 0;
}
