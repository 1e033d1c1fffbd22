// The magnetometer's records as close to the truth as its samples allow: from
// the ellipsoid fit and the turns' planes as the start, the correction, the
// centre and the field's part along each turn's axis that make every sample of
// the turns and holds most likely, by Gauss-Newton steps (damped where a step
// would not lower the sum).
//
// The model: through the correction C and the centre c a sample x reads the
// field u = C (x - c). During the turn about a device axis, and in the holds
// before and after it, the device's axis points up: u keeps its part along
// that axis (h, the same for the whole turn) and its strength (F), so u lies
// on a circle; in the last position's hold it lies on the sphere. Each
// sample's distance from its circle (along the axis and across it) or from
// the sphere, in the deviations its noise gives it there, is its residual.
// A hold's samples all read the same field: their mean stands for them, with
// their number as its weight.
#include <algorithm>
#include <array>
#include <cmath>

#include "Exceptions.h"
#include "Magnetometer.h"

namespace {

constexpr int kParameters = 16;  // C (9, by rows), c (3), h (3), F
using Row = std::array<double, kParameters>;
using Normal = std::array<Row, kParameters>;

struct Point {
    double x[3];
    double weight;  // the samples it stands for
    int set;        // the turn (0 to 2) whose circle it lies on; 3: the sphere
};

struct Model {
    double C[3][3];
    double c[3];
    double h[3];
    double F;
};

double determinant(const double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// How firmly the correction keeps its size (its determinant), in deviations
// per share: the size and the field's strength scale together, and the
// samples do not tell one from the other.
constexpr double kSizeWeight = 1e4;

// The device axis that points up in each turn: the first turns about Z, the
// second about Y, the third about X.
int axisOf(int turn) {
    return 2 - turn;
}

// The noise of a residual along the direction e of the calibrated field: the
// raw noise (per axis) carried through C.
double noiseAlong(const Model& m, const double e[3], const double noise[3]) {
    double sum = 0;
    for (int j = 0; j < 3; ++j) {
        const double g = m.C[0][j] * e[0] + m.C[1][j] * e[1] + m.C[2][j] * e[2];
        sum += g * g * noise[j] * noise[j];
    }
    return std::sqrt(sum);
}

// Adds one residual r with gradient g (in the model's parameters), both
// already in deviations, weighted.
void accumulate(Normal& normal, Row& rhs, double& cost, const Row& g, double r, double weight) {
    cost += weight * r * r;
    for (int i = 0; i < kParameters; ++i) {
        if (g[static_cast<size_t>(i)] == 0)
            continue;
        const double wg = weight * g[static_cast<size_t>(i)];
        rhs[static_cast<size_t>(i)] -= wg * r;
        for (int j = i; j < kParameters; ++j)
            normal[static_cast<size_t>(i)][static_cast<size_t>(j)] += wg * g[static_cast<size_t>(j)];
    }
}

// The sum of the squared residuals, and the normal equations of a step.
double linearise(const Model& m, double size, const std::vector<Point>& points, const double noise[3], Normal& normal,
                 Row& rhs) {
    const double F = m.F;
    for (Row& row : normal)
        row.fill(0);
    rhs.fill(0);
    double cost = 0;
    for (const Point& p : points) {
        double d[3], u[3];
        for (int i = 0; i < 3; ++i)
            d[i] = p.x[i] - m.c[i];
        for (int i = 0; i < 3; ++i)
            u[i] = m.C[i][0] * d[0] + m.C[i][1] * d[1] + m.C[i][2] * d[2];
        // The gradient of the calibrated field's part along e: e_i d_j for
        // C_ij, -(C^T e)_k for c_k.
        auto along = [&](const double e[3], Row& g) {
            g.fill(0);
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    g[static_cast<size_t>(3 * i + j)] = e[i] * d[j];
            for (int k = 0; k < 3; ++k)
                g[static_cast<size_t>(9 + k)] = -(m.C[0][k] * e[0] + m.C[1][k] * e[1] + m.C[2][k] * e[2]);
        };
        Row g;
        if (p.set == 3) {
            const double length = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
            if (!(length > 0))
                continue;
            const double e[3] = {u[0] / length, u[1] / length, u[2] / length};
            const double s = noiseAlong(m, e, noise);
            along(e, g);
            for (double& v : g)
                v /= s;
            g[15] = -1 / s;
            accumulate(normal, rhs, cost, g, (length - F) / s, p.weight);
            continue;
        }
        const int a = axisOf(p.set);
        const int t = p.set;
        // Along the axis: the part the turn keeps.
        double e[3] = {0, 0, 0};
        e[a] = 1;
        double s = noiseAlong(m, e, noise);
        along(e, g);
        g[static_cast<size_t>(12 + t)] = -1;
        for (double& v : g)
            v /= s;
        accumulate(normal, rhs, cost, g, (u[a] - m.h[t]) / s, p.weight);
        // Across it: the circle's radius.
        double w[3] = {u[0], u[1], u[2]};
        w[a] = 0;
        const double across = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
        const double radius2 = F * F - m.h[t] * m.h[t];
        if (!(across > 0) || !(radius2 > 0))
            continue;
        const double radius = std::sqrt(radius2);
        for (double& v : w)
            v /= across;
        s = noiseAlong(m, w, noise);
        along(w, g);
        g[static_cast<size_t>(12 + t)] = m.h[t] / radius;
        g[15] = -F / radius;
        for (double& v : g)
            v /= s;
        accumulate(normal, rhs, cost, g, (across - radius) / s, p.weight);
    }
    // The correction's size stays the start's: its determinant's gradient
    // is its cofactor matrix.
    Row g;
    g.fill(0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            g[static_cast<size_t>(3 * i + j)] = kSizeWeight * (m.C[i1][j1] * m.C[i2][j2] - m.C[i1][j2] * m.C[i2][j1]) / size;
        }
    accumulate(normal, rhs, cost, g, kSizeWeight * (determinant(m.C) / size - 1), 1.0);
    for (int i = 0; i < kParameters; ++i)
        for (int j = 0; j < i; ++j)
            normal[static_cast<size_t>(i)][static_cast<size_t>(j)] = normal[static_cast<size_t>(j)][static_cast<size_t>(i)];
    return cost;
}

// Solves the damped normal equations by Cholesky; false where they are not
// positive definite.
bool solveStep(Normal a, Row b, double damping, Row& step) {
    for (int i = 0; i < kParameters; ++i)
        a[static_cast<size_t>(i)][static_cast<size_t>(i)] *= 1 + damping;
    for (int j = 0; j < kParameters; ++j) {
        double diagonal = a[static_cast<size_t>(j)][static_cast<size_t>(j)];
        for (int k = 0; k < j; ++k)
            diagonal -= a[static_cast<size_t>(j)][static_cast<size_t>(k)] * a[static_cast<size_t>(j)][static_cast<size_t>(k)];
        if (!(diagonal > 0))
            return false;
        const double l = std::sqrt(diagonal);
        a[static_cast<size_t>(j)][static_cast<size_t>(j)] = l;
        for (int i = j + 1; i < kParameters; ++i) {
            double v = a[static_cast<size_t>(i)][static_cast<size_t>(j)];
            for (int k = 0; k < j; ++k)
                v -= a[static_cast<size_t>(i)][static_cast<size_t>(k)] * a[static_cast<size_t>(j)][static_cast<size_t>(k)];
            a[static_cast<size_t>(i)][static_cast<size_t>(j)] = v / l;
        }
    }
    for (int i = 0; i < kParameters; ++i) {
        double v = b[static_cast<size_t>(i)];
        for (int k = 0; k < i; ++k)
            v -= a[static_cast<size_t>(i)][static_cast<size_t>(k)] * b[static_cast<size_t>(k)];
        b[static_cast<size_t>(i)] = v / a[static_cast<size_t>(i)][static_cast<size_t>(i)];
    }
    for (int i = kParameters - 1; i >= 0; --i) {
        double v = b[static_cast<size_t>(i)];
        for (int k = i + 1; k < kParameters; ++k)
            v -= a[static_cast<size_t>(k)][static_cast<size_t>(i)] * b[static_cast<size_t>(k)];
        b[static_cast<size_t>(i)] = v / a[static_cast<size_t>(i)][static_cast<size_t>(i)];
    }
    step = b;
    return std::all_of(step.begin(), step.end(), [](double v) { return std::isfinite(v); });
}

Model moved(const Model& m, const Row& step) {
    Model next = m;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            next.C[i][j] += step[static_cast<size_t>(3 * i + j)];
    for (int k = 0; k < 3; ++k) {
        next.c[k] += step[static_cast<size_t>(9 + k)];
        next.h[k] += step[static_cast<size_t>(12 + k)];
    }
    next.F += step[15];
    return next;
}

}  // namespace

void Magnetometer::refine() {
    circles = Circles();
    const std::vector<size_t> index = findIndex();
    if (index.size() < 14)
        return;
    // The points: each hold as its mean, each turn as the means of short
    // runs of its samples; each weighs as many samples as it stands for.
    std::vector<Point> points;
    auto mean = [&](size_t from, size_t to, int set) {
        double sum[3] = {0, 0, 0};
        double n = 0;
        for (size_t i = from; i < to && i < bufferedData.size(); ++i)
            if (bufferedData[i].values.size() >= 3) {
                for (int k = 0; k < 3; ++k)
                    sum[k] += bufferedData[i].values[static_cast<size_t>(k)];
                ++n;
            }
        if (n > 0)
            points.push_back({{sum[0] / n, sum[1] / n, sum[2] / n}, n, set});
    };
    for (int t = 0; t < 3; ++t) {
        const size_t first = 4 * static_cast<size_t>(t);
        mean(index[first], index[first + 1], t);
        // A slow turn, or a fast stream, gives more samples than the circle
        // needs: consecutive samples within kTurnArcDegrees of the turn stand
        // as their mean (what they lose is the arc's sagitta, a
        // hundred-thousandth of the radius), so a calibration costs the same
        // at any rate.
        const size_t from = index[first + 1], to = std::min(index[first + 2], bufferedData.size());
        const size_t run =
            std::max<size_t>(1, static_cast<size_t>((to > from ? to - from : 0) * kTurnArcDegrees / 360.0));
        for (size_t i = from; i < to; i += run)
            mean(i, std::min(to, i + run), t);
        mean(index[first + 2], index[first + 3], t);
    }
    mean(index[12], index[13], 3);
    if (points.size() < kParameters)
        return;

    // The raw noise per axis weighs the residuals; only its proportions
    // matter.
    double noise[3];
    for (int k = 0; k < 3; ++k)
        noise[k] = k < whiteNoise.size() && whiteNoise[k] > 0 && std::isfinite(whiteNoise[k]) ? whiteNoise[k] : 1.0;

    // The start: the fit and the turns' planes.
    Model m;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            m.C[i][j] = S[i][j];
        m.c[i] = o[i];
    }
    // The field's strength and each turn's part along its axis start as
    // the means of the points'.
    double F = 0, total = 0;
    double along[3] = {0, 0, 0}, weights[3] = {0, 0, 0};
    for (const Point& p : points) {
        double u[3];
        for (int i = 0; i < 3; ++i)
            u[i] = m.C[i][0] * (p.x[0] - m.c[0]) + m.C[i][1] * (p.x[1] - m.c[1]) + m.C[i][2] * (p.x[2] - m.c[2]);
        F += p.weight * std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
        total += p.weight;
        if (p.set < 3) {
            along[p.set] += p.weight * u[axisOf(p.set)];
            weights[p.set] += p.weight;
        }
    }
    F /= total;
    for (int t = 0; t < 3; ++t)
        m.h[t] = weights[t] > 0 ? along[t] / weights[t] : 0.0;
    m.F = F;
    const double size = determinant(m.C);
    if (!(F > 0) || !std::isfinite(F) || !(std::fabs(size) > 0) || !std::isfinite(size))
        return;

    Normal normal;
    Row rhs, step;
    double cost = linearise(m, size, points, noise, normal, rhs);
    double damping = 1e-6;
    for (int iteration = 0; iteration < kRefineIterations && std::isfinite(cost); ++iteration) {
        bool improved = false;
        for (int attempt = 0; attempt < 12 && !improved; ++attempt) {
            if (!solveStep(normal, rhs, damping, step)) {
                damping *= 10;
                continue;
            }
            const Model next = moved(m, step);
            Normal nextNormal;
            Row nextRhs;
            const double nextCost = linearise(next, size, points, noise, nextNormal, nextRhs);
            if (std::isfinite(nextCost) && nextCost <= cost) {
                const double gain = cost - nextCost;
                m = next;
                normal = nextNormal;
                rhs = nextRhs;
                cost = nextCost;
                damping = std::max(1e-9, damping / 10);
                improved = true;
                if (gain <= 1e-9 * cost)
                    iteration = kRefineIterations;
            } else {
                damping *= 10;
            }
        }
        if (!improved)
            break;
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            S[i][j] = m.C[i][j];
        o[i] = m.c[i];
    }
    circles.field = m.F;
    for (int t = 0; t < 3; ++t) {
        circles.along[t] = m.h[t];
        circles.stretches[t] = {index[4 * static_cast<size_t>(t)], index[4 * static_cast<size_t>(t) + 3]};
    }
    circles.found = true;
    if (!S.isFinite() || !Matrix(o).isFinite())
        throw MathException("the refinement of the fit is degenerate");
}

Vector Magnetometer::modelPoint(size_t i, const Vector& u) const {
    if (u.size() != 3)
        return u;
    for (int t = 0; circles.found && t < 3; ++t) {
        if (i < circles.stretches[t].first || i >= circles.stretches[t].second)
            continue;
        const int a = axisOf(t);
        Vector w = u;
        w[a] = 0;
        const double across = w.norm();
        const double radius = std::sqrt(std::max(0.0, circles.field * circles.field - circles.along[t] * circles.along[t]));
        if (!(across > 0))
            break;
        w = w * (radius / across);
        w[a] = circles.along[t];
        return w;
    }
    const double length = u.norm();
    return length > 0 && circles.found ? u * (circles.field / length) : u;
}
