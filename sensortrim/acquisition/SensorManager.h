// Meeting point of sampled data, sensors and the step script of a run.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CsvParser.h"
#include "LiveSampler.h"
#include "ProcessTypes.h"
#include "SensorData.h"

class Sensor;
class Process;

// Kind of a failed test verdict reported by a sensor.
enum class ErrorType : int32_t {
    Calibration = 0,
    AxisMapping = 1,
    General = 2,
};

// The end of a step, shared by the reader thread and the waiting thread.
extern bool stageFinished;

class SensorManager {
public:
    SensorManager() = default;
    virtual ~SensorManager() = default;
    SensorManager(const SensorManager&) = delete;
    SensorManager& operator=(const SensorManager&) = delete;

    void setSensors(const std::vector<std::shared_ptr<Sensor>>& runSensors);
    void setType(const std::shared_ptr<Process>& script);
    void initializeSampling();
    void startSampling();
    void stopSampling();
    // A decoded live report; the timestamp is the device's, in milliseconds.
    void handleData(const std::shared_ptr<Sensor>& sensor, double timestampMs, const std::vector<double>& values);
    void waitForStepFinish(bool midCalculation);
    void stageDone(bool success);
    void onStageChange();
    void setStageInput(const std::string& input);
    void loadDataFromFile(const std::vector<std::shared_ptr<Sensor>>& dumpSensors, const std::string& folder,
                          const std::string& prefix, bool readLuid);
    void playData();
    void checkDataStreamingValidity();

    // Collects a sensor's failed test verdict for the final report.
    void AddError(ErrorType type, const std::string& sensorName);
    // One line per verdict: code, tab, sensor name and the verdict's suffix.
    void GetFinalErrorStr(std::string& out) const;

    // What the sensors ask about the run's step script.
    virtual ProcessType getProcessType() const;
    virtual int getNumSteps() const;
    virtual std::vector<double> getSegmentTimes() const;
    virtual std::vector<int> getSegmentIndexes() const;
    virtual CalibrationFlowType getClibrationFlowType() const;
    virtual bool isManualProcess() const;

    SensorDump getDataDump() const;
    std::map<std::string, std::shared_ptr<Sensor>> getSensorMap() const;
    unsigned getWastedTime() const { return wastedTime; }
    const std::vector<std::shared_ptr<Sensor>>& getSensors() const { return sensors; }
    const std::shared_ptr<Process>& getProcess() const { return process; }
    // The recorder used for live sampling (the firmware's report reader).
    void setLiveSampler(std::unique_ptr<LiveSampler> sampler) { liveSampler = std::move(sampler); }

protected:
    std::vector<std::shared_ptr<Sensor>> sensors;
    std::map<std::string, std::shared_ptr<Sensor>> sensorMap;
    SensorDump dataDump;
    std::condition_variable stageCondition;
    std::mutex stageMutex;
    mutable std::mutex dataMutex;
    bool stageSucceeded = false;
    bool allStepsDone = false;
    unsigned wastedTime = 0;
    std::vector<int> segmentEnds;
    std::shared_ptr<Process> process;
    double stepStartTime = 0.0;
    unsigned samplingParameter = 10;
    std::string errorMessage;
    std::map<std::string, ErrorType> errors;
    std::unique_ptr<LiveSampler> liveSampler;

    // Without a step script (a sensor tested on its own) these stand in.
    ProcessType processType = PROCESS_NONE;
    int numSteps = 0;
    std::vector<double> segmentTimes;
    std::vector<int> segmentIndexes;
    CalibrationFlowType flowType = FLOW_FULL;

private:
    // Hands one sample to its sensor and, for an indicator, to the script.
    void processSample(const std::shared_ptr<Sensor>& sensor, SensorData& sample);
    bool isIndicator(const std::shared_ptr<Sensor>& sensor) const;
    // Ends the current step as failed with the message.
    void failStep(const std::string& message);
};
