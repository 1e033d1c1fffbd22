// Runs one job of the calibration tool, from the accepted command line to the verdict.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SDT.h"
#include "cmdline/CmdLineArguments.h"

class Sensor;

class CalibrationManager {
public:
    explicit CalibrationManager(const CmdLineArguments& arguments);

    // Runs the whole job; failures are thrown after they have been reported.
    void start();
    // Called from the interrupt handler: stops live sampling and writes the data
    // collected so far.
    void abort();
    // Whole seconds the run spent waiting for the operator.
    long long getUserDelays() const { return userDelays; }

    // The firmware records (firmwareRecords) or the new ones of every sensor, as calibration XML.
    void saveToFile(const std::string& path, bool firmwareRecords);
    // Writes every new record to the firmware, then resets the hub.
    void flushCalibrationData();

private:
    std::vector<std::shared_ptr<Sensor>> sensors;
    std::vector<std::shared_ptr<Sensor>> calibratingSensors;
    SDT sdt;
    CmdLineArguments args;
    std::string exportFolder;
    bool exportAll = false;
    long long userDelays = 0;
    std::mutex stateLock;
    std::mutex dumpLock;

    void initPhysicalSensors();
    void loadSensorsData();
};
