#include "Quaternion.h"

#include <cmath>

Quaternion::Quaternion(const Vector& r) {
    const double theta = r.norm();
    if (theta == 0.0)
        return;
    const double s = std::sin(theta / 2.0) / theta;
    x = r[0] * s;
    y = r[1] * s;
    z = r[2] * s;
    w = std::cos(theta / 2.0);
}

Quaternion Quaternion::operator*(const Quaternion& q) const {
    return Quaternion(w * q.x + x * q.w + y * q.z - z * q.y,  //
                      w * q.y - x * q.z + y * q.w + z * q.x,  //
                      w * q.z + x * q.y - y * q.x + z * q.w,  //
                      w * q.w - x * q.x - y * q.y - z * q.z);
}

Vector Quaternion::RotateVector(const Vector& v, const Quaternion& q) {
    const Vector u(std::vector<double>{q.x, q.y, q.z});
    const Vector t = u.vector3CrossProduct(v) * 2.0;
    return v + t * q.w + u.vector3CrossProduct(t);
}
