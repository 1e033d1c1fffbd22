// Meeting point of sampled data, sensors and the step script of a run.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ProcessTypes.h"

class Sensor;

// Kind of a failed test verdict reported by a sensor.
enum class ErrorType : int32_t {
    Calibration = 0,
    AxisMapping = 1,
    General = 2,
};

class SensorManager {
public:
    SensorManager() = default;
    virtual ~SensorManager() = default;
    SensorManager(const SensorManager&) = delete;
    SensorManager& operator=(const SensorManager&) = delete;

    // What the sensors ask about the run's step script.
    virtual ProcessType getProcessType() const { return processType; }
    virtual int getNumSteps() const { return numSteps; }
    virtual std::vector<double> getSegmentTimes() const { return segmentTimes; }
    virtual std::vector<int> getSegmentIndexes() const { return segmentIndexes; }
    virtual CalibrationFlowType getClibrationFlowType() const { return flowType; }
    virtual bool isManualProcess() const { return false; }

    // Collects a sensor's failed test verdict for the final report.
    void AddError(ErrorType type, const std::string& sensorName);
    // One line per verdict: code, tab, sensor name and the verdict's suffix.
    void GetFinalErrorStr(std::string& out) const;

protected:
    ProcessType processType = PROCESS_NONE;
    int numSteps = 0;
    std::vector<double> segmentTimes;
    std::vector<int> segmentIndexes;
    CalibrationFlowType flowType = FLOW_FULL;
    std::map<std::string, ErrorType> errors;
};
