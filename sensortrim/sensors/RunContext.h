// What a sensor may ask about the run it takes part in (the step script's
// kind, flow, steps and their times) and where it reports a failed test
// verdict. The sensor manager is the run's context; tests supply their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ProcessTypes.h"

// Kind of a failed test verdict reported by a sensor.
enum class ErrorType : int32_t {
    Calibration = 0,
    AxisMapping = 1,
    General = 2,
};

class RunContext {
public:
    virtual ~RunContext() = default;

    virtual ProcessType getProcessType() const = 0;
    virtual int getNumSteps() const = 0;
    virtual std::vector<double> getSegmentTimes() const = 0;
    virtual std::vector<int> getSegmentIndexes() const = 0;
    virtual CalibrationFlowType getClibrationFlowType() const = 0;
    // True when the operator ends each step (the light levels typed in).
    virtual bool isManualProcess() const = 0;
    // Collects a sensor's failed test verdict for the final report.
    virtual void AddError(ErrorType type, const std::string& sensorName) = 0;
};
