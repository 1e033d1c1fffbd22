// Meeting point of sampled data, sensors and the step script of a run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CsvParser.h"
#include "LiveSampler.h"
#include "PlaybackRecording.h"
#include "ProcessTypes.h"
#include "RunContext.h"
#include "SensorData.h"

class Sensor;
class Process;
class SDT;

class SensorManager : public RunContext {
public:
    SensorManager() = default;
    ~SensorManager() override = default;
    SensorManager(const SensorManager&) = delete;
    SensorManager& operator=(const SensorManager&) = delete;

    // The run's firmware gateway, for the sampling requests of live runs.
    void setDevice(std::shared_ptr<SDT> sdt) { device = std::move(sdt); }
    void setSensors(const std::vector<std::shared_ptr<Sensor>>& runSensors);
    // The sensor that marks the steps when none of the run's sensors can (the
    // platform's accelerometer in a run of the gyroscope or the magnetometer
    // alone): setType binds it instead of an accelerometer of its own making.
    // It is recorded with the run and never calibrated.
    void setStepMarker(std::shared_ptr<Sensor> marker) { stepMarker = std::move(marker); }
    void setType(const std::shared_ptr<Process>& script);
    // A sensor recorded with the run for the step script's checks only: it
    // neither marks steps nor is calibrated. After setType.
    void addWatcher(const std::shared_ptr<Sensor>& sensor);
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

    void AddError(ErrorType type, const std::string& sensorName) override;
    // One line per verdict: code, tab, sensor name and the verdict's suffix.
    void GetFinalErrorStr(std::string& out) const;

    // What the sensors ask about the run's step script.
    ProcessType getProcessType() const override;
    int getNumSteps() const override;
    std::vector<double> getSegmentTimes() const override;
    std::vector<int> getSegmentIndexes() const override;
    CalibrationFlowType getClibrationFlowType() const override;
    bool isManualProcess() const override;

    SensorDump getDataDump() const;
    // Whether any sample was recorded (a dump would hold anything).
    bool hasSamples() const;
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
    // The dumps of an offline run, read by loadDataFromFile and played by playData.
    std::map<std::shared_ptr<Sensor>, PlaybackRecording> playback;
    std::condition_variable stageCondition;
    std::mutex stageMutex;
    mutable std::mutex dataMutex;
    // The end of a step, shared by the reader thread and the waiting thread.
    bool stageFinished = false;
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
    std::shared_ptr<SDT> device;
    // When each sensor's last live sample came (under dataMutex), to name the
    // silent ones when a step times out.
    std::map<std::shared_ptr<Sensor>, std::chrono::steady_clock::time_point> lastSampleAt;
    std::shared_ptr<Sensor> stepMarker;

    // Without a step script (a sensor tested on its own) these stand in.
    ProcessType processType = PROCESS_NONE;
    int numSteps = 0;
    std::vector<double> segmentTimes;
    std::vector<int> segmentIndexes;
    CalibrationFlowType flowType = FLOW_FULL;

private:
    // Hands one sample to its sensor and, for an indicator, to the script.
    void processSample(const std::shared_ptr<Sensor>& sensor, SensorData& sample, bool indicator);
    bool isIndicator(const std::shared_ptr<Sensor>& sensor) const;
    // Ends the current step as failed with the message.
    void failStep(const std::string& message);
    // The step that timed out and the sensors whose samples never came or stopped.
    std::string timeoutDetails();
    // The sensors whose samples never came (after the first second) and those
    // whose samples stopped coming (under dataMutex).
    void silentSensors(std::vector<std::string>& never, std::vector<std::string>& stopped);
    // Draws the operator's status line of the step in progress.
    void showProgress(int secondsLeft);
    std::chrono::steady_clock::time_point samplingStartedAt;
};
