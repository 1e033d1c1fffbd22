// What the data allows: how well the samples a calibration came from
// determine its records, from the noise of its holds and turns and the number
// of samples in each, and that against what the flow promises.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "InertialSensor.h"

namespace {

// How many times a calibration solves again to see its own spread: enough for
// the spread to within about a tenth.
const int kDraws = 64;

// The chance that an element as far off as its sigma says strays past the
// tolerance.
double strayChance(double tolerance, double sigma) {
    return sigma > 0 ? std::erfc(tolerance / (sigma * std::sqrt(2.0))) : 0.0;
}

// The correction's elements that scale an axis (not those that mix two):
// they carry the part's scale allowance.
bool scalesAnAxis(double element) {
    return std::fabs(element) > 0.5;
}

double cubeRoot(double v) {
    return v < 0 ? -std::cbrt(-v) : std::cbrt(v);
}

}  // namespace

std::string InertialSensor::inOperatorUnit(double value) const {
    char text[64];
    if (name.compare(0, 13, "Accelerometer") == 0)
        std::snprintf(text, sizeof text, "%.1f mg", value * 1000);
    else if (name == "Gyroscope")
        std::snprintf(text, sizeof text, "%.2f degrees per second", value);
    else
        std::snprintf(text, sizeof text, "%.1f mG", value);
    return text;
}

Matrix InertialSensor::drawnMeans(const Matrix& means, std::mt19937& rng) const {
    std::normal_distribution<double> unit(0.0, 1.0);
    Matrix drawn = means;
    for (int i = 0; i < means.getRows() && i < holdErrors.getRows(); ++i)
        for (int k = 0; k < 3; ++k)
            drawn[i][k] += holdErrors[i][k] * unit(rng);
    return drawn;
}

InertialSensor::Precision InertialSensor::spreadOf(
    int draws, const std::function<std::pair<Matrix, Vector>(std::mt19937&)>& draw, const Matrix& correction,
    const Vector& offset, bool shapeOnly) {
    // The same draws on every run of the same samples.
    std::mt19937 rng(20261209u);
    const double size = shapeOnly ? cubeRoot(correction.determinant3x3()) : 1.0;
    Matrix squares(3, 3);
    Vector offsetSquares(3);
    int used = 0, failed = 0;
    const int total = draws > 0 ? draws : kDraws;
    for (int k = 0; k < total; ++k) {
        std::pair<Matrix, Vector> solved;
        try {
            solved = draw(rng);
        } catch (const std::exception&) {
            // Inputs this far off do not solve: records from such samples
            // would be as far off as records can be.
            ++failed;
            continue;
        }
        const double drawnSize = shapeOnly ? cubeRoot(solved.first.determinant3x3()) : 1.0;
        if (!(std::fabs(drawnSize) > 0) || !solved.first.isFinite() || solved.second.size() != 3 ||
            !Matrix(solved.second).isFinite()) {
            ++failed;
            continue;
        }
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                const double d = solved.first[i][j] / drawnSize - correction[i][j] / size;
                squares[i][j] += d * d;
            }
            const double d = solved.second[i] - offset[i];
            offsetSquares[i] += d * d;
        }
        ++used;
    }
    Precision p;
    p.failedShare = static_cast<double>(failed) / total;
    if (used == 0) {
        // Nothing solved: nothing can be promised.
        p.scale = p.offset = std::numeric_limits<double>::infinity();
        return p;
    }
    p.scale = 0;
    p.offset = 0;
    p.scaleElements = Matrix(3, 3);
    p.offsetElements = Vector(3);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            p.scaleElements[i][j] = std::sqrt(squares[i][j] / used);
            p.scale = std::max(p.scale, p.scaleElements[i][j]);
        }
        p.offsetElements[i] = std::sqrt(offsetSquares[i] / used);
        p.offset = std::max(p.offset, p.offsetElements[i]);
    }
    return p;
}

void InertialSensor::withAllowance() {
    // What a real part does besides its white noise, and no recording of
    // the flow shows, is as far off as the part's allowance says: on the
    // scale of each axis (the correction's large elements) and on the offset.
    const Tolerance a = allowance();
    if (a.scale > 0 && precision.scaleElements.getRows() == 3) {
        const Matrix correction = S * A;
        precision.scale = 0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                double& e = precision.scaleElements[i][j];
                if (scalesAnAxis(correction[i][j]))
                    e = std::sqrt(e * e + a.scale * a.scale);
                precision.scale = std::max(precision.scale, e);
            }
    }
    if (a.offset > 0 && precision.offsetElements.size() == 3) {
        precision.offset = 0;
        for (int i = 0; i < 3; ++i) {
            double& e = precision.offsetElements[i];
            e = std::sqrt(e * e + a.offset * a.offset);
            precision.offset = std::max(precision.offset, e);
        }
    }
}

double InertialSensor::samplesLongerBy() const {
    const Tolerance t = tolerance(), a = allowance();
    const Matrix correction = S * A;
    // The chance that an element strays past its tolerance, the noise's
    // share of its sigma shrunk by sqrt(longer).
    auto risk = [](double tolerance, double sigma, double allowed, double longer) {
        const double noise = std::max(0.0, sigma * sigma - allowed * allowed);
        return strayChance(tolerance, std::sqrt(noise / longer + allowed * allowed));
    };
    auto risks = [&](double longer) {
        double scale = 0, offset = 0;
        if (t.scale > 0 && precision.scaleElements.getRows() == 3 && correction.getRows() == 3)
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    scale += risk(t.scale, precision.scaleElements[i][j],
                                  scalesAnAxis(correction[i][j]) ? a.scale : 0.0, longer);
        if (t.offset > 0 && precision.offsetElements.size() == 3)
            for (int i = 0; i < 3; ++i)
                offset += risk(t.offset, precision.offsetElements[i], a.offset, longer);
        return std::max(scale, offset);
    };
    const double enough = kRiskShare / 10, most = 100.0;
    if (!(risks(most) <= enough))
        return 0.0;
    if (risks(1.0) <= enough)
        return 1.0;
    double low = 1.0, high = most;
    while (high - low > 0.01) {
        const double middle = (low + high) / 2;
        (risks(middle) > enough ? low : high) = middle;
    }
    return high;
}

void InertialSensor::judgePrecision(double noise, double limit) {
    withAllowance();
    const Tolerance t = tolerance();
    // The chance that an element strays past the tolerance, summed over the
    // elements (each as far off as its own spread says); the figure that
    // risks most names the failure.
    const auto risk = strayChance;
    double scaleRisk = 0, offsetRisk = 0;
    if (t.scale > 0 && precision.scale >= 0) {
        if (precision.scaleElements.getRows() == 3)
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    scaleRisk += risk(t.scale, precision.scaleElements[i][j]);
        else
            scaleRisk = risk(t.scale, precision.scale);
    }
    if (t.offset > 0 && precision.offset >= 0) {
        if (precision.offsetElements.size() == 3)
            for (int i = 0; i < 3; ++i)
                offsetRisk += risk(t.offset, precision.offsetElements[i]);
        else
            offsetRisk = 3 * risk(t.offset, precision.offset);
    }
    // A solution that failed from inputs moved by the noise alone is one
    // whose records are past any tolerance.
    if (t.scale > 0 && precision.scale >= 0)
        scaleRisk = std::min(1.0, scaleRisk + precision.failedShare);
    if (t.offset > 0 && precision.offset >= 0)
        offsetRisk = std::min(1.0, offsetRisk + precision.failedShare);
    const double scaleShare = scaleRisk / kRiskShare, offsetShare = offsetRisk / kRiskShare;
    if (precision.scale >= 0) {
        addToLog(precision.scale * 100, "ExpectedScaleError",
                 "How far the scale and axes may be off for the noise and the samples they came from, one sigma, "
                 "in percent");
        addToLog(t.scale * 100, "ScaleTolerance", "What the flow promises for the scale and axes, in percent");
        addToLog(scaleRisk, "ScaleRisk", "The chance that the scale and axes stray past what the flow promises");
        if (precision.scaleElements.getRows() == 3)
            addToLog(precision.scaleElements * 100, "ExpectedScaleErrors",
                     "How far each element of the correction (scale matrix times axis mapping) may be off, one "
                     "sigma, in percent");
    }
    if (precision.offset >= 0) {
        addToLog(precision.offset, "ExpectedOffsetError",
                 "How far the offset may be off for the noise and the samples it came from, one sigma");
        addToLog(t.offset, "OffsetTolerance", "What the flow promises for the offset");
        addToLog(offsetRisk, "OffsetRisk", "The chance that the offset strays past what the flow promises");
        if (precision.offsetElements.size() == 3)
            addToLog(precision.offsetElements, "ExpectedOffsetErrors",
                     "How far each axis of the offset may be off, one sigma");
    }

    // A calibration that failed for a cause has that cause to name: what
    // its data allows is only the last word.
    if ((scaleShare <= 1 && offsetShare <= 1) || noise > limit || failure)
        return;
    // What the operator can do about it; for the magnetometer, how long its
    // turns would have to last, where any length would do.
    std::string remedy;
    if (name == "Magnetometer") {
        remedy = "turn the device more slowly";
        const double seconds = turnSeconds(), longer = seconds > 0 ? samplesLongerBy() : 0.0;
        if (longer > 0) {
            char slowly[100];
            std::snprintf(slowly, sizeof slowly, " (each turn over %.0f s or more; this run's took %.0f s)",
                          std::ceil(seconds * longer), seconds);
            remedy += slowly;
        }
        remedy += ", away from mains wiring and power supplies, or calibrate with a quieter part";
    } else {
        remedy = name == "Gyroscope" ? "hold each position longer, or calibrate with a quieter part"
                                     : "calibrate on a steadier table and hold each position longer, or with a "
                                       "quieter part";
    }
    char text[700];
    if (scaleShare >= offsetShare)
        std::snprintf(text, sizeof text,
                      "The %s is too noisy for this calibration: its noise, %s, leaves its %s uncertain by %.2f %% "
                      "(one sigma), too much to promise %.1f %%: %s.\n",
                      name.c_str(), inOperatorUnit(noise).c_str(),
                      name == "Magnetometer" ? "shape" : "scale and axes", precision.scale * 100, t.scale * 100,
                      remedy.c_str());
    else
        std::snprintf(text, sizeof text,
                      "The %s is too noisy for this calibration: its noise, %s, leaves its %s uncertain by %s "
                      "(one sigma), too much to promise %s: %s.\n",
                      name.c_str(), inOperatorUnit(noise).c_str(), name == "Magnetometer" ? "centre" : "offset",
                      inOperatorUnit(precision.offset).c_str(), inOperatorUnit(t.offset).c_str(), remedy.c_str());
    fail("Precision", text);
}
