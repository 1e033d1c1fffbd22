// What a magnetometer's recording allows its records: the calibration solved
// again from the recording as its records say it was, with noise like the
// holds show, and what that noise alone makes of the field's figures.
#include <algorithm>
#include <cmath>

#include "Magnetometer.h"
#include "Statistics.h"

Vector Magnetometer::blockNoise(Vector& stepNoise) {
    // Over the holds, the spread of the means of a tenth of a second, as the
    // noise of single samples that would spread them so: white noise reads
    // as itself, mains ripple (which such a mean averages out) as less, a
    // field that wanders as more. And the noise from one sample to the next
    // (which a slow wander or a hold that still settles hardly shows).
    const std::vector<size_t> index = findIndex();
    const size_t k = index.size() == 14 ? 4 : 2;
    Vector squares(3), steps(3);
    double blocks = 0, samples = 0, pairs = 0;
    for (size_t first = 0; first + 1 < index.size(); first += k) {
        for (size_t h = first; h < first + k && h + 1 < index.size(); h += 2) {
            const std::vector<SensorData> hold = stretch(index[h], index[h + 1]);
            for (size_t i = 1; i < hold.size(); ++i)
                if (hold[i].values.size() >= 3 && hold[i - 1].values.size() >= 3) {
                    const Vector d = Vector(hold[i].values) - Vector(hold[i - 1].values);
                    steps += d * d;
                    ++pairs;
                }
            if (hold.size() < 2)
                continue;
            std::vector<Vector> means;
            Vector sum(3), all(3);
            size_t n = 0;
            double start = hold.front().timestamp;
            for (const SensorData& s : hold) {
                if (s.values.size() < 3)
                    continue;
                if (s.timestamp >= start + kBlockMs && n > 0) {
                    means.push_back(sum / static_cast<double>(n));
                    samples += static_cast<double>(n);
                    sum = Vector(3);
                    n = 0;
                    start = s.timestamp;
                }
                sum += s.values;
                ++n;
            }
            if (means.size() < 2)
                continue;
            for (const Vector& m : means)
                all += m;
            all = all / static_cast<double>(means.size());
            for (const Vector& m : means) {
                const Vector d = m - all;
                squares += d * d;
            }
            blocks += static_cast<double>(means.size() - 1);
        }
    }
    // A difference of two samples spreads by the root of two noises.
    stepNoise = pairs > 0 ? (steps / (2 * pairs)).Sqrt() : whiteNoise;
    if (blocks < 4)
        return whiteNoise;
    // Each block's mean spreads by the noise over the root of its samples.
    const double perBlock = samples / (blocks + 1e-300);
    return (squares / blocks).Sqrt() * std::sqrt(std::max(perBlock, 1.0));
}

void Magnetometer::weighPrecision(const EllipsoidFit& fit, FieldFigures& null) {
    // The recording as the records say it was, noise apart: each sample
    // where the model puts it, on its turn's circle or on the sphere (on the
    // fitted sphere where the records were not refined).
    const std::vector<SensorData> recorded = bufferedData;
    double radius = 0;
    size_t count = 0;
    for (const SensorData& s : recorded)
        if (s.values.size() >= 3) {
            radius += fit.calibrate(Vector(s.values)).norm();
            ++count;
        }
    if (count == 0)
        return;
    radius /= static_cast<double>(count);
    const Matrix inverse = fit.transform.invert3x3();
    std::vector<SensorData> clean = recorded;
    for (size_t i = 0; i < clean.size(); ++i) {
        SensorData& s = clean[i];
        if (s.values.size() < 3)
            continue;
        const Vector u = fit.calibrate(Vector(s.values));
        const double length = u.norm();
        if (circles.found)
            s.values = (fit.center + inverse * modelPoint(i, u)).elements();
        else if (length > 0)
            s.values = (fit.center + inverse * (u * (radius / length))).elements();
    }
    // The noise the fit sees: at most what changes from one sample to the
    // next, less where a tenth of a second averages it out (an alternating
    // field); a field that wanders slowly, or a hold that still settles,
    // moves the means more than white noise would, but as a slow offset,
    // not as noise on each run of samples.
    Vector noise;
    swingNoise = blockNoise(noise);
    for (int k = 0; k < 3 && k < swingNoise.size() && k < noise.size(); ++k)
        noise[k] = std::min(noise[k], swingNoise[k]);
    const Matrix savedS = S, savedA = A, savedMeans = staticMeans, savedErrors = holdErrors, savedExpected = expectedResults;
    const Vector savedO = o, savedNoise = whiteNoise;
    const double savedSin = sinDip, savedCos = cosDip;
    const auto savedTurns = turnStretches;
    const Circles savedCircles = circles;
    std::vector<FieldFigures> figures;
    std::normal_distribution<double> unit(0.0, 1.0);
    precision = spreadOf(
        kDraws,
        [&](std::mt19937& rng) {
            bufferedData = clean;
            for (SensorData& s : bufferedData)
                for (size_t axis = 0; axis < 3 && axis < s.values.size(); ++axis)
                    s.values[axis] += noise[static_cast<int>(axis)] * unit(rng);
            FindSegmentation();
            const EllipsoidFit drawn = solve();
            figures.push_back(fieldFigures(drawn));
            return std::make_pair(S * A, o);
        },
        savedS * savedA, savedO, true);
    bufferedData = recorded;
    S = savedS;
    A = savedA;
    o = savedO;
    staticMeans = savedMeans;
    holdErrors = savedErrors;
    expectedResults = savedExpected;
    whiteNoise = savedNoise;
    sinDip = savedSin;
    cosDip = savedCos;
    turnStretches = savedTurns;
    circles = savedCircles;
    // What the noise alone makes of each figure: its mean and six of its
    // deviations above (a largest value's tail is longer than a normal one's,
    // and a few dozen solutions tell its deviation to a sixth or so), so
    // that a steady field passes all but once in thousands.
    auto allowance = [&figures](double FieldFigures::*figure) {
        std::vector<double> values;
        for (const FieldFigures& f : figures)
            values.push_back(f.*figure);
        return values.empty() ? 0.0 : Statistics::mean(values) + (kRiskSigmas + 2) * Statistics::calcStd(values);
    };
    null.change = allowance(&FieldFigures::change);
    null.stray = allowance(&FieldFigures::stray);
    // How far the field's strength itself may be off.
    const double found = fieldFigures(fit).field;
    double squares = 0;
    for (const FieldFigures& f : figures)
        squares += (f.field - found) * (f.field - found);
    fieldError = figures.empty() ? 0.0 : std::sqrt(squares / static_cast<double>(figures.size()));
}

InertialSensor::Tolerance Magnetometer::tolerance() const {
    if (flowType() != FLOW_FULL)
        return {};
    // The shape, and the centre to a hundredth of the field.
    const double field = expectedResults.getRows() > 0 ? expectedResults.getRow(0).norm() : 0.0;
    return {0.03, 0.01 * field};
}
