// Base of every sensor the calibration tool handles: identity, calibration
// records, sample buffer, per-sensor run log and the operations the concrete
// sensors override.
#pragma once

#include <tinyxml.h>

#include <memory>
#include <string>
#include <vector>

#include "ProcessTypes.h"
#include "RunContext.h"
#include "SensorData.h"
#include "Units.h"
#include "Vector.h"
#include "device/SensorLuid.h"

class Matrix;
class SDT;

// The 8 bytes of the luid in memory order as 16 lower-case hex digits.
std::string luidToString(const _sc_sensor_luid& luid);

// Sensor type names shared by the run setup, the logs and the dump files.
extern const char* const ACCELEROMETER;
extern const char* const GYROSCOPE;
extern const char* const MAGNETOMER;
extern const char* const AMBIENT;

// "X", "Y", "Z" for 0, 1, 2; empty otherwise.
std::string AxisName(int axis);

class Sensor {
public:
    explicit Sensor(const _sc_sensor_luid& id);
    virtual ~Sensor() = default;
    Sensor(const Sensor&) = delete;
    Sensor& operator=(const Sensor&) = delete;

    // A new sensor of the class that handles the luid's sensor type.
    static std::shared_ptr<Sensor> allocateSensor(const _sc_sensor_luid& luid);

    virtual void calibrate() {}
    // Tests the current calibration; true when it passes.
    virtual bool testCalibration() { return true; }
    virtual bool dataRecieved(SensorData& /*data*/) { return true; }
    virtual void calcReverseSdt() {}
    virtual bool canProcessCalibData() { return false; }
    virtual void reverseStaticCalibration(SensorData& /*data*/) {}
    virtual std::string getResult() { return std::string(); }
    virtual size_t getBufferedDataSize() { return bufferedData.size(); }
    virtual _sc_sensor_luid getLuidForSampling() { return luid; }
    virtual bool getCanCalibrate() { return canCalibrate && (luid.flags & 0x02) != 0; }
    virtual bool goodForTesting() { return (luid.flags & 0x02) != 0; }
    // Validates the record read from the firmware and keeps it.
    virtual void setOriginalScaling(std::vector<unsigned char> record);
    // Throws CalibrationException when the record does not fit the sensor.
    // Returns true when the record carries no vendor block.
    virtual bool validateDataFormat(std::vector<unsigned char>& record);
    virtual bool getCanCalibrate(ProcessType /*type*/) { return false; }
    // The run the sensor takes part in (the sensor manager); null outside a run.
    virtual void SetSensManager(RunContext* run) { manager = run; }
    virtual bool isPrimary() { return luid.instance == 0; }
    virtual void setStageInput(std::string /*input*/) {}
    virtual void MidCalc() {}
    // Reads the format-specific children of an imported "CalibrationData" element.
    virtual void parse(TiXmlHandle node, int formatId, int version) = 0;
    // Reads the sensor's record from the firmware.
    virtual void initSDTCalibrationData(SDT& sdt);
    virtual void SetNeedCheckAxisMappingVsOrig(bool /*need*/) {}
    virtual void setRemoveRotation(bool /*remove*/) {}
    // Writes the format-specific children of an exported "CalibrationData" element.
    virtual void linkDataNode(TiXmlElement* node, const std::vector<unsigned char>& record, unsigned long size) = 0;

    const _sc_sensor_luid& getLuid() const { return luid; }
    void setLuid(const _sc_sensor_luid& id) { luid = id; }
    std::string getLuidString() const { return luidToString(luid); }
    int getSensorType() const { return category; }
    UnitsEnum getSamplingUnit() const { return samplingUnit; }
    UnitsEnum getCalibrationUnit() const { return calibrationUnit; }
    int getNumFields() const { return numFields; }
    int getDivider() const { return divider; }
    std::vector<SensorData>& getBufferedData() { return bufferedData; }
    TiXmlElement* getlog() { return log; }
    // The name, with "_2" for a secondary sensor.
    std::string getName();
    const std::string& getBaseName() const { return name; }

    const std::vector<unsigned char>& getScaling() const { return scaling; }
    // Validates, then keeps the record as the new record.
    void setScaling(std::vector<unsigned char> record);
    const std::vector<unsigned char>& getOriginalScaling() const { return originalScaling; }
    // Keeps the record the firmware holds as it is, for a backup, though it
    // does not fit the sensor (problem: why).
    void keepFirmwareRecord(const std::vector<unsigned char>& record, const std::string& problem);
    // Why the record the last serialize wrote would not import back ("" when it would).
    const std::string& getExportProblem() const { return exportProblem; }
    // Why a backup holds no record of this sensor (empty: it holds one, or
    // none was asked for).
    void setUnsavedReason(const std::string& reason) { unsavedReason = reason; }
    const std::string& getUnsavedReason() const { return unsavedReason; }
    bool hasOriginalScaling() const { return originalPresent; }

    std::string getHingeConfig() const;
    void setHingeConfig(const std::string& text);
    // The hinge code the platform info gives (0 bottom, 1 top, 2 left, 3 right).
    void setHinge(uint8_t code) { hinge = code; }

    // The sensor's "Sensor" element of the calibration XML, or null when it
    // has no record to export. With firmwareRecord the firmware record is
    // exported instead of the new one.
    std::unique_ptr<TiXmlElement> serialize(bool firmwareRecord);

    // Run log.
    void pushLog(const std::string& name);
    void popLog();
    void addToLog(TiXmlElement* element, const std::string& values, const std::string& comment);
    void addToLog(const Vector& v, const std::string& name, const std::string& comment);
    void addToLog(const Matrix& m, const std::string& name, const std::string& comment);
    void addToLog(const double& value, const std::string& name, const std::string& comment);
    void addToLog(const std::string& name, const std::string& values, const std::string& comment,
                  const std::string& attr1, const std::string& value1, const std::string& attr2,
                  const std::string& value2);
    void addCommentToLog(const std::string& text);
    // The sensor's root log element (its "Sensor" element), null before first use.
    TiXmlElement* getLogRoot() { return logRoot.get(); }
    // Marks the sensor failed in its log (made when it has none yet), with the
    // reason as its "FailureReason" attribute.
    void logFailure(const std::string& reason);

protected:
    // The OEM custom form: "OEMCustomData" with the bytes from offset 2.
    static void linkCustomData(TiXmlElement* node, const std::vector<unsigned char>& record);
    // Keep as the firmware record, without validation.
    void storeOriginalScaling(const std::vector<unsigned char>& record);
    void checkCreateLog();
    // The size limits of the sensor's record format.
    void checkDataSize(const std::vector<unsigned char>& record) const;

    TiXmlElement* log = nullptr;
    TiXmlElement* savedLog = nullptr;
    std::unique_ptr<TiXmlElement> logRoot;
    int category = 0;
    _sc_sensor_luid luid;
    std::vector<unsigned char> scaling;
    std::vector<unsigned char> originalScaling;
    std::string name;
    UnitsEnum samplingUnit = Unit_unknown;
    UnitsEnum calibrationUnit = Unit_unknown;
    RunContext* manager = nullptr;
    std::vector<SensorData> bufferedData;
    bool canCalibrate = false;
    bool originalPresent = false;
    // Why the firmware record kept would not import back, and why the
    // record serialize wrote last would not.
    std::string recordProblem;
    std::string exportProblem;
    std::string unsavedReason;
    int numFields = 0;
    uint8_t hinge = 0;
    int formatId = 0;
    int minDataSize = 0;
    int maxDataSize = 0;
    Vector faceUpSum = Vector(3);
    Vector faceUpSumSquares = Vector(3);
    int faceUpCount = 0;
    Vector faceUpExpected = Vector(3);
    int divider = 100000;
};

// A sensor of a type the tool does not calibrate: it carries OEM custom records only.
class GenericSensor : public Sensor {
public:
    explicit GenericSensor(const _sc_sensor_luid& id) : Sensor(id) {}
    void parse(TiXmlHandle node, int formatId, int version) override;
    void linkDataNode(TiXmlElement* node, const std::vector<unsigned char>& record, unsigned long size) override;
    bool validateDataFormat(std::vector<unsigned char>& record) override;
};
