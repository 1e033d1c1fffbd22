#include "EllipsoidFit.h"

#include <cmath>

namespace {

Vector firstThree(const SensorData& s) {
    if (s.values.size() < 3)
        throw MathException("A sample has fewer than three values");
    return Vector(std::vector<double>{s.values[0], s.values[1], s.values[2]});
}

// A general inverse has no singularity test; a fit must not go on with a
// singular normal matrix, so its infinities or NaN are refused here.
Matrix invertNormalMatrix(const Matrix& m) {
    const Matrix inv = m.invert();
    for (int i = 0; i < inv.getRows(); ++i)
        for (int j = 0; j < inv.getCols(); ++j)
            if (!std::isfinite(inv[i][j]))
                throw MathException("Failed to invert matrix");
    return inv;
}

Matrix diag(const Vector& v) {
    Matrix m(v.size(), v.size());
    for (int i = 0; i < v.size(); ++i)
        m[i][i] = v[i];
    return m;
}

}  // namespace

EllipsoidFit::EllipsoidFit() {
    Init();
}

EllipsoidFit::EllipsoidFit(const std::vector<SensorData>& samples) {
    Init();
    Init(samples);
}

EllipsoidFit::EllipsoidFit(const std::vector<SensorData>& samples, double magnitude) {
    Init();
    Init(samples);
    axisScale = axisScale * scale * magnitude;
    for (int i = 0; i < 3; ++i)
        radii[i] = 1.0 / axisScale[i];
    transform = diag(axisScale) * rotation;
}

void EllipsoidFit::Init() {
    center = Vector(3);
    axisScale = Vector::Ones(3);
    radii = Vector::Ones(3);
    transform = Matrix::Identity(3);
    rotation = Matrix::Identity(3);
    scale = 0.0;
}

void EllipsoidFit::Init(const std::vector<SensorData>& samples) {
    Init();
    // Least squares of the model h * p = w, one row of h per sample: the
    // normal equations (h'h) p = h'w are summed sample by sample, in the order
    // and with the operations of the products of the whole n x 9 matrix, so
    // nothing of the size of the recording is formed.
    double normal[9][9] = {};
    double right[9] = {};
    for (const SensorData& sample : samples) {
        if (sample.values.size() < 3)
            throw MathException("A sample has fewer than three values");
        const double x = sample.values[0], y = sample.values[1], z = sample.values[2];
        const double row[9] = {x, y, z, -x * y, -x * z, -y * z, -y * y, -z * z, 1.0};
        const double w = x * x;
        for (int i = 0; i < 9; ++i) {
            for (int j = i; j < 9; ++j)
                normal[i][j] += row[i] * row[j];
            right[i] += w * row[i];
        }
    }
    Matrix g(9, 9);
    for (int i = 0; i < 9; ++i)
        for (int j = i; j < 9; ++j)
            g[i][j] = g[j][i] = normal[i][j];
    const Vector p = invertNormalMatrix(g) * Vector(std::vector<double>(right, right + 9));

    const Matrix m(3, 3, {2.0, p[3], p[4], p[3], 2.0 * p[6], p[5], p[4], p[5], 2.0 * p[7]});
    center = m.invert3x3() * Vector(std::vector<double>{p[0], p[1], p[2]});
    const double c0 = center[0], c1 = center[1], c2 = center[2];
    const double k = p[8] + c0 * c0 + p[6] * c1 * c1 + p[7] * c2 * c2 + p[3] * c0 * c1 + p[4] * c0 * c2 +
                     p[5] * c1 * c2;
    const Matrix shape = Matrix(3, 3,
                                {1.0, p[3] / 2.0, p[4] / 2.0,  //
                                 p[3] / 2.0, p[6], p[5] / 2.0,  //
                                 p[4] / 2.0, p[5] / 2.0, p[7]}) *
                         (1.0 / k);

    const Vector lambda = shape.eigen3x3();
    // NaN eigenvalues (a degenerate shape) are refused as well as negative ones.
    for (int i = 0; i < 3; ++i)
        if (!(lambda[i] >= 0.0))
            throw MathException("The calculated eigen values of the ellipsoid are not correct");
    const Vector q = lambda.Sqrt();
    scale = q.Sum() / 3.0;
    axisScale = q / scale;
    for (int i = 0; i < 3; ++i)
        radii[i] = 1.0 / axisScale[i];
    if (!shape.isDiagonal())
        for (int i = 0; i < 3; ++i)
            rotation.setRow(shape.eigenVector(lambda[i]), i);
    transform = rotation.transpose() * diag(axisScale) * rotation;
}

Vector EllipsoidFit::calibrate(const Vector& v) const {
    return transform * (v - center);
}

double EllipsoidFit::ellipsoidError(const std::vector<SensorData>& samples, double magnitude) const {
    double sum = 0.0;
    for (const SensorData& s : samples)
        sum += std::fabs(calibrate(firstThree(s)).norm() - magnitude);
    return sum / static_cast<double>(samples.size());
}

Vector EllipsoidFit::FindEllispseCenter(const std::vector<SensorData>& samples) {
    const size_t n = samples.size();
    const size_t m = n / 3;
    if (m == 0)
        throw MathException("Too few samples to find the centre of a turn");
    auto meanOf = [&samples, m](size_t from) {
        Vector sum(3);
        for (size_t i = from; i < from + m; ++i)
            sum += firstThree(samples[i]);
        return sum / static_cast<double>(m);
    };
    const Vector p1 = meanOf(0);
    const Vector p2 = meanOf(n - m);
    const Vector p3 = meanOf(n / 3);

    const Vector u = (p2 - p1).normalize();
    const Vector d = p3 - p1;
    const Vector w = (d - u * d.innerProduct(u)).normalize();
    const Vector normal = u.vector3CrossProduct(w);
    const Matrix frame(std::vector<Vector>{u, w, normal});

    std::vector<Vector> points;
    points.reserve(n);
    for (const SensorData& s : samples) {
        const Vector local = frame * (firstThree(s) - p1);
        points.push_back(Vector(std::vector<double>{local[0], local[1]}));
    }
    const Vector c = Ellipse_Center(points);
    return frame.transpose() * Vector(std::vector<double>{c[0], c[1], 0.0}) + p1;
}

Vector EllipsoidFit::Ellipse_Center(const std::vector<Vector>& points) {
    const int n = static_cast<int>(points.size());
    double mx = 0.0, my = 0.0;
    for (const Vector& pt : points) {
        if (pt.size() < 2)
            throw MathException("A point has fewer than two values");
        mx += pt[0];
        my += pt[1];
    }
    mx /= n;
    my /= n;

    Matrix x(n, 5);
    for (int i = 0; i < n; ++i) {
        const double px = points[static_cast<size_t>(i)][0] - mx;
        const double py = points[static_cast<size_t>(i)][1] - my;
        x.setRow(Vector(std::vector<double>{px * px, px * py, py * py, px, py}), i);
    }
    Vector sums(5);
    for (int i = 0; i < n; ++i)
        sums += x[i];
    const Vector conic = Matrix::multiplyVecByMat(sums, invertNormalMatrix(x.transposeMultiply()));
    double a = conic[0], b = conic[1], g = conic[2], d = conic[3], e = conic[4];

    double phi = 0.0;
    if (std::fmin(std::fabs(b / g), std::fabs(b / a)) > 0.001) {
        phi = 0.5 * std::atan(b / (g - a));
        const double c = std::cos(phi), s = std::sin(phi);
        const double a0 = a, b0 = b, g0 = g, d0 = d, e0 = e, mx0 = mx, my0 = my;
        a = a0 * c * c - b0 * c * s + g0 * s * s;
        g = a0 * s * s + b0 * c * s + g0 * c * c;
        b = 0.0;
        d = d0 * c - e0 * s;
        e = d0 * s + e0 * c;
        mx = c * mx0 - s * my0;
        my = s * mx0 + c * my0;
    }
    const double c = std::cos(phi), s = std::sin(phi);

    if (a * g == 0.0)
        throw MathException("Parabola found, fit_ellipse: Did not locate an ellipse");
    if (a * g < 0.0)
        throw MathException("Hyperbola found, fit_ellipse: Did not locate an ellipse");
    if (a < 0.0) {
        a = -a;
        b = -b;
        g = -g;
        d = -d;
        e = -e;
    }
    const double x0 = mx - d / (2.0 * a);
    const double y0 = my - e / (2.0 * g);
    const double f = 1.0 + d * d / (4.0 * a) + e * e / (4.0 * g);
    axisScale = Vector(std::vector<double>{std::sqrt(f / a), std::sqrt(f / g)});
    return Vector(std::vector<double>{c * x0 + s * y0, -s * x0 + c * y0});
}
