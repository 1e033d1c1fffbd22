// The firmware's record of a calibration, and the reversal of the calibration
// the firmware applies.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "Exceptions.h"
#include "InertialSensor.h"
#include "XmlUtil.h"

using namespace xmlutil;

namespace {

// Truncates toward zero into a 64-bit integer; NaN gives 0, out-of-range values saturate.
long long truncated(double v) {
    if (std::isnan(v))
        return 0;
    if (v >= 9.2e18)
        return std::numeric_limits<long long>::max();
    if (v <= -9.2e18)
        return std::numeric_limits<long long>::min();
    return static_cast<long long>(v);
}

int32_t toInt32(double v) {
    const long long t = truncated(v);
    if (t > INT32_MAX)
        return INT32_MAX;
    if (t < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(t);
}

}  // namespace

void InertialSensor::convertScaling(const Matrix& scale, int16_t entries[9], uint16_t& factor) {
    if (scale.isInt()) {
        for (int k = 0; k < 9; ++k)
            entries[k] = static_cast<int16_t>(static_cast<uint16_t>(truncated(scale[k / 3][k % 3]) & 0xFFFF));
        factor = 1;
        return;
    }
    double m = scale.getAbsMaxValue();
    if (m < 1)
        m = 1;
    const long long f = truncated(32767 / m);
    for (int k = 0; k < 9; ++k)
        entries[k] = static_cast<int16_t>(
            static_cast<uint16_t>(truncated(scale[k / 3][k % 3] * static_cast<double>(f)) & 0xFFFF));
    factor = static_cast<uint16_t>(f & 0xFFFF);
}

void InertialSensor::convertOffset(const Matrix& column, UnitsEnum from, UnitsEnum to, int32_t offsets[3]) {
    for (int i = 0; i < 3; ++i)
        offsets[i] = i < column.getRows() ? toInt32(Conversions::Convert(column[i][0], from, to)) : 0;
}

std::vector<unsigned char> InertialSensor::prependFormat(const std::vector<unsigned char>& body) const {
    // Sized once and filled in place (an insert after a two-byte start trips
    // GCC 12's bounds analysis in optimised builds).
    std::vector<unsigned char> record(body.size() + 2, 0);
    record[0] = static_cast<unsigned char>(formatId);
    std::copy(body.begin(), body.end(), record.begin() + 2);
    return record;
}

void InertialSensor::addOriginalVendorData(std::vector<unsigned char>& body) const {
    if (!originalPresent || originalScaling.size() < staticrecord::kSize)
        return;
    const size_t length = readU16(originalScaling, staticrecord::kVendorLength);
    const size_t available = originalScaling.size() - staticrecord::kVendorData;
    const size_t copied = std::min(length, available);
    writeU16(body, staticrecord::kVendorLength - 2, static_cast<uint16_t>(copied));
    body.insert(body.end(), originalScaling.begin() + staticrecord::kVendorData,
                originalScaling.begin() + static_cast<long>(staticrecord::kVendorData + copied));
}

void InertialSensor::convertToFWForamt() {
    const uint32_t word = compressAxisMapping(A);
    if (resetCalibration) {
        o = Vector(3);
        S = Matrix::Identity(3);
    }
    int32_t offsets[3];
    convertOffset(Matrix(o), samplingUnit, calibrationUnit, offsets);
    int16_t entries[9];
    uint16_t factor = 0;
    convertScaling(S, entries, factor);

    std::vector<unsigned char> body(staticrecord::kSize - 2, 0);
    for (int i = 0; i < 3; ++i)
        writeU32(body, staticrecord::kOffsets - 2 + 4 * static_cast<size_t>(i), static_cast<uint32_t>(offsets[i]));
    for (int k = 0; k < 9; ++k)
        writeU16(body, staticrecord::kMatrix - 2 + 2 * static_cast<size_t>(k), static_cast<uint16_t>(entries[k]));
    writeU16(body, staticrecord::kScaleFactor - 2, factor);
    writeU32(body, staticrecord::kAxisMapping - 2, word);
    addOriginalVendorData(body);
    scaling = prependFormat(body);
}

double InertialSensor::getWhiteNoise() {
    if (!(luid.flags & 0x02) || whiteNoise.size() != 3)
        throw CalibrationException("Internal error. Invalid operation was performed");
    double sum = 0;
    for (int axis = 0; axis < 3; ++axis)
        sum += Conversions::Convert(whiteNoise[axis], samplingUnit, calibrationUnit);
    return sum / 3;
}

void InertialSensor::calcReverseSdt() {
    if (!originalPresent || originalScaling.empty())
        return;
    const std::vector<unsigned char>& record = originalScaling;
    if (record[0] >= 128)
        throw CalibrationException("Custom calibration data format. Cannot reverse SDT static calibration");
    // Only a static record carries a matrix and a mapping.
    if (record[0] != 0 || record.size() < staticrecord::kVendorLength)
        return;
    Matrix m(3, 3);
    for (int k = 0; k < 9; ++k)
        m[k / 3][k % 3] = readI16(record, staticrecord::kMatrix + 2 * static_cast<size_t>(k));
    const uint16_t factor = readU16(record, staticrecord::kScaleFactor);
    if (factor != 0)
        m = m / factor;
    addToLog(m, "OriginalScaling", "Original scale matrix as extracted from the TSY");
    try {
        const Matrix mi = m.invert3x3();
        addToLog(mi, "InvertedScaling", "The inverse matrix of the scale matrix extracted from the TSY");
        const Matrix am = decompressAxisMapping(recordAxisMapping(record));
        addToLog(am, "OriginalAxisMapping", "Original axis mapping as extracted for the TSY");
        const Matrix ai = am.invert3x3();
        addToLog(ai, "InvertedAxisMapping", "The inverse matrix of the axis mapping extracted from the TSY");
        reverseMatrix = ai * mi;
        addToLog(reverseMatrix, "ReverseMatrix", "The matrix used in order to reverse static calibration done by TSY");
        Vector offset(3);
        for (int i = 0; i < 3; ++i)
            offset[i] = readI32(record, staticrecord::kOffsets + 4 * static_cast<size_t>(i));
        addToLog(offset, "OriginalOffset", "Original offset as extracted from the TSY");
        for (int i = 0; i < 3; ++i)
            offset[i] = Conversions::Convert(offset[i], calibrationUnit, samplingUnit);
        reverseOffset = ((m * am) * -1.0) * offset;
        addToLog(reverseOffset, "ReverseOffset", "The offset used in order to reverse static calibration done by TSY");
    } catch (const MathException&) {
        reverseMatrix = Matrix();
        throw CalibrationException("Failed to invert SDT data");
    }
}

void InertialSensor::reverseStaticCalibration(SensorData& data) {
    if (!originalPresent || reverseMatrix.getRows() != 3 || data.values.size() != 3)
        return;
    data.values = (reverseMatrix * (Vector(data.values) - reverseOffset)).elements();
}
