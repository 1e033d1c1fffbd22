// Stand-ins for what the sensor tests need of a run: a sensor manager that
// reports a given flow, kind of run, steps and segments, and the text of a
// calibration failure.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "SensorManager.h"

class FakeManager : public SensorManager {
public:
    FakeManager(CalibrationFlowType flow, ProcessType type, int steps, std::vector<double> times = {}) {
        flowType = flow;
        processType = type;
        numSteps = steps;
        segmentTimes = std::move(times);
    }
    void setSegmentIndexes(std::vector<int> indexes) { segmentIndexes = std::move(indexes); }
    void setManual(bool operatorDriven) { manual = operatorDriven; }
    bool isManualProcess() const override { return manual; }
    // The final error report of the verdicts collected so far.
    std::string report() const {
        std::string out;
        GetFinalErrorStr(out);
        return out;
    }

private:
    bool manual = false;
};

// The text of the CalibrationException the call throws, or "" when it throws none.
inline std::string calibrationError(const std::function<void()>& f) {
    try {
        f();
    } catch (const CalibrationException& e) {
        return e.what();
    }
    return "";
}
