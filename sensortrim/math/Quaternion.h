// Rotation quaternion: vector part (x, y, z) and scalar part w.
#pragma once

#include "Vector.h"

class Quaternion {
public:
    Quaternion() = default;
    // From a rotation vector: axis times angle in radians.
    explicit Quaternion(const Vector& r);
    Quaternion(double qx, double qy, double qz, double qw) : x(qx), y(qy), z(qz), w(qw) {}

    void reset() { *this = Quaternion(); }
    // Hamilton product: this (x) q.
    Quaternion operator*(const Quaternion& q) const;
    static Vector RotateVector(const Vector& v, const Quaternion& q);

    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 1.0;
};
