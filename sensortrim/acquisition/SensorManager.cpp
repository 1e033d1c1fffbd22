#include "SensorManager.h"

#include <chrono>
#include <cmath>

#include "Console.h"
#include "Exceptions.h"
#include "Interrupt.h"
#include "Process.h"
#include "SDT.h"
#include "Sensor.h"

void SensorManager::setSensors(const std::vector<std::shared_ptr<Sensor>>& runSensors) {
    sensors = runSensors;
    for (const auto& sensor : sensors)
        sensor->SetSensManager(this);
}

void SensorManager::setType(const std::shared_ptr<Process>& script) {
    process = script;
    const std::vector<std::string> names = process->getIndicatorNames();
    bool accepted = false;
    bool offered = false;
    for (const auto& sensor : sensors)
        for (const std::string& name : names)
            if (sensor->getName() == name && sensor->isPrimary()) {
                accepted = process->setIndicator(sensor);
                offered = true;
            }
    if (!offered || !accepted) {
        const std::string first = names.empty() ? "" : names.front();
        if (first != "Accelerometer")
            throw CalibrationException("Could not locate sensor " + first + " for sampling. " + first +
                                       " is mandatory for this calibration process");
        const std::shared_ptr<Sensor> fallback =
            stepMarker ? stepMarker : Sensor::allocateSensor(_sc_sensor_luid{115, 0, 0, 0, 2});
        fallback->SetSensManager(this);
        sensors.push_back(fallback);
        process->setIndicator(fallback);
    }
    process->initProcess();
}

void SensorManager::addWatcher(const std::shared_ptr<Sensor>& sensor) {
    sensor->SetSensManager(this);
    sensors.push_back(sensor);
}

void SensorManager::initializeSampling() {
    samplingParameter = process && process->getType() == PROCESS_ALS_CALIBRATION ? 20 : 10;
    sensorMap.clear();
    for (const auto& sensor : sensors) {
        sensorMap[sensor->getLuidString()] = sensor;
        sensor->calcReverseSdt();
    }
}

void SensorManager::startSampling() {
    allStepsDone = false;
    {
        std::lock_guard<std::mutex> lock(stageMutex);
        stageFinished = false;
    }
    if (!device)
        throw CalibrationException("Failed to start sampling");
    for (const auto& sensor : sensors) {
        try {
            device->startSmhiSampling(sensor->getLuidForSampling(), static_cast<int>(samplingParameter), 0.0);
        } catch (const std::exception&) {
            throw CalibrationException("Failed to start sampling");
        }
    }
    if (!liveSampler || liveSampler->init(this) != 1)
        throw CalibrationException("Failed to init PNRRecord");
    samplingStartedAt = std::chrono::steady_clock::now();
    if (liveSampler->start() != 1)
        throw CalibrationException("Failed to start PNRRecord");
}

void SensorManager::stopSampling() {
    if (sensors.empty())
        throw CalibrationException("No sensors were set for sampling");
    if (liveSampler) {
        if (liveSampler->stop() == LiveSampler::kStopUnconfirmed)
            consoleOut() << "The firmware did not confirm the stop of the recording within "
                         << LiveSampler::kStopAnswerMs / 1000 << " seconds: the recording is taken as ended"
                         << std::endl;
        liveSampler.reset();
    }
    if (!device)
        throw CalibrationException("Failed to stop sampling");
    try {
        for (const auto& sensor : sensors)
            device->stopSmhiSampling(sensor->getLuidForSampling());
    } catch (const std::exception&) {
        throw CalibrationException("Failed to stop sampling");
    }
    checkDataStreamingValidity();
}

bool SensorManager::isIndicator(const std::shared_ptr<Sensor>& sensor) const {
    return process && process->isStageIndicator(sensor);
}

void SensorManager::processSample(const std::shared_ptr<Sensor>& sensor, SensorData& sample, bool indicator) {
    if (sensor->dataRecieved(sample) && indicator)
        process->CalibrationControl(sample);
}

void SensorManager::handleData(const std::shared_ptr<Sensor>& sensor, double timestampMs,
                               const std::vector<double>& values) {
    if (static_cast<int>(values.size()) != sensor->getNumFields())
        return;
    try {
        std::lock_guard<std::mutex> lock(dataMutex);
        if (stepStartTime == 0)
            stepStartTime = timestampMs;
        SensorData sample(std::max(0.0, timestampMs - stepStartTime), values);
        sensor->reverseStaticCalibration(sample);
        dataDump[sensor].push_back(sample);
        lastSampleAt[sensor] = std::chrono::steady_clock::now();
        processSample(sensor, sample, isIndicator(sensor));
    } catch (const CalibrationException& e) {
        // A failed sample ends the step; the waiting thread raises the message.
        return failStep(e.what());
    } catch (const MathException& e) {
        return failStep(e.what());
    } catch (const SamplingException& e) {
        return failStep(e.what());
    }
    if (process && !process->isExternal() && isIndicator(sensor) && process->shouldMoveNext())
        onStageChange();
}

void SensorManager::onStageChange() {
    const ProcessType type = process->getType();
    if (type == PROCESS_MAGNETIC_TEST) {
        process->setNextSegment();
        return;
    }
    if (process->isDone()) {
        allStepsDone = true;
        wastedTime += static_cast<unsigned>(process->getWastedTime());
    }
    try {
        stageDone(true);
    } catch (const CalibrationException& e) {
        failStep(e.what());
    }
}

void SensorManager::failStep(const std::string& message) {
    // The reader thread may fail a step again while the waiting thread reads
    // the message: both under stageMutex.
    std::lock_guard<std::mutex> lock(stageMutex);
    errorMessage = message;
    stageFinished = true;
    stageSucceeded = false;
    stageCondition.notify_all();
}

void SensorManager::stageDone(bool success) {
    std::lock_guard<std::mutex> lock(stageMutex);
    stageFinished = true;
    stageSucceeded = success;
    stageCondition.notify_all();
}

void SensorManager::waitForStepFinish(bool midCalculation) {
    if (process && process->isExternal()) {
        stageSucceeded = true;
        console().waitForKey();
        std::shared_ptr<Sensor> indicator;
        for (const auto& sensor : sensors)
            if (isIndicator(sensor))
                indicator = sensor;
        {
            std::lock_guard<std::mutex> lock(dataMutex);
            const auto it = indicator ? dataDump.find(indicator) : dataDump.end();
            segmentEnds.push_back(it == dataDump.end() ? 0 : static_cast<int>(it->second.size()));
        }
        consoleOut() << "User pressed to signal end" << std::endl;
        if (midCalculation && indicator)
            indicator->MidCalc();
        onStageChange();
    } else {
        // At most 60 seconds; meanwhile, a few times a second, the operator's
        // status line.
        const auto begun = std::chrono::steady_clock::now();
        const auto limit = std::chrono::seconds(60);
        bool timedOut = false;
        while (true) {
            const auto waited = std::chrono::steady_clock::now() - begun;
            if (waited >= limit) {
                timedOut = true;
                break;
            }
            bool finished;
            {
                std::unique_lock<std::mutex> lock(stageMutex);
                finished = stageCondition.wait_for(lock, std::min<std::chrono::steady_clock::duration>(
                                                             limit - waited, std::chrono::milliseconds(250)),
                                                   [this] { return stageFinished; });
            }
            if (finished)
                break;
            // A safe point: a signal that ends the run ends it here.
            interrupt::check();
            showProgress(static_cast<int>(
                std::chrono::duration_cast<std::chrono::seconds>(limit - (std::chrono::steady_clock::now() - begun))
                    .count()));
        }
        console().clearStatus();
        if (timedOut) {
            // Named outside stageMutex: the details need dataMutex, and the two
            // are never held together.
            const std::string message = "DATA COLLECTION FAILED\n Timeout, failed to get stable samples or to detect "
                                        "motion of the required sensors" +
                                        timeoutDetails();
            std::lock_guard<std::mutex> lock(stageMutex);
            stageSucceeded = false;
            errorMessage = message;
        }
    }
    bool succeeded;
    std::string message;
    {
        std::lock_guard<std::mutex> lock(stageMutex);
        stageFinished = false;
        succeeded = stageSucceeded;
        message = errorMessage;
    }
    if (!process || !process->getSampleBetween()) {
        std::lock_guard<std::mutex> lock(dataMutex);
        stepStartTime = 0;
    }
    if (succeeded)
        return;
    if (message.empty())
        message = "DATA COLLECTION FAILED\n Failed to get samples from FW";
    throw CalibrationException(message);
}

void SensorManager::silentSensors(std::vector<std::string>& never, std::vector<std::string>& stopped) {
    // A sensor that has not sent anything for this long has stopped; one that
    // has sent nothing yet is given a second from the start.
    const auto now = std::chrono::steady_clock::now();
    for (const auto& sensor : sensors) {
        const auto it = lastSampleAt.find(sensor);
        if (it == lastSampleAt.end()) {
            if (now - samplingStartedAt > std::chrono::seconds(1))
                never.push_back(sensor->getName());
        } else if (now - it->second > std::chrono::seconds(2)) {
            stopped.push_back(sensor->getName());
        }
    }
}

void SensorManager::showProgress(int secondsLeft) {
    // Piped, the samples are left alone: nothing would be drawn.
    if (!console().showsStatus())
        return;
    StepProgress progress;
    {
        std::lock_guard<std::mutex> lock(dataMutex);
        try {
            if (!process || !process->fillProgress(progress))
                return;
        } catch (const std::exception&) {
            // The line is the operator's help, never a reason to fail.
            return;
        }
        silentSensors(progress.silent, progress.silent);
    }
    progress.secondsLeft = std::max(secondsLeft, 0);
    console().showProgress(progress);
}

std::string SensorManager::timeoutDetails() {
    std::vector<std::string> neverCame, stoppedComing;
    std::string stall;
    {
        std::lock_guard<std::mutex> lock(dataMutex);
        silentSensors(neverCame, stoppedComing);
        if (process)
            stall = process->stallCause();
    }
    auto listed = [](const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names)
            text += (text.empty() ? "" : ", ") + name;
        return text;
    };
    const std::string never = listed(neverCame), stopped = listed(stoppedComing);
    std::string details = " (step " + std::to_string(process ? process->getCurrentStaticStep() + 1 : 1);
    if (!never.empty())
        details += "; no samples came from " + never;
    if (!stopped.empty())
        details += "; the samples of " + stopped + " stopped";
    if (!stall.empty())
        details += "; " + stall;
    return details + ")";
}

void SensorManager::setStageInput(const std::string& input) {
    for (const auto& sensor : sensors)
        sensor->setStageInput(input);
}

void SensorManager::AddError(ErrorType type, const std::string& sensorName) {
    if (errors.count("General"))
        return;
    if (type == ErrorType::Calibration) {
        errors.emplace(sensorName, ErrorType::Calibration);
        return;
    }
    if (type != ErrorType::AxisMapping)
        return;
    for (const auto& entry : errors) {
        if (entry.first != sensorName && entry.second == ErrorType::AxisMapping) {
            errors.clear();
            errors["General"] = ErrorType::General;
            return;
        }
    }
    errors[sensorName] = ErrorType::AxisMapping;
}

void SensorManager::GetFinalErrorStr(std::string& out) const {
    static const char* const suffixes[] = {": Check Calibration", ": Check Axis Mapping",
                                           ": Check Movement or Axis Mapping"};
    out.clear();
    for (const auto& entry : errors) {
        const int type = static_cast<int>(entry.second);
        out += std::to_string(type + 1) + "\t" + entry.first + suffixes[type] + "\n";
    }
}

ProcessType SensorManager::getProcessType() const {
    return process ? process->getType() : processType;
}

int SensorManager::getNumSteps() const {
    return process ? process->getStaticStatesNumber() : numSteps;
}

std::vector<double> SensorManager::getSegmentTimes() const {
    return process ? process->getSegmentTimes() : segmentTimes;
}

std::vector<int> SensorManager::getSegmentIndexes() const {
    return process ? process->getSegmentIndexes() : segmentIndexes;
}

CalibrationFlowType SensorManager::getClibrationFlowType() const {
    return process ? process->GetCalibrationFlow() : flowType;
}

bool SensorManager::isManualProcess() const {
    return process && process->isManual();
}

bool SensorManager::hasSamples() const {
    std::lock_guard<std::mutex> lock(dataMutex);
    for (const auto& entry : dataDump)
        if (!entry.second.empty())
            return true;
    return false;
}

SensorDump SensorManager::getDataDump() const {
    std::lock_guard<std::mutex> lock(dataMutex);
    return dataDump;
}

std::map<std::string, std::shared_ptr<Sensor>> SensorManager::getSensorMap() const {
    return sensorMap;
}
