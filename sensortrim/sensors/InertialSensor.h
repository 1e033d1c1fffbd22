// Base of the accelerometer, gyroscope and magnetometer: the calibration model
// y = S * A * (r - o), its firmware records and their XML forms.
#pragma once

#include "Matrix.h"
#include "Sensor.h"

// Byte layout of the static record (FormatId 0).
namespace staticrecord {
constexpr size_t kOffsets = 2;       // 3 x i32
constexpr size_t kMatrix = 14;       // 9 x i16, row-major
constexpr size_t kScaleFactor = 32;  // u16
constexpr size_t kAxisMapping = 34;  // u32, nine 2-bit fields
constexpr size_t kVendorLength = 38; // u16
constexpr size_t kVendorData = 40;
constexpr size_t kSize = 40;
}  // namespace staticrecord

class InertialSensor : public Sensor {
public:
    explicit InertialSensor(const _sc_sensor_luid& id);

    void setOriginalScaling(std::vector<unsigned char> record) override;
    bool validateDataFormat(std::vector<unsigned char>& record) override;
    using Sensor::getCanCalibrate;
    bool getCanCalibrate(ProcessType type) override { return type == PROCESS_INERTIAL_CALIBRATION; }
    void setRemoveRotation(bool remove) override { removeRotation = remove; }
    void parse(TiXmlHandle node, int formatId, int version) override;
    void linkDataNode(TiXmlElement* node, const std::vector<unsigned char>& record, unsigned long size) override;

    // Packs a signed permutation matrix into the record's axis-mapping word.
    static uint32_t compressAxisMapping(const Matrix& mapping);
    // The nine 2-bit fields of the word as signed values (-2 to 1), row-major.
    static Matrix decompressAxisMapping(uint32_t word);
    // The record of a sensor without calibration (identity, no offset).
    std::vector<unsigned char> getStaticDefault() const;

    void setWhiteNoise(double noise);
    bool hasImportedNoise() const { return importedNoise; }
    double getImportedWhiteNoise() const { return importedWhiteNoise; }
    int getDynamicNumSteps() const { return ownSteps; }

protected:
    Matrix S = Matrix(3, 3);
    Vector o = Vector(3);
    Matrix A = Matrix(3, 3);
    Vector whiteNoise = Vector(3);
    double defaultNoise = 0.0;
    bool removeRotation = false;
    bool resetCalibration = false;
    bool importedNoise = false;
    double importedWhiteNoise = 0.0;
    int ownSteps = 0;

    std::vector<unsigned char> parseStaticBody(TiXmlElement* calibrationData);
    void linkStaticData(TiXmlElement* node, const std::vector<unsigned char>& record);
};
