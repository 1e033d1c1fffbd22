// The magnetometer's calibration: hard and soft iron from an ellipsoid fitted
// to the whole recording, the axes from the three full turns, the field during
// the turns, and what the noise of the recording allows the records.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Exceptions.h"
#include "Magnetometer.h"
#include "Statistics.h"

namespace {

const double kPi = 3.14159265358979323846;

}  // namespace

void Magnetometer::calibrate() {
    setLimits();
    initStaticStates();
    const CalibrationFlowType flow = flowType();
    if (flow == FLOW_MINIMAL) {
        // The face-up calibration finds the offset that makes the position read
        // what it should; for the field nothing says what that is (the face-up
        // expectation is zero, and the offset would take the field itself).
        fail("Flow", "One position cannot calibrate the magnetometer: calibrate it in the full flow.\n");
        throw CalibrationException("Calibration failed for sensor " + getName() + ". Reason: " + failureReason);
    }
    if (flow != FLOW_FULL)
        return;
    FindSegmentation();
    // Past its noise limit the part fails for that, not for what its noise
    // makes of the field during the turns.
    const bool tooNoisy = whiteNoise.getAbsMaxValue() > whiteNoiseLimit;
    try {
        const EllipsoidFit fit = solve();
        // The same calibration from recordings that differ from this one only
        // by noise like its own: how far its records may be off, and what the
        // noise alone makes of the field's figures during the turns.
        FieldFigures null;
        weighPrecision(fit, null);
        if (!tooNoisy)
            checkFieldDuringTurns(fit, null);
    } catch (const MathException&) {
        throw CalibrationException("Failed to calc magnetometer values, check your magnetic environment");
    }
    checkSuccess(staticMeans);
    convertToFWForamt();
}

EllipsoidFit Magnetometer::solve() {
    // The fit gets the means of short runs of samples, not single ones:
    // noise, mains ripple and a coarse resolution bend a least-squares
    // quadric through single samples by more than the calibration may be
    // off, while a tenth of a second of samples near each other averages
    // them out.
    // The recording up to the end of the last step: what a live run
    // records after it depends on the moment.
    const std::vector<SensorData> samples = blockMeans(stretch(0, findIndex().back()));
    if (samples.empty())
        throw MathException("The buffer is empty");
    const EllipsoidFit fit(samples);
    findRotation(fit);
    // A degenerate recording (samples in a plane, or too few) fits into
    // numbers that are no calibration.
    if (!S.isFinite() || !Matrix(o).isFinite())
        throw MathException("the fit is degenerate");
    endCalibration(false);
    // The records as a fit: what they make of a sample.
    EllipsoidFit records = fit;
    records.transform = S * A;
    records.center = o;
    return records;
}

void Magnetometer::findRotation(const EllipsoidFit& fit) {
    const std::vector<size_t> index = findIndex();
    if (index.size() < 11)
        throw CalibrationException(name + " Calibration Error: Failed splitting data to segments");
    // The three full turns, each cut short at its end as the boundaries say.
    const size_t turns[3][3] = {{index[1], index[2], 1}, {index[5], index[6], 5}, {index[9], index[10], 9}};
    Vector axes[3];
    double along[3] = {0, 0, 0};
    turnStretches.clear();
    for (int t = 0; t < 3; ++t) {
        const size_t from = turns[t][0];
        const size_t to = std::min(turns[t][1] > turns[t][2] ? turns[t][1] - turns[t][2] : 0, bufferedData.size());
        turnStretches.emplace_back(from, std::max(from, to));
        const std::vector<SensorData> samples = from < to ? stretch(from, to) : std::vector<SensorData>();
        axes[t] = findMisalignment(samples, fit, &along[t]);
    }
    // Away from the magnetic equator the field's vertical part tells which
    // way is up, whichever way the device was turned: it points down in the
    // northern magnetic hemisphere and up in the southern one, the same in
    // every turn. A turn whose part lies the other way from the two others'
    // went round the other way; its axis is the other way round. Near the
    // equator the part is too small to tell, and the way each turn went (as
    // the operator is told: counterclockwise) stands.
    int down = 0, up = 0;
    for (double share : along) {
        down += share < -kLeastVerticalShare ? 1 : 0;
        up += share > kLeastVerticalShare ? 1 : 0;
    }
    double side = 0;
    if (down + up == 3) {
        side = down > up ? -1.0 : 1.0;
        for (int t = 0; t < 3; ++t)
            if (along[t] * side < 0) {
                axes[t] = axes[t] * -1.0;
                along[t] = -along[t];
            }
    }
    Matrix misalignment(3, 3);
    for (int t = 0; t < 3; ++t)
        misalignment.setRow(axes[t], 2 - t);
    S = misalignment * fit.transform;
    o = fit.center;
    // From there, the records that make every sample most likely.
    refine();

    std::vector<Vector> corrected;
    double magnitude = 0;
    for (int i = 0; i < 4; ++i) {
        corrected.push_back(S * (staticMeans.getRow(i) - o));
        magnitude += corrected.back().norm() / 4;
    }
    double best = findBestAngle(50, magnitude, corrected, -kPi / 2, kPi / 2);
    best = findBestAngle(100, magnitude, corrected, best - kPi / 50, best + kPi / 50);
    // The dip's sign as the turns tell it; the search over the holds, which
    // may take a mirror image for the field, gives its size.
    if (side != 0 && (side < 0) != (best > 0))
        best = -best;
    SetExpectation(best, magnitude);
}

double Magnetometer::findBestAngle(int steps, double magnitude, const std::vector<Vector>& vectors, double low,
                                   double high) {
    int bestK = 0;
    double smallest = 0;
    for (int k = 0; k < steps; ++k) {
        SetExpectation(low + (high - low) * k / steps, magnitude);
        const Matrix rotation = findPartialRotation(vectors);
        const double error = findPartialRotationError(vectors, rotation);
        if (k == 0 || error < smallest) {
            smallest = error;
            bestK = k;
        }
    }
    return low + (high - low) * bestK / steps;
}

double Magnetometer::findPartialRotationError(const std::vector<Vector>& vectors, const Matrix& rotation) {
    double sum = 0;
    for (size_t i = 0; i < vectors.size(); ++i)
        sum += (rotation * vectors[i]).vectorAngle(expectedResults.getRow(static_cast<int>(i)));
    return vectors.empty() ? 0.0 : sum / static_cast<double>(vectors.size());
}

void Magnetometer::SetExpectation(double dip, double magnitude) {
    sinDip = std::sin(dip);
    cosDip = std::cos(dip);
    expectedResults = Matrix(4, 3, {0, cosDip, -sinDip, 0, -sinDip, -cosDip, -sinDip, 0, -cosDip, 0, sinDip, -cosDip}) *
                      magnitude;
}

namespace {

// The unit vector that a symmetric 3x3 matrix with a single smallest
// eigenvalue maps onto the least: of the rows of (m - lambda I), two span the
// plane it is normal to, and their cross product is the vector.
Vector leastEigenvector(const Matrix& m) {
    // The smallest eigenvalue by the trigonometric solution, its cosine held
    // to [-1, 1]: a circle's two equal eigenvalues put it just outside.
    const double q = (m[0][0] + m[1][1] + m[2][2]) / 3;
    const double off = m[0][1] * m[0][1] + m[0][2] * m[0][2] + m[1][2] * m[1][2];
    const double p2 = (m[0][0] - q) * (m[0][0] - q) + (m[1][1] - q) * (m[1][1] - q) + (m[2][2] - q) * (m[2][2] - q) +
                      2 * off;
    const double p = std::sqrt(p2 / 6);
    double lambda = q;
    if (p > 0) {
        Matrix b = m;
        for (int i = 0; i < 3; ++i)
            b[i][i] -= q;
        const double r = std::max(-1.0, std::min(1.0, (b / p).determinant3x3() / 2));
        lambda = q + 2 * p * std::cos(std::acos(r) / 3 + 2 * kPi / 3);
    }
    Matrix b = m;
    for (int i = 0; i < 3; ++i)
        b[i][i] -= lambda;
    Vector best;
    double largest = 0;
    for (int i = 0; i < 3; ++i) {
        const Vector c = b.getRow(i).vector3CrossProduct(b.getRow((i + 1) % 3));
        if (c.norm() > largest) {
            largest = c.norm();
            best = c;
        }
    }
    if (!(largest > 0) || !std::isfinite(largest))
        throw MathException("the samples do not span a plane");
    return best / largest;
}

}  // namespace

Vector Magnetometer::findMisalignment(const std::vector<SensorData>& samples, const EllipsoidFit& fit, double* along) {
    // Through the fit the field has one strength; turned about an axis it
    // keeps its part along the axis while its part across draws a circle: the
    // calibrated samples lie in a plane normal to the axis, at whatever
    // distance from the centre the dip gives (none on the magnetic equator).
    std::vector<Vector> u;
    u.reserve(samples.size());
    Vector mean(3);
    double strength = 0;
    for (const SensorData& s : samples) {
        if (s.values.size() < 3)
            continue;
        u.push_back(fit.calibrate(Vector(s.values)));
        mean += u.back();
        strength += u.back().norm();
    }
    if (u.size() < 3)
        throw MathException("too few samples in a turn");
    mean = mean / static_cast<double>(u.size());
    strength /= static_cast<double>(u.size());
    Matrix scatter(3, 3);
    for (const Vector& v : u) {
        const Vector d = v - mean;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                scatter[i][j] += d[i] * d[j];
    }
    Vector n = leastEigenvector(scatter);
    // The device turned counterclockwise about the axis (right-handed, the
    // axis pointing up): seen from the device the field turns the other way.
    double sweep = 0;
    for (size_t k = 1; k < u.size(); ++k)
        sweep += (u[k - 1] - mean).vector3CrossProduct(u[k] - mean).innerProduct(n);
    if (sweep > 0)
        n = n * -1.0;
    if (along)
        *along = strength > 0 ? mean.innerProduct(n) / strength : 0.0;
    return n;
}

double Magnetometer::turnSeconds() const {
    double seconds = 0;
    int turns = 0;
    for (const auto& turn : turnStretches)
        if (turn.second > turn.first && turn.second <= bufferedData.size()) {
            seconds += (bufferedData[turn.second - 1].timestamp - bufferedData[turn.first].timestamp) / 1000;
            ++turns;
        }
    return turns > 0 ? seconds / turns : 0.0;
}

Magnetometer::FieldFigures Magnetometer::fieldFigures(const EllipsoidFit& fit) {
    // Through the fit the field is as strong in every direction: while the
    // device turns it keeps the strength it has in the holds. A magnet or
    // steel moved near the station changes it, and bends the fit the
    // calibration rests on.
    FieldFigures figures;
    for (int i = 0; i < staticMeans.getRows(); ++i)
        figures.field += fit.calibrate(staticMeans.getRow(i)).norm() / staticMeans.getRows();
    if (!(figures.field > 0))
        return figures;
    // The largest change of the strength over a tenth of a second, and over
    // kSmoothingMs (where what is left is how well the records fit the
    // samples), from the strength in the holds.
    for (size_t t = 0; t < turnStretches.size(); ++t) {
        std::vector<std::pair<double, double>> strengths;  // time, calibrated strength
        for (size_t i = turnStretches[t].first; i < turnStretches[t].second && i < bufferedData.size(); ++i)
            if (bufferedData[i].values.size() == 3)
                strengths.emplace_back(bufferedData[i].timestamp, fit.calibrate(Vector(bufferedData[i].values)).norm());
        for (double strength : smoothed(strengths, kBlockMs)) {
            const double change = std::fabs(strength - figures.field) / figures.field;
            if (change > figures.change) {
                figures.change = change;
                figures.changeTurn = static_cast<int>(t);
            }
        }
        for (double strength : smoothed(strengths, kSmoothingMs)) {
            const double stray = std::fabs(strength - figures.field) / figures.field;
            if (stray > figures.stray) {
                figures.stray = stray;
                figures.strayTurn = static_cast<int>(t);
            }
        }
    }
    return figures;
}

void Magnetometer::checkFieldDuringTurns(const EllipsoidFit& fit, const FieldFigures& null) {
    const FieldFigures f = fieldFigures(fit);
    // A field too weak or too strong to calibrate by is the success check's to name.
    if (!(f.field >= minFieldStrength && f.field <= maxFieldStrength))
        return;
    addToLog(f.stray * 100, "FieldStrengthDeviation",
             "The largest deviation of the calibrated field strength, over 0.4 s, from its strength in the holds "
             "while the device turned, in percent");
    addToLog(f.change * 100, "FieldChangeDuringTurns",
             "The largest change of the calibrated field strength, over 0.1 s, while the device turned, in percent");
    // Each limit, or what the part's own noise makes of the figure where
    // that is more.
    const double changeLimit = std::max(kFieldChangeLimit, null.change);
    const double strayLimit = std::max(kFieldFitLimit, null.stray);
    addToLog(changeLimit * 100, "FieldChangeLimit",
             "The largest change the field may show, the part's noise allowed for, in percent");
    addToLog(strayLimit * 100, "FieldStrengthDeviationLimit",
             "The largest deviation the calibrated strength may show over 0.4 s, the part's noise allowed for, in "
             "percent");
    if (f.change > changeLimit) {
        char percent[32];
        std::snprintf(percent, sizeof percent, "%.1f", f.change * 100);
        fail("FieldDuringTurn", std::string("The field changed by ") + percent + " % while the device turned in step " +
                                    std::to_string(2 * f.changeTurn + 2) +
                                    ": keep magnets and steel away from the station.\n");
    } else if (f.stray > strayLimit) {
        char percent[32], limit[32];
        std::snprintf(percent, sizeof percent, "%.1f", f.stray * 100);
        std::snprintf(limit, sizeof limit, "%.1f", strayLimit * 100);
        fail("FieldStrength", std::string("The records do not fit the samples: the calibrated field strength strays ") +
                                  percent + " % from its strength in the holds while the device turned in step " +
                                  std::to_string(2 * f.strayTurn + 2) + " (at most " + limit +
                                  " %). The field at the station is noisy or unsteady (mains wiring or a "
                                  "power supply near, steel moving) or the sensor too noisy: calibrate away from them.\n");
    }
}

std::vector<SensorData> Magnetometer::blockMeans(const std::vector<SensorData>& buffer) {
    std::vector<SensorData> blocks;
    // How far the samples lie from their middle: the field's radius, roughly.
    Vector middle(3);
    size_t count = 0;
    for (const SensorData& s : buffer)
        if (s.values.size() >= 3) {
            middle += Vector(std::vector<double>{s.values[0], s.values[1], s.values[2]});
            ++count;
        }
    if (count == 0)
        return blocks;
    middle = middle / static_cast<double>(count);
    double radius = 0;
    for (const SensorData& s : buffer)
        if (s.values.size() >= 3)
            radius += (Vector(std::vector<double>{s.values[0], s.values[1], s.values[2]}) - middle).norm();
    radius /= static_cast<double>(count);
    // A run ends after kBlockMs, or where the field has moved a tenth of its
    // radius (a fast turn), so the mean stays on the field's sphere.
    const double reach = kBlockReach * radius;
    // Where the field is, told by the mean of a few samples about each: a
    // run cut where one noisy sample strays would keep the samples near
    // its first one and carry that one's noise into its mean, more of it
    // the noisier the part.
    std::vector<size_t> valid;
    for (size_t i = 0; i < buffer.size(); ++i)
        if (buffer[i].values.size() >= 3)
            valid.push_back(i);
    std::vector<Vector> where(buffer.size());
    for (size_t v = 0; v < valid.size(); ++v) {
        const size_t from = v >= kTrackHalf ? v - kTrackHalf : 0, to = std::min(valid.size(), v + kTrackHalf + 1);
        Vector sum(3);
        for (size_t u = from; u < to; ++u)
            sum += buffer[valid[u]].values;
        where[valid[v]] = sum / static_cast<double>(to - from);
    }
    for (size_t i = 0; i < buffer.size();) {
        if (buffer[i].values.size() < 3) {
            ++i;
            continue;
        }
        const SensorData& first = buffer[i];
        double sum[3] = {0, 0, 0};
        size_t n = 0, j = i;
        for (; j < buffer.size(); ++j) {
            const SensorData& s = buffer[j];
            if (s.values.size() < 3)
                continue;
            if (j > i && (s.timestamp >= first.timestamp + kBlockMs || (where[j] - where[i]).norm() > reach))
                break;
            for (int k = 0; k < 3; ++k)
                sum[k] += s.values[static_cast<size_t>(k)];
            ++n;
        }
        blocks.emplace_back(first.timestamp, SampleValues{sum[0] / n, sum[1] / n, sum[2] / n});
        i = j;
    }
    return blocks;
}

std::vector<double> Magnetometer::smoothed(const std::vector<std::pair<double, double>>& strengths, double windowMs) {
    std::vector<double> means;
    means.reserve(strengths.size());
    size_t from = 0, to = 0;
    double sum = 0;
    for (size_t i = 0; i < strengths.size(); ++i) {
        // The samples within half the window of sample i.
        while (to < strengths.size() && strengths[to].first <= strengths[i].first + windowMs / 2)
            sum += strengths[to++].second;
        while (from < to && strengths[from].first < strengths[i].first - windowMs / 2)
            sum -= strengths[from++].second;
        if (to > from)
            means.push_back(sum / static_cast<double>(to - from));
    }
    return means;
}
