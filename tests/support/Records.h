// The static calibration records of a calibration XML file, as corrections to
// compare with the errors a simulated device was given.
#pragma once

#include <array>
#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

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

// What a run log (AGMLogFile.xml) says of one primary sensor of that type:
// its records as the run computed them, in its sampling unit, and their
// expected errors, per element (empty where not logged).
struct Logged {
    bool found = false;
    M3 correction{};
    std::array<double, 3> offset{};
    std::vector<double> scaleSigma, offsetSigma;
};

// The Values of a run log's element tag in a sensor's section, in order.
inline std::vector<double> valuesOf(const std::string& section, const std::string& tag) {
    std::vector<double> values;
    const size_t at = section.find("<" + tag + " ");
    const size_t plain = section.find("<" + tag + ">");
    const size_t from = std::min(at, plain);
    if (from == std::string::npos)
        return values;
    const size_t open = section.find("<Values>", from), close = section.find("</Values>", from);
    if (open == std::string::npos || close == std::string::npos || close < open)
        return values;
    std::string text = section.substr(open + 8, close - open - 8);
    std::replace(text.begin(), text.end(), ';', ',');
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty())
            values.push_back(std::strtod(item.c_str(), nullptr));
    return values;
}

inline Logged loggedOf(const std::string& log, const std::string& type) {
    Logged l;
    size_t at = log.find("Type=\"" + type + "\"");
    while (at != std::string::npos &&
           log.substr(at, log.find('>', at) - at).find("IsPrimary=\"true\"") == std::string::npos)
        at = log.find("Type=\"" + type + "\"", at + 1);
    if (at == std::string::npos)
        return l;
    const std::string section = log.substr(at, log.find("</Sensor>", at) - at);
    const std::vector<double> offset = valuesOf(section, "Offset"), scale = valuesOf(section, "Scale"),
                              mapping = valuesOf(section, "AxisMapping");
    if (offset.size() != 3)
        return l;
    l.found = true;
    for (int i = 0; i < 3; ++i)
        l.offset[i] = offset[i];
    if (scale.size() == 9 && mapping.size() == 9) {
        M3 s, m;
        std::copy(scale.begin(), scale.end(), s.begin());
        std::copy(mapping.begin(), mapping.end(), m.begin());
        l.correction = multiply(s, m);
    }
    l.scaleSigma = valuesOf(section, "ExpectedScaleErrors");
    for (double& v : l.scaleSigma)
        v /= 100;  // logged in percent
    l.offsetSigma = valuesOf(section, "ExpectedOffsetErrors");
    return l;
}

}  // namespace records
