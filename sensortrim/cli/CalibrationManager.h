// Runs one job of the calibration tool, from the accepted command line to the verdict.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CsvParser.h"
#include "Matrix.h"
#include "Process.h"
#include "ProcessTypes.h"
#include "SDT.h"
#include "SensorManager.h"
#include "cmdline/CmdLineArguments.h"

class Sensor;
class InertialSensor;
class Gyroscope;

class CalibrationManager {
public:
    // Every firmware exchange of the run goes through device.
    CalibrationManager(const CmdLineArguments& arguments, std::shared_ptr<SDT> device);

    // Runs the whole job; failures are thrown after they have been reported.
    void start();
    // Called from the interrupt handler: stops live sampling and writes the data
    // collected so far. Never blocks on a lock the interrupted thread holds.
    void abort();
    // Whole seconds the run spent waiting for the operator.
    long long getUserDelays() const { return userDelays; }

    void stopSampling();
    void writeLog();
    std::string getResults();
    // The firmware records (firmwareRecords) or the new ones of every sensor, as calibration XML.
    void saveToFile(const std::string& path, bool firmwareRecords);
    void writeDump();
    // Writes every new record to the firmware, then resets the hub.
    void flushCalibrationData();
    void calibrateAll();
    void checkCalibration();
    void testAll();
    // The record of how a run that did not pass ended ("failed" or
    // "interrupted"), with its reason, written as "runEnd.xml" into the
    // export folder (nothing without one).
    void recordEnd(const std::string& verdict, const std::string& reason);
    // The file the records of a calibration the hub did not take are kept in.
    static constexpr const char* kUnwrittenRecords = "unwrittenCalibration.xml";
    // The step data collection is in, as the console numbers them (0: none).
    int stepInProgress() const;
    // The run log's name of the kind of run ("NewMotionFull", "Als", ...).
    std::string runType() const;
    // Writes the text to "error.log" in the export folder (nothing without one).
    void writeErrorLog(const std::string& text);
    void magTest();
    bool TestMultipleSensors(bool a, bool g, bool m);
    double findDiffGyro(const std::shared_ptr<InertialSensor>& gyroscope, const std::shared_ptr<InertialSensor>& sensor,
                        const Matrix& rotation);

    SensorManager& getSensorManager() { return sensorManager; }
    const std::vector<std::shared_ptr<Sensor>>& getSensors() const { return sensors; }
    const std::vector<std::shared_ptr<Sensor>>& getCalibratingSensors() const { return calibratingSensors; }

private:
    std::vector<std::shared_ptr<Sensor>> sensors;
    std::vector<std::shared_ptr<Sensor>> calibratingSensors;
    std::map<std::shared_ptr<Sensor>, std::shared_ptr<Sensor>> dynamicMap;
    std::shared_ptr<SDT> sdt;
    std::shared_ptr<Process> process;
    CmdLineArguments args;
    SensorManager sensorManager;
    ProcessType processType = PROCESS_NONE;
    CsvParser csvParser;
    std::string exportFolder;
    bool exportAll = false;
    CalibrationFlowType flowType = FLOW_FULL;
    bool calibrate = false;
    bool test = false;
    bool magTestRun = false;
    bool errorLogWritten = false;
    bool resultWritten = false;
    // Where the records the hub did not take were kept ("" when none were).
    std::string unwrittenKept;
    // The export folder is ready for this run's files (an earlier run's moved aside).
    bool exportPrepared = false;
    // Data collection is under way; the step it failed in, as the console
    // numbers them (0: not in one).
    bool collecting = false;
    int endStep = 0;
    int samplingState = -1;
    long long userDelays = 0;
    std::mutex stateLock;
    std::mutex dumpLock;
    bool selectA = false;
    bool selectG = false;
    bool selectM = false;
    // Recorded with the run, never calibrated: the accelerometer that marks
    // the steps when no selected sensor can, and the magnetometer that checks
    // the full flow's turns when it is not selected itself.
    std::shared_ptr<Sensor> stepMarker;
    std::shared_ptr<Sensor> turnWatch;

    // Makes the export folder and moves an earlier run's files out of it.
    void initExportFolder();
    // Removes the result file this run wrote, once the run has failed.
    void removeResult();
    // Saves the new records as kUnwrittenRecords after a failed write to the hub.
    void keepUnwrittenRecords();
    void initType();
    void initPhysicalSensors();
    void initOfflineSensors();
    void initCalibratingSensors();
    void initDynamicMap();
    void initRecordedSensors();
    // Gives a live calibration's script the sensors whose noise its holds
    // wait for, and the full flow's the magnetometer that checks its turns,
    // or says that the turns cannot be checked.
    void setUpStepChecks();
    // The platform's primary sensor of that name (live), or one made up for
    // its dump in the dump folder (offline); none when there is neither.
    std::shared_ptr<Sensor> recordedSensor(const std::string& name, uint16_t offlineType);
    void loadSensorsData();
    void collectData();
    std::string dumpPath() const;
    std::string dumpPrefix() const;
    std::shared_ptr<Sensor> findCalibrating(const std::string& name) const;
    // The gyroscope's step rotations against the sensor's change of direction
    // between consecutive still steps (means less center), logged on the gyroscope.
    bool compareRotations(Gyroscope& gyroscope, InertialSensor& sensor, const Vector& center, const std::string& pair,
                          const std::string& testName, const std::string& anglesComment, double threshold);
    // The steps whose turns disagreed, as the test failure names them.
    std::vector<std::string> rotationFailures;
};

// Spread of the angle between the magnetometer's and the accelerometer's
// calibrated step means, in degrees; 0 when either is missing.
double FindDipAngle(const std::shared_ptr<InertialSensor>& magnetometer,
                    const std::shared_ptr<InertialSensor>& accelerometer);
