// The ambient light sensor: one scale factor (multiplier / divider) applied by
// the firmware to the sensor's lux readings, kept in a FormatId 1 record.
#pragma once

#include <mutex>

#include "Sensor.h"

class AmbientLight : public Sensor {
public:
    explicit AmbientLight(const _sc_sensor_luid& id);

    using Sensor::getCanCalibrate;
    bool getCanCalibrate(ProcessType type) override { return type == PROCESS_ALS_CALIBRATION; }
    bool validateDataFormat(std::vector<unsigned char>& record) override;
    void parse(TiXmlHandle node, int formatId, int version) override;
    void linkDataNode(TiXmlElement* node, const std::vector<unsigned char>& record, unsigned long size) override;

    bool dataRecieved(SensorData& data) override;
    // The scale from the levels and their segments: multiplier / divider.
    void calibrate() override;
    void calcReverseSdt() override;
    void reverseStaticCalibration(SensorData& data) override;
    std::string getResult() override;
    double getMultiplier() const { return multiplier; }
    double getAlsDivider() const { return alsDivider; }
    void setStageInput(std::string input) override;
    bool canProcessCalibData() override { return true; }
    // An imported multiplier without light steps of its own (what a light
    // calibration writes for a sensor without a firmware record) goes into
    // the sensor's firmware record, as a calibration's does.
    void setOriginalScaling(std::vector<unsigned char> record) override;
    // Imported so, and no firmware record has come to put it in.
    bool awaitsFirmwareRecord() const { return multiplierOnly; }

    void addLightLevel(int lux);
    void setIsSkippingData(bool skipping);
    // Stable when the deviation of the buffered lux over the samples is at most 1.
    bool CheckStability(int start, int count);
    // Window and retry limit of the stability test, from the sampling frequency.
    void CalcSamplesRange(int& minimum, int& maximum);
    double CalculateSegmentAverage(int start, int count);
    double CalculateSamplingFrequency();
    const std::vector<int32_t>& getLightLevels() const { return lightLevels; }

    static constexpr int kMaxSteps = 15;
    static constexpr int kMinSteps = 3;

protected:
    double multiplier = 0.0;
    double reverseFactor = 1.0;
    double alsDivider = 0.0;
    std::vector<int32_t> lightLevels;
    bool inputReceived = false;
    std::mutex inputMutex;
    bool skippingData = true;
    double lastTimestamp = 0.0;
    std::vector<double> intervals;
    std::vector<double> medianWindow;
    double meanInterval = 0.0;
    bool multiplierOnly = false;
    uint16_t importedMultiplier = 0;
    uint8_t importedDivider = 1;

    // The record with the multiplier and divider of this calibration: the
    // firmware record's copy when one is held, else a record of its own.
    std::vector<unsigned char> withScale(uint16_t value, uint8_t valueDivider) const;
};
