#include "CalibrationManager.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <ctime>
#include <fstream>
#include <thread>

#include "CalibrationXml.h"
#include "Console.h"
#include "Exceptions.h"
#include "FileUtil.h"
#include "Gyroscope.h"
#include "InertialSensor.h"
#include "Magnetometer.h"
#include "PNRRecord.h"
#include "Sensor.h"
#include "Statistics.h"
#include "TestingThresholds.h"
#include "version/Version.h"

namespace {

const double kRadToDeg = 57.29577951308232;

// SIGINT held back for the calling thread while the object lives.
class InterruptsHeld {
public:
    InterruptsHeld() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        pthread_sigmask(SIG_BLOCK, &set, &previous);
    }
    ~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

private:
    sigset_t previous;
};

const char* const kVersion = TESSARY_VERSION;

std::shared_ptr<InertialSensor> inertial(const std::shared_ptr<Sensor>& sensor) {
    return std::dynamic_pointer_cast<InertialSensor>(sensor);
}

}  // namespace

CalibrationManager::CalibrationManager(const CmdLineArguments& arguments, std::shared_ptr<SDT> device)
    : sdt(std::move(device)), args(arguments) {
    sensorManager.setDevice(sdt);
    if (args.ArgExists("ExportAllFiles")) {
        exportAll = true;
        exportFolder = args.GetArgValue("ExportAllFiles");
        // An existing folder is fine; a failure shows at the first file written.
        mkdir(exportFolder.c_str(), 0775);
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
    }
    // Loading the firmware records also merges an imported white noise into the
    // dynamic record it belongs to, so it is done for both XML commands.
    if (exportXml || importXml || (calibrate && !offline))
        loadSensorsData();
    // A live test reads no records, but the lid's expected gravity still
    // depends on where its hinge is.
    if (test && !useRawData && processType == PROCESS_CALIBRATION_TEST)
        for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
            if (!sensor->isPrimary() && sensor->getBaseName() == "Accelerometer")
                sensor->setHinge(sdt->getConnectionHinge());
    if (processType != PROCESS_NONE) {
        sensorManager.setSensors(calibratingSensors);
        sensorManager.setType(process);
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
    }
    try {
        if (calibrate || test) {
            collectData();
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
            saveToFile(exportFolder + "resultCalibration.xml", false);
        }
        if (update) {
            consoleOut() << "Saving calibration data to FW" << std::endl;
            flushCalibrationData();
        }
    } catch (const CalibrationException& e) {
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

void CalibrationManager::loadSensorsData() {
    auto read = [this](const std::shared_ptr<Sensor>& sensor) {
        // No record on the firmware (or no answer): the sensor keeps none. A
        // record that does not fit its sensor fails the run: an export without
        // that sensor would be an incomplete backup.
        try {
            sensor->initSDTCalibrationData(*sdt);
        } catch (const SmhiException&) {
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
    if (processType == PROCESS_INERTIAL_CALIBRATION && flowType != FLOW_MINIMAL)
        for (const auto& entry : dynamicMap)
            read(entry.second);
}

void CalibrationManager::collectData() {
    if (args.ArgExists("UseRawData")) {
        const std::string path = dumpPath();
        if (!validateExtension(path, "csv") && !folderExists(path))
            throw CalibrationException("Folder " + path + " does not exist");
        sensorManager.loadDataFromFile(calibratingSensors, path, dumpPrefix(), args.ArgExists("CalibrateOffline"));
        sensorManager.playData();
        if (processType == PROCESS_ALS_CALIBRATION)
            if (auto als = std::dynamic_pointer_cast<AlsProcess>(process))
                als->setInputs(calibratingSensors.front());
        return;
    }

    const bool noEnter = args.ArgExists("NoEnter");
    long long delay = 0;
    if (noEnter) {
        const std::string text = args.GetArgValue("NoEnter");
        delay = text.size() > 9 ? 999999999 : std::stoll(text);
    }
    consoleOut() << process->getStepInstructions(noEnter) << std::endl;
    try {
        for (int i = 0; i < process->getStaticStatesNumber(); ++i) {
            if (process->inputRequired() && !noEnter) {
                const long long before = millisecond();
                const std::string input = process->getInput();
                userDelays += (millisecond() - before) / 1000;
                if (!input.empty())
                    sensorManager.setStageInput(input);
            }
            if (delay > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            if (i == 0) {
                // Ctrl-C stops the thread it lands on where it is: not in the
                // middle of starting the recorder (see abort).
                const InterruptsHeld held;
                std::lock_guard<std::mutex> lock(stateLock);
                sensorManager.startSampling();
                samplingState = 0;
            }
            sensorManager.waitForStepFinish(process->getNeedMidCalc());
            consoleOut() << '\a' << std::flush;
            setColor(green);
            consoleOut() << "STEP " << (i + 1) << " PASSED\n";
            resetColor();
            if (i < process->getStaticStatesNumber() - 1) {
                process->moveNextStep();
                consoleOut() << process->getStepInstructions(true) << std::endl;
            }
        }
    } catch (const CalibrationException&) {
        setColor(red);
        if (processType == PROCESS_MAGNETIC_TEST) {
            resetColor();
            writeLog();
        } else {
            consoleOut() << "DATA COLLECTION FAILED" << std::endl;
        }
        resetColor();
        try {
            stopSampling();
        } catch (const CalibrationException&) {
        }
        throw;
    }
    try {
        stopSampling();
    } catch (const CalibrationException&) {
        consoleOut() << "DATA COLLECTION FAILED since there are significant differences in last sample's timestamp "
                     "between sensors\n";
        throw;
    } catch (const std::exception& e) {
        consoleOut() << "DATA COLLECTION FAILED:" << e.what() << "\n";
        throw CalibrationException("failed during sampling sensors");
    }
    userDelays += sensorManager.getWastedTime();
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
    consoleOut() << "Saving data dump to file " << exportFolder << "dataDump" << std::endl;
    samplingState = 2;
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
    consoleOut() << "Saving data dump to file " << exportFolder << "dataDump" << std::endl;
    samplingState = 2;
    try {
        csvParser.writeToFile(exportFolder + "dataDump" + ".csv", sensorManager.getDataDump());
    } catch (const std::exception&) {
    }
}

void CalibrationManager::saveToFile(const std::string& path, bool firmwareRecords) {
    CalibrationXml::serialize(path, sensors, firmwareRecords);
}

void CalibrationManager::flushCalibrationData() {
    for (const std::shared_ptr<Sensor>& sensor : sensors)
        sdt->setCalibrationData(sensor->getLuid(), sensor->getScaling());
    sdt->resetTsy();
}

std::string CalibrationManager::getResults() {
    std::string text;
    for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
        text += sensor->getResult();
    return text;
}

void CalibrationManager::writeLog() {
    if (!exportAll)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    const std::string date = std::to_string(local.tm_year + 1900) + "-" + std::to_string(local.tm_mon + 1) + "-" +
                             std::to_string(local.tm_mday) + ". " + std::to_string(local.tm_hour) + ":" +
                             std::to_string(local.tm_min);
    std::string type;
    if (processType == PROCESS_INERTIAL_CALIBRATION)
        type = flowType == FLOW_FULL ? "NewMotionFull" : flowType == FLOW_MINIMAL ? "MotionMin"
                                                     : flowType == FLOW_FOUR_STEPS ? "Motion4Steps" : "";
    else if (processType == PROCESS_CALIBRATION_TEST)
        type = flowType == FLOW_FULL ? "7stepsTest" : flowType == FLOW_MINIMAL ? "FaceUpTest"
                                                    : flowType == FLOW_FOUR_STEPS ? "4StepsTest" : "4StepsMagTest";
    else if (processType == PROCESS_ALS_CALIBRATION)
        type = "Als";
    else if (processType == PROCESS_MAGNETIC_TEST)
        type = "MagnetometerPreTest";

    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlDeclaration("1.0", "utf-8", ""));
    TiXmlElement* root = new TiXmlElement("Log");
    root->SetAttribute("Date", date);
    root->SetAttribute("Version", kVersion);
    root->SetAttribute("Type", type);
    doc.LinkEndChild(root);
    // The document gets copies: the sensors keep their own elements, so a
    // second log of the same run is complete as well.
    for (const std::shared_ptr<Sensor>& sensor : sensorManager.getSensors())
        if (TiXmlElement* element = sensor->getLogRoot())
            root->InsertEndChild(*element);
    const std::string name = processType == PROCESS_ALS_CALIBRATION        ? "AlsLogFile.xml"
                             : processType == PROCESS_INERTIAL_CALIBRATION ? "AGMLogFile.xml"
                                                                           : "LogFile.xml";
    const std::string path = exportFolder + name;
    if (!doc.SaveFile(path.c_str()))
        throw CalibrationException("Failed to write to file " + path);
}

std::shared_ptr<Sensor> CalibrationManager::findCalibrating(const std::string& name) const {
    for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
        if (sensor->getName() == name)
            return sensor;
    return nullptr;
}

void CalibrationManager::calibrateAll() {
    bool allOk = true;
    std::string message;
    for (const std::shared_ptr<Sensor>& sensor : calibratingSensors) {
        try {
            sensor->calibrate();
        } catch (const CalibrationException& e) {
            allOk = false;
            const std::string text = e.what();
            if (text.find("Calibration failed for all sensors. ") != std::string::npos) {
                message = text;
                break;
            }
            if (!message.empty())
                message += "\n";
            message += text;
            if (!sensor->isPrimary())
                message += " To calibrate only the primary sensor, you can use the primary sensors only option";
            continue;
        }
        const auto companion = dynamicMap.find(sensor);
        if (flowType != FLOW_MINIMAL && sensor->getSensorType() == 1 && companion != dynamicMap.end() &&
            !companion->second->getOriginalScaling().empty()) {
            auto own = inertial(sensor);
            auto dynamic = inertial(companion->second);
            if (own && dynamic)
                dynamic->setWhiteNoise(own->getWhiteNoise());
        }
    }
    if (allOk && flowType == FLOW_FULL) {
        try {
            checkCalibration();
        } catch (const CalibrationException& e) {
            allOk = false;
            message = e.what();
        }
    }
    writeLog();
    if (!allOk)
        throw CalibrationException(message);
}

double FindDipAngle(const std::shared_ptr<InertialSensor>& magnetometer,
                    const std::shared_ptr<InertialSensor>& accelerometer) {
    if (!magnetometer || !accelerometer)
        return 0;
    std::vector<double> angles;
    for (int s = 0; s < accelerometer->getDynamicNumSteps(); ++s)
        angles.push_back(
            magnetometer->calibrateSeg(s, true).vectorAngle(accelerometer->calibrateSeg(s, true)));
    return Statistics::calcStd(angles) / 0.017453292519943295;
}

double CalibrationManager::findDiffGyro(const std::shared_ptr<InertialSensor>& gyroscope,
                                        const std::shared_ptr<InertialSensor>& sensor, const Matrix& rotation) {
    if (!gyroscope || !sensor)
        return 0;
    const std::vector<double> times = sensorManager.getSegmentTimes();
    const size_t k = flowType == FLOW_FULL ? 4 : 2;
    std::vector<double> values;
    for (int i = 0; i < gyroscope->getDynamicNumSteps(); ++i) {
        const size_t end = (static_cast<size_t>(i) + 1) * k;
        if (end >= times.size())
            break;
        values.push_back(InertialSensor::findGyroRotation(sensor, times[end - 1], times[end], gyroscope, i, rotation));
        if (sensor->getName() == "Magnetometer" && static_cast<size_t>(i) * k + 2 < times.size())
            values.push_back(InertialSensor::findGyroRotation(sensor, times[static_cast<size_t>(i) * k + 1],
                                                              times[static_cast<size_t>(i) * k + 2], gyroscope, i,
                                                              rotation));
    }
    double largest = 0;
    for (double v : values)
        largest = std::max(largest, v);
    return largest;
}

void CalibrationManager::checkCalibration() {
    const auto gyroscope = inertial(findCalibrating("Gyroscope"));
    const auto accelerometer = inertial(findCalibrating("Accelerometer"));
    const auto second = inertial(findCalibrating("Accelerometer_2"));
    const auto magnetometer = inertial(findCalibrating("Magnetometer"));
    bool failed = false;
    std::string reasons;
    auto check = [&](bool applies, double value, double limit, const std::shared_ptr<InertialSensor>& loggedOn,
                     const char* parameter, const char* element, const char* comment, const char* reason) {
        if (!applies || !(value > limit))
            return;
        if (!failed && loggedOn) {
            loggedOn->addToLog(value, element, comment);
            if (TiXmlElement* log = loggedOn->getLogRoot()) {
                log->SetAttribute("Success", "false");
                log->SetAttribute("FailureParameter", parameter);
            }
        }
        failed = true;
        reasons += reason;
    };
    const Matrix identity = Matrix::Identity(3);
    check(selectA && selectM, FindDipAngle(magnetometer, accelerometer), 6.0, magnetometer, "Dip Angle", "DipAngle",
          "Dip angle value", "Calculated dip angle is too high, check magnetic environment.\n");
    check(selectM && selectG, findDiffGyro(gyroscope, magnetometer, identity), 1000.0, magnetometer, "Mag-Gyro Diff",
          "Gyro-Mag diff", "Gyro & Magnetometer difference",
          "Disagreement between magnetometer and gyroscope - check magnetic environment.\n");
    check(selectA && selectG, findDiffGyro(gyroscope, accelerometer, identity), 1.0, accelerometer, "Gyro-Accel Diff",
          "Gyro-Accel diff", "Gyro & Accelerometer difference", "Disagreement between accelerometer and gyroscope.\n");
    if (selectA && selectG && second && accelerometer) {
        const Matrix rotation = accelerometer->findPartialRotation(second->getExpectedResults());
        check(true, findDiffGyro(gyroscope, second, rotation), 1.0, second, "Gyro-Accel_2 Diff", "Gyro-Accel_2 diff",
              "Gyro & Accelerometer_2 difference", "Disagreement between accelerometer_2 and gyroscope.\n");
    }
    if (failed)
        throw CalibrationException("Calibration failed. Reason: " + reasons);
}

void CalibrationManager::testAll() {
    bool allPass = true;
    // Why sensors failed when they did not report a verdict of their own.
    std::string reasons;
    for (const std::shared_ptr<Sensor>& sensor : calibratingSensors) {
        try {
            const bool passed = sensor->testCalibration();
            if (TiXmlElement* log = sensor->getLogRoot())
                log->SetAttribute("Success", passed ? "true" : "false");
            allPass = allPass && passed;
            if (!passed)
                reasons += sensor->getName() + ": test failed\n";
        } catch (const CalibrationException& e) {
            allPass = false;
            reasons += sensor->getName() + ": " + e.what() + "\n";
        }
    }
    if (flowType != FLOW_MINIMAL)
        TestMultipleSensors(selectA, selectG, selectM);
    writeLog();
    if (allPass) {
        consoleOut() << "----   test pass -----" << std::endl;
        return;
    }
    std::string text;
    sensorManager.GetFinalErrorStr(text);
    // A failed test always names its reason, on the console and in error.log.
    if (text.empty())
        text = reasons;
    writeErrorLog(text);
    throw CalibrationException(text);
}

void CalibrationManager::writeErrorLog(const std::string& text) {
    if (!exportAll)
        return;
    errorLogWritten = true;
    std::ofstream out(exportFolder + "error.log", std::ios::trunc);
    if (out)
        out << text;
}

void CalibrationManager::magTest() {
    try {
        auto magnetometer =
            calibratingSensors.empty() ? nullptr : std::dynamic_pointer_cast<Magnetometer>(calibratingSensors.front());
        if (!magnetometer)
            throw CalibrationException("No magnetometer to test the magnetic environment with");
        magnetometer->magEnvTest();
    } catch (const CalibrationException&) {
        writeLog();
        throw;
    }
    writeLog();
}

bool CalibrationManager::TestMultipleSensors(bool a, bool g, bool m) {
    if (!g)
        return true;
    auto primary = [this](const std::string& name) -> std::shared_ptr<Sensor> {
        for (const std::shared_ptr<Sensor>& sensor : calibratingSensors)
            if (sensor->getName() == name && sensor->isPrimary())
                return sensor;
        return nullptr;
    };
    const auto gyroscope = std::dynamic_pointer_cast<Gyroscope>(primary("Gyroscope"));
    const auto accelerometer = a ? inertial(primary("Accelerometer")) : nullptr;
    const auto magnetometer = m ? std::dynamic_pointer_cast<Magnetometer>(primary("Magnetometer")) : nullptr;
    if (!gyroscope)
        return true;
    if (a && accelerometer)
        return compareRotations(*gyroscope, *accelerometer, Vector(3), "Gyro_Accel", " Gravity rotation test",
                                "difference between gyro and accel",
                                TestingThresholds::Inst().rotationAgreementAcc);
    if (!a && m && magnetometer)
        return compareRotations(*gyroscope, *magnetometer, magnetometer->getCenter(), "Gyro_Mag",
                                " Magnetometer rotation test", "difference between gyro and mag",
                                TestingThresholds::Inst().rotationAgreementMag);
    return true;
}

bool CalibrationManager::compareRotations(Gyroscope& gyroscope, InertialSensor& sensor, const Vector& center,
                                          const std::string& pair, const std::string& testName,
                                          const std::string& anglesComment, double threshold) {
    gyroscope.pushLog("Performing_TestCompareRotation_" + pair);
    bool result = true;
    const std::vector<Matrix>& rotations = gyroscope.getStepRotations();
    const Matrix& means = sensor.getStaticMeans();
    for (int s = 1; s < sensorManager.getNumSteps(); ++s) {
        gyroscope.addCommentToLog("step " + std::to_string(s));
        // Without a rotation or a mean for the step the comparison cannot pass.
        bool pass = false;
        Vector angle(1);
        if (static_cast<size_t>(s - 1) < rotations.size() && s < means.getRows()) {
            const Vector current = means.getRow(s) - center;
            const Vector previous = means.getRow(s - 1) - center;
            const Vector rotated = rotations[static_cast<size_t>(s - 1)] * current;
            // The thresholds are degrees: the angle is compared in degrees.
            angle[0] = rotated.vectorAngle(previous) * kRadToDeg;
            pass = gyroscope.AssertVector(angle, Vector(1), threshold,
                                          gyroscope.getName() + " step " + std::to_string(s) + testName, "");
        }
        gyroscope.addToLog(angle, "Angles", anglesComment);
        gyroscope.addToLog(Vector(1), "Expected", "The difference that is expected at a perfectly calibrated system");
        gyroscope.addToLog(threshold, "threshold", "rotation_agreement_degrees");
        gyroscope.addCommentToLog(pass ? ": PASSED" : " FAILED");
        result = result && pass;
    }
    gyroscope.popLog();
    return result;
}
