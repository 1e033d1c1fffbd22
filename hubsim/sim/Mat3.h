// The simulator's own small 3x3 arithmetic. It shares nothing with the
// calibration tool's math on purpose: the simulated device is the oracle the
// tool's results are checked against, so a fault in one must not hide in both.
#pragma once

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace sim {

struct V3 {
    double x = 0, y = 0, z = 0;

    double operator[](int i) const { return i == 0 ? x : i == 1 ? y : z; }
    double& operator[](int i) { return i == 0 ? x : i == 1 ? y : z; }
};

inline V3 operator+(const V3& a, const V3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(const V3& a, const V3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(const V3& a, double k) { return {a.x * k, a.y * k, a.z * k}; }
inline double dot(const V3& a, const V3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline double length(const V3& a) { return std::sqrt(dot(a, a)); }
inline V3 cross(const V3& a, const V3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

struct M3 {
    double m[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};

    static M3 identity() {
        M3 r;
        r.m[0][0] = r.m[1][1] = r.m[2][2] = 1;
        return r;
    }
    static M3 diagonal(const V3& d) {
        M3 r;
        for (int i = 0; i < 3; ++i)
            r.m[i][i] = d[i];
        return r;
    }
    // Rows as given.
    static M3 rows(double a, double b, double c, double d, double e, double f, double g, double h, double i) {
        M3 r;
        const double v[9] = {a, b, c, d, e, f, g, h, i};
        for (int k = 0; k < 9; ++k)
            r.m[k / 3][k % 3] = v[k];
        return r;
    }

    M3 transposed() const {
        M3 r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                r.m[i][j] = m[j][i];
        return r;
    }
    double determinant() const {
        return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    }
    // Inverse by cofactors.
    M3 inverse() const {
        const double d = determinant();
        if (std::fabs(d) < 1e-12)
            throw std::runtime_error("singular matrix");
        M3 r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                const int i1 = (j + 1) % 3, i2 = (j + 2) % 3, j1 = (i + 1) % 3, j2 = (i + 2) % 3;
                r.m[i][j] = (m[i1][j1] * m[i2][j2] - m[i1][j2] * m[i2][j1]) / d;
            }
        return r;
    }
};

inline V3 operator*(const M3& a, const V3& v) {
    V3 r;
    for (int i = 0; i < 3; ++i)
        r[i] = a.m[i][0] * v.x + a.m[i][1] * v.y + a.m[i][2] * v.z;
    return r;
}

inline M3 operator*(const M3& a, const M3& b) {
    M3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

// Rotation by the angle |w| (radians) about w, counterclockwise (Rodrigues).
inline M3 rotation(const V3& w) {
    const double angle = std::sqrt(dot(w, w));
    if (angle < 1e-15)
        return M3::identity();
    const V3 k = w * (1.0 / angle);
    const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    return M3::rows(t * k.x * k.x + c, t * k.x * k.y - s * k.z, t * k.x * k.z + s * k.y,  //
                    t * k.x * k.y + s * k.z, t * k.y * k.y + c, t * k.y * k.z - s * k.x,  //
                    t * k.x * k.z - s * k.y, t * k.y * k.z + s * k.x, t * k.z * k.z + c);
}

// Rotation vector of a rotation matrix; angles close to half a turn are refused
// (the simulator's moves never need them).
inline V3 rotationVector(const M3& r) {
    const double c = (r.m[0][0] + r.m[1][1] + r.m[2][2] - 1) / 2;
    const double angle = std::acos(std::max(-1.0, std::min(1.0, c)));
    if (angle < 1e-12)
        return {};
    const double s = std::sin(angle);
    if (s < 1e-6)
        throw std::runtime_error("rotation of half a turn");
    const V3 axis{r.m[2][1] - r.m[1][2], r.m[0][2] - r.m[2][0], r.m[1][0] - r.m[0][1]};
    return axis * (angle / (2 * s));
}

}  // namespace sim
