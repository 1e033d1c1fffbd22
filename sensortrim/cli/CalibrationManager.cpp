// Runs one job of the calibration tool: the run's set-up (kind of run, sensors,
// firmware records), its course, and starting, stopping and interrupting the
// recording. Data collection, the calibration and test verdicts and the run's
// files are in files of their own.
#include "CalibrationManager.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "AmbientLight.h"
#include "CalibrationXml.h"
#include "Console.h"
#include "Exceptions.h"
#include "ExportFolder.h"
#include "FileUtil.h"
#include "InertialSensor.h"
#include "Interrupt.h"
#include "PNRRecord.h"
#include "Process.h"
#include "RunHelpers.h"
#include "Sensor.h"

CalibrationManager::CalibrationManager(const CmdLineArguments& arguments, std::shared_ptr<SDT> device)
    : sdt(std::move(device)), args(arguments) {
    sensorManager.setDevice(sdt);
    if (args.ArgExists("ExportAllFiles")) {
        exportAll = true;
        exportFolder = args.GetArgValue("ExportAllFiles");
        // The folder is made (parents too) when the run starts.
        exportFolder += "/";
    }
}

std::string CalibrationManager::dumpPath() const {
    return args.GetArgValue("UseRawData");
}

std::string CalibrationManager::dumpPrefix() const {
    if (validateExtension(dumpPath(), "csv"))
        return "";
    return args.ArgExists("DumpPrefix") ? args.GetArgValue("DumpPrefix") : "dataDump";
}

void CalibrationManager::start() {
    const bool exportXml = args.ArgExists("ExportXml");
    const bool importXml = args.ArgExists("ImportXml");
    magTestRun = args.ArgExists("MagTest");
    const bool offline = args.ArgExists("CalibrateOffline");
    calibrate = args.ArgExists("Calibrate") || offline;
    test = args.ArgExists("TestCalibration") || magTestRun;
    const bool useRawData = args.ArgExists("UseRawData");
    const bool testFromDump = test && useRawData;
    const bool update = args.ArgExists("UpdateTSY") || importXml;
    if (exportAll && !exportPrepared)
        initExportFolder();

    if (calibrate || test)
        initType();
    if (offline || testFromDump)
        initOfflineSensors();
    else
        initPhysicalSensors();
    if (calibrate || test) {
        initCalibratingSensors();
        if (calibrate)
            initDynamicMap();
        initRecordedSensors();
    }
    // Loading the firmware records also merges an imported white noise into the
    // dynamic record it belongs to, so it is done for both XML commands.
    if (exportXml || importXml || (calibrate && !offline))
        loadSensorsData();
    // An imported light multiplier without steps of its own goes into the
    // sensor's record on the firmware: without one there is nothing to write.
    if (importXml)
        for (const std::shared_ptr<Sensor>& sensor : sensors)
            if (const auto light = std::dynamic_pointer_cast<AmbientLight>(sensor))
                if (light->awaitsFirmwareRecord())
                    throw CalibrationException("The light calibration of " + sensor->getLuidString() +
                                               " is a multiplier without light steps, and the sensor has no "
                                               "calibration record on the device to apply it to");
    // A live test reads no records, but the lid's expected gravity still
    // depends on where its hinge is.
    if (test && !useRawData && processType == PROCESS_CALIBRATION_TEST)
        for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
            if (!sensor->isPrimary() && sensor->getBaseName() == "Accelerometer")
                sensor->setHinge(sdt->getConnectionHinge());
    if (processType != PROCESS_NONE) {
        sensorManager.setSensors(calibratingSensors);
        sensorManager.setStepMarker(stepMarker);
        sensorManager.setType(process);
        if (turnWatch)
            sensorManager.addWatcher(turnWatch);
        setUpStepChecks();
    }
    if ((calibrate || test) && !useRawData) {
        // The recorder keeps a connection of its own while it records.
        sensorManager.setLiveSampler(std::unique_ptr<LiveSampler>(new PNRRecord(makeDeviceTransport())));
        sensorManager.initializeSampling();
    }
    if (exportXml || (calibrate && !offline)) {
        if (exportAll) {
            consoleOut() << "Saving original calibration data to file " << exportFolder << "currentCalibration.xml"
                      << std::endl;
            saveToFile(exportFolder + "currentCalibration.xml", true);
        } else if (exportXml) {
            consoleOut() << "Saving original calibration data to file " << args.GetArgValue("ExportXml") << std::endl;
            saveToFile(args.GetArgValue("ExportXml"), true);
        }
        // What the firmware holds is saved; what would not come back in, and
        // what could not be saved, is said.
        for (const std::shared_ptr<Sensor>& sensor : sensors) {
            if (!sensor->getExportProblem().empty())
                consoleOut() << "Warning: the calibration data of " << sensor->getName() << " "
                             << sensor->getLuidString() << " is saved as the firmware holds it but will not "
                             << "import back: " << sensor->getExportProblem() << std::endl;
            if (!sensor->getUnsavedReason().empty())
                consoleOut() << "Warning: the calibration data of " << sensor->getName() << " "
                             << sensor->getLuidString() << " is not saved: " << sensor->getUnsavedReason()
                             << std::endl;
        }
    }
    try {
        if (calibrate || test) {
            collecting = true;
            collectData();
            collecting = false;
            interrupt::check();
            consoleOut() << "data collection finished" << std::endl;
            if (calibrate)
                calibrateAll();
            else if (magTestRun)
                magTest();
            else
                testAll();
        }
        if (exportAll && calibrate) {
            consoleOut() << "Saving calibration data to file " << exportFolder << "resultCalibration.xml" << std::endl;
            resultWritten = true;
            saveToFile(exportFolder + "resultCalibration.xml", false);
        }
        if (update) {
            consoleOut() << "Saving calibration data to FW" << std::endl;
            try {
                flushCalibrationData();
            } catch (const std::exception&) {
                keepUnwrittenRecords();
                throw;
            }
        }
    } catch (const CalibrationException& e) {
        if (collecting)
            endStep = stepInProgress();
        collecting = false;
        removeResult();
        // A test that fails before its verdict (a short dump, say) still
        // leaves its reason in error.log.
        if ((test || magTestRun) && !errorLogWritten)
            writeErrorLog(std::string(e.what()) + "\n");
        setColor(red);
        consoleOut() << (test || magTestRun ? "TEST FAILED\n" : "CALIBRATION FAILED\n");
        resetColor();
        console().flush();
        if (process)
            process->restart();
        writeDump();
        throw;
    } catch (...) {
        if (collecting)
            endStep = stepInProgress();
        collecting = false;
        // Not the records of a run that failed, whatever failed it; and
        // what was recorded is kept (an interrupted run's by its ending).
        removeResult();
        if (interrupt::requested())
            throw;
        try {
            writeDump();
        } catch (const CalibrationException&) {
        }
        throw;
    }
    writeDump();
    if (calibrate || magTestRun)
        consoleOut() << getResults();
    setColor(green);
    consoleOut() << (calibrate ? "Calibration process completed successfully" : "Completed successfully") << "\n";
    resetColor();
    console().flush();
}

void CalibrationManager::initType() {
    std::string value;
    if (args.ArgExists("Calibrate"))
        value = args.GetArgValue("Calibrate");
    else if (args.ArgExists("CalibrateOffline"))
        value = args.GetArgValue("CalibrateOffline");
    else if (args.ArgExists("TestCalibration"))
        value = args.GetArgValue("TestCalibration");
    if (!args.ArgExists("Calibrate") && !args.ArgExists("CalibrateOffline") && !args.ArgExists("TestCalibration")) {
        if (magTestRun) {
            processType = PROCESS_MAGNETIC_TEST;
            process = std::make_shared<PreTestProcess>();
            process->initNumOfSteps();
        } else {
            processType = PROCESS_NONE;
        }
        return;
    }
    processType = args.ArgExists("TestCalibration") ? PROCESS_CALIBRATION_TEST : PROCESS_INERTIAL_CALIBRATION;
    const std::string lower = toLowerCase(value);
    selectA = lower.find('a') != std::string::npos;
    selectG = lower.find('g') != std::string::npos;
    selectM = lower.find('m') != std::string::npos;
    if (lower == "motion")
        selectA = selectG = selectM = true;
    if (lower == "als") {
        processType = PROCESS_ALS_CALIBRATION;
        if (!args.ArgExists("Auto")) {
            process = std::make_shared<AlsProcess>(true);
        } else {
            process = std::make_shared<AlsProcess>(false);
            process->readConfiguration(args.GetArgValue("Auto"));
        }
    } else {
        flowType = args.ArgExists("Minimal")           ? FLOW_MINIMAL
                   : args.ArgExists("FourSteps")       ? FLOW_FOUR_STEPS
                   : args.ArgExists("MagAccuracyTest") ? FLOW_MAG_FOUR_STEPS
                                                       : FLOW_FULL;
        process = std::make_shared<NewMotionProcess>(flowType);
        process->setType(processType);
    }
    process->initNumOfSteps();
}

void CalibrationManager::initPhysicalSensors() {
    const std::vector<_sc_sensor_luid> luids = sdt->enumerateSensors();
    if (!args.ArgExists("ImportXml")) {
        for (const _sc_sensor_luid& luid : luids)
            if (std::shared_ptr<Sensor> sensor = Sensor::allocateSensor(luid))
                sensors.push_back(sensor);
        return;
    }
    sensors = CalibrationXml::deSerialize(args.GetArgValue("ImportXml"));
    for (const std::shared_ptr<Sensor>& sensor : sensors) {
        bool found = false;
        for (const _sc_sensor_luid& luid : luids)
            found = found || luidToString(luid) == sensor->getLuidString();
        if (found)
            continue;
        if (!sensor->getBaseName().empty())
            throw CalibrationException("A matching " + sensor->getName() +
                                       " physical sensor was not found on the platform in order to write the "
                                       "calibration data of " +
                                       sensor->getLuidString());
        throw CalibrationException("A matching physical sensor was not found for writing the calibration data of " +
                                   sensor->getLuidString());
    }
}

void CalibrationManager::initOfflineSensors() {
    auto made = [this](uint16_t type, uint8_t instance) {
        sensors.push_back(Sensor::allocateSensor(_sc_sensor_luid{type, 0, 0, instance, 2}));
    };
    if (processType == PROCESS_INERTIAL_CALIBRATION || processType == PROCESS_CALIBRATION_TEST) {
        if (selectA) {
            made(115, 0);
            if (CsvParser::dumpExists(dumpPath(), dumpPrefix(), "Accelerometer_2") && !args.ArgExists("PrimaryOnly"))
                made(115, 1);
        }
        if (selectG)
            made(118, 0);
        if (selectM)
            made(527, 0);
    } else if (processType == PROCESS_ALS_CALIBRATION) {
        made(65, 0);
    } else {
        made(527, 0);
    }
}

void CalibrationManager::initCalibratingSensors() {
    const bool offline = args.ArgExists("CalibrateOffline");
    const bool readsDump = args.ArgExists("UseRawData") && !offline;
    const bool testFromDump = test && args.ArgExists("UseRawData");
    for (const std::shared_ptr<Sensor>& sensor : sensors) {
        const bool eligible = (calibrate && sensor->getCanCalibrate() && sensor->getCanCalibrate(processType)) ||
                              (test && sensor->goodForTesting());
        if (!eligible)
            continue;
        const std::string name = sensor->getName();
        if (!sensor->isPrimary() && readsDump && !CsvParser::dumpExists(dumpPath(), dumpPrefix(), name))
            continue;
        bool take = false;
        if (processType == PROCESS_ALS_CALIBRATION) {
            take = true;
        } else if (processType == PROCESS_MAGNETIC_TEST) {
            take = name == "Magnetometer";
        } else {
            bool secondAccelerometer = false;
            if (name == "Accelerometer_2" && selectA && !args.ArgExists("PrimaryOnly")) {
                secondAccelerometer = true;
                if (!offline && !testFromDump && sdt->getFormFactor() == 3) {
                    consoleOut() << "Not support 2nd acc for tablet form factor, please check PDT hinge configuration!"
                              << std::endl;
                    secondAccelerometer = false;
                }
            }
            take = (name == "Magnetometer" && selectM) || (name == "Accelerometer" && selectA) ||
                   secondAccelerometer || (name == "Gyroscope" && selectG);
        }
        if (!take)
            continue;
        if (name == "Gyroscope" && selectG && args.ArgExists("NoGyroRotation"))
            sensor->setRemoveRotation(true);
        if (args.ArgExists("CheckVsOriginalAxis"))
            sensor->SetNeedCheckAxisMappingVsOrig(true);
        calibratingSensors.push_back(sensor);
    }
    if (calibratingSensors.empty())
        throw CalibrationException("No sensors to calibrate could be found");
}

void CalibrationManager::initDynamicMap() {
    if (processType != PROCESS_INERTIAL_CALIBRATION || flowType == FLOW_MINIMAL)
        return;
    for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
        for (const std::shared_ptr<Sensor>& candidate : sensors) {
            const _sc_sensor_luid& c = candidate->getLuid();
            if (candidate != sensor && c.flags != 0 && c.vendorId == 0 &&
                c.sensorType == sensor->getLuid().sensorType && c.instance == 0 && sensor->getLuid().instance == 0)
                dynamicMap[sensor] = candidate;
        }
}

std::shared_ptr<Sensor> CalibrationManager::recordedSensor(const std::string& name, uint16_t offlineType) {
    if (!args.ArgExists("UseRawData")) {
        for (const std::shared_ptr<Sensor>& sensor : sensors)
            if (sensor->getName() == name && sensor->isPrimary())
                return sensor;
        return nullptr;
    }
    if (!CsvParser::dumpExists(dumpPath(), dumpPrefix(), name))
        return nullptr;
    // Its LUID comes from the dump, as for the run's own sensors.
    return Sensor::allocateSensor(_sc_sensor_luid{offlineType, 0, 0, 0, 2});
}

void CalibrationManager::initRecordedSensors() {
    if (processType != PROCESS_INERTIAL_CALIBRATION && processType != PROCESS_CALIBRATION_TEST)
        return;
    auto selected = [this](const std::string& name) {
        for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
            if (sensor->getName() == name && sensor->isPrimary())
                return true;
        return false;
    };
    // Every flow but the magnetometer's is marked by the accelerometer's
    // holds and moves: without one selected, the platform's (or the dump's)
    // marks the steps.
    if (flowType != FLOW_MAG_FOUR_STEPS && !selected("Accelerometer")) {
        stepMarker = recordedSensor("Accelerometer", 115);
        if (!stepMarker && flowType != FLOW_MINIMAL) {
            if (args.ArgExists("UseRawData"))
                throw CalibrationException("No Accelerometer dump in " + dumpPath() +
                                           ": the Accelerometer marks the steps of this calibration process");
            throw CalibrationException("Could not locate sensor Accelerometer for sampling. Accelerometer is "
                                       "mandatory for this calibration process");
        }
    }
    // The full flow's turns are checked against the magnetometer: after a
    // full turn it reads what it read before.
    if (flowType == FLOW_FULL && (selectG || selectM) && !selected("Magnetometer"))
        turnWatch = recordedSensor("Magnetometer", 527);
}

void CalibrationManager::setUpStepChecks() {
    const auto script = std::dynamic_pointer_cast<NewMotionProcess>(process);
    // A calibration holds each position as long as its parts' noise needs,
    // live; a dump's holds are what they are, and its steps end as the live
    // run's did.
    if (script && processType == PROCESS_INERTIAL_CALIBRATION) {
        std::vector<std::shared_ptr<InertialSensor>> holders;
        for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
            if (auto inertial = std::dynamic_pointer_cast<InertialSensor>(sensor))
                holders.push_back(inertial);
        script->holdForNoise(holders, !args.ArgExists("UseRawData"));
    }
    // The script knows its flow once its indicators are bound.
    if (!script || script->GetCalibrationFlow() != FLOW_FULL)
        return;
    if (turnWatch)
        script->setTurnWatch(std::dynamic_pointer_cast<InertialSensor>(turnWatch));
    if (!script->canCheckTurnEnds())
        consoleOut() << "No magnetometer to check the turns with: turn exactly 360 degrees" << std::endl;
}

void CalibrationManager::loadSensorsData() {
    const bool backup = args.ArgExists("ExportXml") || args.ArgExists("ImportXml");
    auto read = [this, backup](const std::shared_ptr<Sensor>& sensor) {
        // No record on the firmware (or no answer): the sensor keeps none. A
        // record that does not fit its sensor fails a run that would use it;
        // a backup keeps it as the firmware holds it, so one odd record costs
        // no other sensor its backup, and a backup restored replaces it.
        // A backup names every sensor whose record the firmware holds but
        // it could not read.
        try {
            sensor->initSDTCalibrationData(*sdt);
        } catch (const SmhiAnswerException& e) {
            if (backup)
                sensor->setUnsavedReason(e.what());
        } catch (const SmhiException&) {
        } catch (const CalibrationException& e) {
            if (!backup)
                throw;
            try {
                sensor->keepFirmwareRecord(sdt->getCalibrationData(sensor->getLuid()), e.what());
            } catch (const std::exception& again) {
                sensor->setUnsavedReason(std::string(e.what()) + "; read again: " + again.what());
            }
        }
    };
    if (args.ArgExists("ExportXml") || args.ArgExists("ImportXml")) {
        consoleOut() << "Loading calibration data from FW, this might take a while..." << std::endl;
        for (const std::shared_ptr<Sensor>& sensor : sensors)
            read(sensor);
        return;
    }
    for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
        read(sensor);
    // The sensors recorded alongside are recorded raw like the others.
    for (const std::shared_ptr<Sensor>& sensor : {stepMarker, turnWatch})
        if (sensor)
            read(sensor);
    if (processType == PROCESS_INERTIAL_CALIBRATION && flowType != FLOW_MINIMAL)
        for (const auto& entry : dynamicMap)
            read(entry.second);
}

void CalibrationManager::stopSampling() {
    // Not stopped by Ctrl-C halfway through stopping the recorder: its thread
    // would never be joined (see abort).
    const InterruptsHeld held;
    std::lock_guard<std::mutex> lock(stateLock);
    if (samplingState == 1)
        return;
    samplingState = 1;
    try {
        sensorManager.stopSampling();
    } catch (const std::exception& e) {
        throw CalibrationException(e.what());
    }
}

void CalibrationManager::writeDump() {
    if (!exportAll || args.ArgExists("UseRawData"))
        return;
    // Ctrl-C stops the thread it lands on where it is: not while it holds the
    // dump lock, so that an interrupt can wait for the dump being written.
    const InterruptsHeld held;
    std::unique_lock<std::mutex> lock(dumpLock);
    if (samplingState == 2)
        return;
    samplingState = 2;
    // Nothing was sampled: there is no dump to save, and none is announced.
    if (!sensorManager.hasSamples())
        return;
    consoleOut() << "Saving data dump to file " << exportFolder << "dataDump" << std::endl;
    csvParser.writeToFile(exportFolder + "dataDump" + ".csv", sensorManager.getDataDump());
}

void CalibrationManager::abort() {
    // The run may be starting or stopping the recorder right now, with Ctrl-C
    // held back until it is done: a stop ends once the firmware has answered
    // it (after the reports still queued) or has been silent for the
    // recorder's time-out, and the process must not end with the recorder's
    // thread not yet joined. The wait is bounded all the same.
    std::unique_lock<std::mutex> lock(stateLock, std::try_to_lock);
    for (int waited = 0; !lock.owns_lock() && waited < 20000; waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lock.try_lock();
    }
    if (samplingState == -1)
        return;
    if (samplingState == 0) {
        samplingState = 1;
        try {
            sensorManager.stopSampling();
        } catch (const std::exception&) {
        }
    }
    // A dump the run is writing right now is finished first (the process
    // ends after this): the writer holds the lock only for the write.
    std::unique_lock<std::mutex> dump(dumpLock);
    if (samplingState == 2 || !exportAll || args.ArgExists("UseRawData"))
        return;
    samplingState = 2;
    if (!sensorManager.hasSamples())
        return;
    consoleOut() << "Saving data dump to file " << exportFolder << "dataDump" << std::endl;
    try {
        csvParser.writeToFile(exportFolder + "dataDump" + ".csv", sensorManager.getDataDump());
    } catch (const std::exception&) {
    }
}
