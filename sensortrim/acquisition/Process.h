// Step scripts: what the operator does in each step of a run, and when a step ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CsvParser.h"
#include "Progress.h"
#include "Vector.h"
#include "ProcessTypes.h"
#include "SensorData.h"

class Sensor;
class InertialSensor;
class AmbientLight;

class Process {
public:
    virtual ~Process() = default;

    virtual void readConfiguration(const std::string& /*path*/) {}
    virtual std::string getStepInstructions(bool noPrompt) = 0;
    virtual bool isManual() { return false; }
    virtual bool getNeedMidCalc() { return false; }
    virtual bool inputRequired() = 0;
    virtual std::string getInput() = 0;
    virtual bool getSampleBetween() { return true; }
    virtual void initNumOfSteps() {}
    virtual void CalibrationControl(SensorData& sample) = 0;
    virtual bool isStageIndicator(const std::shared_ptr<Sensor>& sensor) = 0;
    virtual void setMoveNext() {}
    virtual std::vector<std::string> getIndicatorNames() = 0;
    virtual bool isExternal() { return false; }
    virtual bool setIndicator(std::shared_ptr<Sensor> sensor) = 0;
    virtual void initProcess() {}
    // What the step in progress waits for and how far it has come, for the
    // operator's status line; false when the script has nothing to say. Called
    // with the samples' lock held.
    virtual bool fillProgress(StepProgress& /*progress*/) { return false; }
    // Why the step in progress has not seen what it waits for, when its
    // samples tell (a sensor too noisy ever to read still); empty otherwise.
    // Called with the samples' lock held.
    virtual std::string stallCause() { return ""; }
    // A recording played back has ended (a step it ends asks to move next).
    virtual void recordingEnded() {}

    ProcessType getType() const { return type; }
    void setType(ProcessType t) { type = t; }
    CalibrationFlowType GetCalibrationFlow() const { return flow; }
    int getStaticStatesNumber() const { return staticStatesNumber; }
    int getCurrentStaticStep() const { return currentStaticStep; }
    int getCurrentTransitionStep() const { return currentStaticStep - 1; }
    int getTransitionsNumber() const { return staticStatesNumber - 1; }
    void moveNextStep();
    void rollBack();
    virtual bool isDone() const { return currentSegment == staticStatesNumber; }
    void setNextSegment() { ++currentSegment; }
    // Returns the move-next request and clears it.
    bool shouldMoveNext();
    int getWastedTime() const { return wastedTime; }
    const std::vector<double>& getSegmentTimes() const { return segmentTimes; }
    const std::vector<int>& getSegmentIndexes() const { return segmentIndexes; }
    int getCurrentSegment() const { return currentSegment; }
    void restart() { currentStaticStep = 0; }

protected:
    // Whether two sensors are the same sensor (by luid); false when either is missing.
    static bool sameLuid(const std::shared_ptr<Sensor>& a, const std::shared_ptr<Sensor>& b);

    int staticStatesNumber = 0;
    int currentStaticStep = 0;
    ProcessType type = PROCESS_NONE;
    CalibrationFlowType flow = FLOW_FULL;
    int currentSegment = -1;
    int wastedTime = 0;
    bool moveNext = false;
    std::vector<double> segmentTimes;
    std::vector<int> segmentIndexes;
    uint64_t lastStepChange = UINT64_MAX;
};

// Step texts of the motion flows.
extern const char* const Z_UP_Y_NORTH;
extern const char* const Z_UP_Y_WEST;
extern const char* const Z_UP_Y_SOUTH;
extern const char* const Z_UP_Y_EAST;
extern const char* const Y_UP_Z_SOUTH;
extern const char* const X_UP_Z_SOUTH;
extern const char* const Y_DOWN_Z_SOUTH;
extern const char* const CCV_360_Z;
extern const char* const CCV_360_Y;
extern const char* const CCV_360_X;
extern const char* const Z_UP;
extern const char* const X_DOWN;
extern const char* const Y_UP;
extern const char* const Z_UP_TURNED;
extern const char* const CCV_90_Y;
extern const char* const CCV_90_Z;
extern const char* const CV_90_X;

// Accelerometer, gyroscope and magnetometer calibration and testing: the script
// ends each step itself once the device has been held still long enough.
class NewMotionProcess : public Process {
public:
    explicit NewMotionProcess(CalibrationFlowType flowType) { flow = flowType; }

    std::string getStepInstructions(bool noPrompt) override;
    bool inputRequired() override { return currentStaticStep == 0; }
    std::string getInput() override;
    void initNumOfSteps() override;
    void CalibrationControl(SensorData& sample) override;
    bool isStageIndicator(const std::shared_ptr<Sensor>& sensor) override;
    std::vector<std::string> getIndicatorNames() override;
    bool setIndicator(std::shared_ptr<Sensor> sensor) override;
    void initProcess() override;

    // The full flow's turns are checked as each ends: the device turned about
    // the axis that points up (the accelerometer sees gravity stay), not too
    // fast for the gyroscope, and all the way round (a magnetometer reads what
    // it read in the hold before the turn). The magnetometer is the bound one,
    // or one recorded for this alone.
    void setTurnWatch(std::shared_ptr<InertialSensor> watch) { turnWatch = std::move(watch); }
    // Whether a magnetometer can tell a turn that stopped short.
    bool canCheckTurnEnds() const { return turnWatch || magnetometer; }
    bool fillProgress(StepProgress& progress) override;
    std::string stallCause() override;
    void recordingEnded() override;
    // Calibrations: a hold runs on until its samples can promise the
    // records of these sensors their flow's tolerance for the noise they
    // show, at most kLongestHoldMs, and the status line says why. Live, a
    // move before then asks for the hold again; a recorded hold ends where
    // it ended.
    void holdForNoise(std::vector<std::shared_ptr<InertialSensor>> sensors, bool live) {
        noiseHolders = std::move(sensors);
        liveHolds = live;
    }
    static constexpr double kLongestHoldMs = 15000.0;

    // Limits of the turn checks.
    static constexpr double kTurnEndTolerance = 5.0;  // degrees off where the turn started
    static constexpr double kTurnTiltLimit = 45.0;    // degrees gravity may move in the device
    static constexpr double kFastestTurn = 1000.0;    // degrees per second
    // Reports missing for longer than this during a turn leave too much of
    // it to guess (milliseconds); shorter gaps are bridged.
    static constexpr double kLongestGap = 200.0;
    // Below this the field barely moves in a turn (it lies along the turn's
    // axis) and tells nothing of where the turn ended.
    static constexpr double kLeastTurnCircle = 20.0;  // the circle's diameter, in the field's unit

private:
    std::shared_ptr<InertialSensor> accelerometer;
    std::shared_ptr<InertialSensor> gyroscope;
    std::shared_ptr<InertialSensor> magnetometer;
    std::shared_ptr<InertialSensor> turnWatch;
    // What the sensors read in the hold before the current turn, and when it ended.
    Vector holdField;
    // How far the hold's median of the field may be off for its noise.
    double holdFieldError = 0.0;
    Vector holdGravity;
    Vector holdRate;
    double turnStart = 0.0;
    // A step failed its checks: later samples change nothing.
    bool stepFailed = false;
    // Where the step in progress began (the last step's end), and the
    // gyroscope's rate at rest then, for the turn so far.
    double progressStart = -1.0;
    Vector progressRate;

    // The turn the step in progress asks for: the device axis, its sense
    // (+1 counterclockwise) and how far; false when the step has none.
    bool stepTurn(int step, int& axis, double& sense, double& degrees) const;
    // How far the device has turned about the axis since the step began.
    double turnedSoFar(int axis, double sense);
    std::vector<std::string> positions;
    std::vector<std::string> moves;
    int detectState = 0;
    double lastChangeTime = 0.0;
    double extraGuard = 100.0;
    double lastMotionCheck = 0.0;
    bool firstSample = true;
    uint64_t motionCheckInterval = 1;

    bool isMotionless();
    // The device is still, and has been for as long as the noise of the
    // sensors held for needs (or the longest hold).
    bool heldLongEnough(double t);
    // How long the hold in progress must last for the noise (ms), and the
    // sensor that needs it most.
    double holdNeeded(std::string& sensor);
    std::vector<std::shared_ptr<InertialSensor>> noiseHolders;
    // Where the hold running on for the noise began (below 0: none), and
    // what the status line says of it.
    double stillSince = -1.0;
    std::string holdNote;
    bool liveHolds = true;
    // The last time the device was seen still, and where the hold that
    // heldLongEnough saw end ended.
    double lastStill = 0.0, endOfHold = 0.0;
    void updateStep(double t);
    // The hold that ended at t ends its step.
    void holdEnded(double t);
    void improveSegmentation();
    // The checks of the turn that the hold ending at t followed (step s).
    void checkTurn(int s, double t);
    // What the readings of a turn that ended (step s, its hold ending at t)
    // tell of the parts and the stream: no sensor stuck at the end of its
    // range, no long stretch without the gyroscope's reports.
    void checkReadings(int s, double t);
    // The median of a sensor's last second, or an empty vector before it has any.
    static Vector recentMedian(InertialSensor& sensor);
};

// The magnetic environment test: the operator ends each step with Enter.
class PreTestProcess : public Process {
public:
    PreTestProcess();

    std::string getStepInstructions(bool noPrompt) override;
    bool getNeedMidCalc() override { return needMidCalc; }
    bool inputRequired() override { return waitingForStart; }
    std::string getInput() override;
    void initNumOfSteps() override { staticStatesNumber = 4; }
    void CalibrationControl(SensorData& /*sample*/) override {}
    bool isStageIndicator(const std::shared_ptr<Sensor>& sensor) override;
    void setMoveNext() override { moveNext = true; }
    std::vector<std::string> getIndicatorNames() override { return {"Magnetometer"}; }
    bool isExternal() override { return true; }
    bool setIndicator(std::shared_ptr<Sensor> sensor) override;

private:
    std::shared_ptr<Sensor> indicator;
    bool waitingForStart = true;
    bool needMidCalc = false;
};

extern std::vector<std::string> preTestStrings;

// Ambient light calibration: one step per light level, ended once the light is stable.
class AlsProcess : public Process {
public:
    // The light script counts recorded levels from -1 (none yet): it is done
    // once the last level is recorded.
    bool isDone() const override { return currentSegment + 1 >= staticStatesNumber; }
    explicit AlsProcess(bool manualMode);

    void readConfiguration(const std::string& path) override;
    std::string getStepInstructions(bool noPrompt) override;
    bool isManual() override { return manual; }
    bool inputRequired() override { return true; }
    std::string getInput() override;
    void initNumOfSteps() override;
    void CalibrationControl(SensorData& sample) override;
    bool isStageIndicator(const std::shared_ptr<Sensor>& sensor) override;
    std::vector<std::string> getIndicatorNames() override { return {"AmbientLightSensor"}; }
    bool setIndicator(std::shared_ptr<Sensor> sensor) override;
    bool fillProgress(StepProgress& progress) override;
    // Gives the configured light levels to the light sensor (a dump replay).
    void setInputs(const std::shared_ptr<Sensor>& sensor);
    const AlsConfiguration& getConfiguration() const { return configuration; }

private:
    std::shared_ptr<AmbientLight> indicator;
    AlsConfiguration configuration;
    bool manual;
    int previousLevel = 0;
    bool ascending = false;
    int windowCount = 0;
    int unstableCount = 0;
    int noChangeCount = 0;
    int indexOffset = 20;
    bool changeDetected = false;
    int maxNoChangeSeconds = 5;
    int stabilityWindow = 0;  // the samples the last stability check looked at

    int validateLevel(int level);
};
