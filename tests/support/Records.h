// The static calibration records of a calibration XML file, as corrections to
// compare with the errors a simulated device was given.
#pragma once

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>

namespace records {

// A 3x3 matrix, row-major.
using M3 = std::array<double, 9>;

inline M3 multiply(const M3& a, const M3& b) {
    M3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r[3 * i + j] += a[3 * i + k] * b[3 * k + j];
    return r;
}

inline double determinant(const M3& m) {
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) + m[2] * (m[3] * m[7] - m[4] * m[6]);
}

inline M3 inverse(const M3& m) {
    const double d = determinant(m);
    return {(m[4] * m[8] - m[5] * m[7]) / d, (m[2] * m[7] - m[1] * m[8]) / d, (m[1] * m[5] - m[2] * m[4]) / d,
            (m[5] * m[6] - m[3] * m[8]) / d, (m[0] * m[8] - m[2] * m[6]) / d, (m[2] * m[3] - m[0] * m[5]) / d,
            (m[3] * m[7] - m[4] * m[6]) / d, (m[1] * m[6] - m[0] * m[7]) / d, (m[0] * m[4] - m[1] * m[3]) / d};
}

inline std::array<double, 3> apply(const M3& m, const std::array<double, 3>& v) {
    std::array<double, 3> r{};
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            r[i] += m[3 * i + k] * v[k];
    return r;
}

// The correction the simulator's errors need: diag(scale) * rotation(misalign).
inline M3 correction(const std::array<double, 3>& scale, const std::array<double, 3>& w) {
    const double angle = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
    M3 r{1, 0, 0, 0, 1, 0, 0, 0, 1};
    if (angle > 0) {
        const double x = w[0] / angle, y = w[1] / angle, z = w[2] / angle;
        const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
        r = {t * x * x + c,     t * x * y - s * z, t * x * z + s * y, t * x * y + s * z, t * y * y + c,
             t * y * z - s * x, t * x * z - s * y, t * y * z + s * x, t * z * z + c};
    }
    return multiply(M3{scale[0], 0, 0, 0, scale[1], 0, 0, 0, scale[2]}, r);
}

// A sensor's static record: the correction it applies (scale matrix times axis
// mapping) and its offsets in the record's unit.
struct Record {
    bool found = false;
    M3 correction{};
    double offset[3]{};
};

inline int intAfter(const std::string& xml, const std::string& tag, size_t from) {
    const size_t at = xml.find("<" + tag + ">", from);
    return at == std::string::npos ? 0 : std::atoi(xml.c_str() + at + tag.size() + 2);
}

// The record of the sensor of that type (and instance) in a calibration XML file.
inline Record recordOf(const std::string& xml, int sensorType, int instance = -1) {
    Record r;
    const std::string type = "SensorTypeId=\"" + std::to_string(sensorType) + "\"";
    size_t from = xml.find(type);
    while (from != std::string::npos && instance >= 0) {
        const size_t end = xml.find('>', from);
        if (xml.substr(from, end - from).find("InstanceId=\"" + std::to_string(instance) + "\"") != std::string::npos)
            break;
        from = xml.find(type, from + 1);
    }
    if (from == std::string::npos)
        return r;
    r.found = true;
    const char* axes[9] = {"XX", "XY", "XZ", "YX", "YY", "YZ", "ZX", "ZY", "ZZ"};
    const char* mats[9] = {"Mat11", "Mat12", "Mat13", "Mat21", "Mat22", "Mat23", "Mat31", "Mat32", "Mat33"};
    M3 mapping{}, scale{};
    const double factor = intAfter(xml, "ScaleFactor", from);
    for (int k = 0; k < 9; ++k) {
        mapping[k] = intAfter(xml, axes[k], from);
        scale[k] = intAfter(xml, mats[k], from) / (factor != 0 ? factor : 1.0);
    }
    r.correction = multiply(scale, mapping);
    const char* offsets[3] = {"OffsetX", "OffsetY", "OffsetZ"};
    for (int i = 0; i < 3; ++i)
        r.offset[i] = intAfter(xml, offsets[i], from);
    return r;
}

// The largest element of |a - b|.
inline double largestDifference(const M3& a, const M3& b) {
    double largest = 0;
    for (int k = 0; k < 9; ++k)
        largest = std::max(largest, std::fabs(a[k] - b[k]));
    return largest;
}

}  // namespace records
