#include "CalibrationManager.h"

#include <sys/stat.h>

#include <iostream>

#include "Console.h"
#include "Exceptions.h"
#include "Sensor.h"

CalibrationManager::CalibrationManager(const CmdLineArguments& arguments) : args(arguments) {
    if (args.ArgExists("ExportAllFiles")) {
        exportAll = true;
        exportFolder = args.GetArgValue("ExportAllFiles");
        // An existing folder is fine; a failure shows at the first file written.
        mkdir(exportFolder.c_str(), 0775);
        exportFolder += "/";
    }
}

void CalibrationManager::start() {
    const bool exportXml = args.ArgExists("ExportXml");
    const bool importXml = args.ArgExists("ImportXml");
    const bool calibrate = args.ArgExists("Calibrate") || args.ArgExists("CalibrateOffline");
    const bool test = args.ArgExists("TestCalibration") || args.ArgExists("MagTest");
    const bool update = args.ArgExists("UpdateTSY") || importXml;
    if (calibrate || test)
        return;  // calibration and test runs are not part of this tool yet

    initPhysicalSensors();
    // Loading the firmware records also merges an imported white noise into the
    // dynamic record it belongs to, so it is done for both XML commands.
    if (exportXml || importXml)
        loadSensorsData();
    if (exportXml) {
        const std::string path = args.GetArgValue("ExportXml");
        std::cout << "Saving original calibration data to file " << path << std::endl;
        saveToFile(path, true);
    }
    if (update) {
        std::cout << "Saving calibration data to FW" << std::endl;
        flushCalibrationData();
    }
    setColor(green);
    std::cout << "Completed successfully" << "\n";
    resetColor();
    std::cout.flush();
}

void CalibrationManager::abort() {}

void CalibrationManager::initPhysicalSensors() {
    const std::vector<_sc_sensor_luid> luids = sdt.enumerateSensors();
    if (!args.ArgExists("ImportXml")) {
        for (const _sc_sensor_luid& luid : luids)
            if (std::shared_ptr<Sensor> sensor = Sensor::allocateSensor(luid))
                sensors.push_back(sensor);
        return;
    }
    sensors = sdt.deSerialize(args.GetArgValue("ImportXml"));
    for (const std::shared_ptr<Sensor>& sensor : sensors) {
        bool found = false;
        for (const _sc_sensor_luid& luid : luids)
            found = found || luidToString(luid) == sensor->getLuidString();
        if (found)
            continue;
        const std::string name = sensor->getName();
        if (!sensor->getBaseName().empty())
            throw CalibrationException("A matching " + name +
                                       " physical sensor was not found on the platform in order to write the "
                                       "calibration data of " +
                                       sensor->getLuidString());
        throw CalibrationException("A matching physical sensor was not found for writing the calibration data of " +
                                   sensor->getLuidString());
    }
}

void CalibrationManager::loadSensorsData() {
    std::cout << "Loading calibration data from FW, this might take a while..." << std::endl;
    for (const std::shared_ptr<Sensor>& sensor : sensors) {
        try {
            sensor->initSDTCalibrationData();
        } catch (const SmhiException&) {
            // No record on the firmware (or no answer): the sensor keeps none.
        } catch (const CalibrationException&) {
            // A record that does not fit the sensor is not kept.
        }
    }
}

void CalibrationManager::saveToFile(const std::string& path, bool firmwareRecords) {
    sdt.serialize(path, sensors, firmwareRecords);
}

void CalibrationManager::flushCalibrationData() {
    for (const std::shared_ptr<Sensor>& sensor : sensors)
        sdt.setCalibrationData(sensor);
    sdt.resetTsy();
}
