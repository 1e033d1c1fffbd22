#include "SensorManager.h"

#include <chrono>
#include <cmath>

#include "Console.h"
#include "Exceptions.h"
#include "Interrupt.h"
#include "Process.h"
#include "SDT.h"
#include "Sensor.h"

namespace {

// How many rows of a dump between two updates of the loading status line.
const size_t kProgressRows = 100000;

}  // namespace

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

void SensorManager::loadDataFromFile(const std::vector<std::shared_ptr<Sensor>>& dumpSensors,
                                     const std::string& folder, const std::string& prefix, bool readLuid) {
    consoleOut() << "Loading data dump, this might take a while..." << std::endl;
    const std::string base = prefix.empty() ? folder : folder + "/" + prefix;
    CsvParser parser;
    playback.clear();
    for (const std::shared_ptr<Sensor>& sensor : dumpSensors) {
        const std::string path = CsvParser::getSuffixedPath(base, sensor->getName());
        std::ifstream in = CsvParser::openSensorFile(path);
        PlaybackRecording& recording = playback[sensor];
        const size_t lines = CsvParser::countLines(in);
        recording.reserve(lines);
        // A large dump takes a while: on a terminal, how far its reading has come.
        const std::string name = sensor->getName();
        size_t read = 0;
        parser.readSamples(in, path, sensor, readLuid, [&](const SensorData& sample) {
            recording.push_back(sample);
            if (++read % kProgressRows == 0 && lines > 0)
                console().showStatus("Loading " + name + ": " + std::to_string(std::min<size_t>(100, read * 100 / lines)) +
                                     " %");
        });
    }
    console().clearStatus();
}

void SensorManager::playData() {
    // Read position per sensor, in the order of the run's sensors.
    struct Cursor {
        std::shared_ptr<Sensor> sensor;
        PlaybackRecording* samples;
        size_t next;
        bool indicator;  // asked once, not for every sample
    };
    std::vector<Cursor> cursors;
    size_t total = 0;
    for (const auto& sensor : sensors) {
        const auto it = playback.find(sensor);
        if (it != playback.end()) {
            cursors.push_back(Cursor{sensor, &it->second, 0, isIndicator(sensor)});
            total += it->second.size();
            // The sensor's buffer is sized once instead of growing by doubling.
            std::vector<SensorData>& buffer = sensor->getBufferedData();
            buffer.reserve(it->second.size());
            adviseLargePages(buffer.data(), buffer.capacity() * sizeof(SensorData));
        }
    }
    double lastTime = 0;
    try {
        for (size_t n = 0; n < total; ++n) {
            int chosen = -1;
            double best = 0;
            for (size_t c = 0; c < cursors.size(); ++c) {
                if (cursors[c].next >= cursors[c].samples->size())
                    continue;
                const double t = cursors[c].samples->timestamp(cursors[c].next);
                if (t < lastTime)
                    continue;
                if (chosen < 0 || t <= best) {
                    chosen = static_cast<int>(c);
                    best = t;
                }
            }
            if (chosen < 0) {
                // Timestamps restart at 0 with every step: take the earliest remaining sample.
                for (size_t c = 0; c < cursors.size(); ++c) {
                    if (cursors[c].next >= cursors[c].samples->size())
                        continue;
                    const double t = cursors[c].samples->timestamp(cursors[c].next);
                    if (chosen < 0 || t <= best) {
                        chosen = static_cast<int>(c);
                        best = t;
                    }
                }
                if (chosen < 0)
                    break;
            }
            // Once the steps are done, the rest of the last moment still
            // comes, as a live report brings every sensor's sample of it.
            if (allStepsDone && best != lastTime)
                break;
            Cursor& cursor = cursors[static_cast<size_t>(chosen)];
            SensorData sample = (*cursor.samples)[cursor.next++];
            if (cursor.next % PlaybackRecording::kBlock == 0) {
                cursor.samples->releaseBefore(cursor.next);
                interrupt::check();  // a safe point now and then
            }
            lastTime = sample.timestamp;
            processSample(cursor.sensor, sample, cursor.indicator);
            if (!process->isExternal() && cursor.indicator && process->shouldMoveNext()) {
                onStageChange();
                std::lock_guard<std::mutex> lock(stageMutex);
                stageFinished = false;
                if (!stageSucceeded)
                    throw CalibrationException("Unexpected error occurred");
            }
        }
    } catch (const CalibrationException& e) {
        // The recording cannot be cut into the script's steps: the run ends
        // with that reason, never with calibrations of broken steps.
        failStep(e.what());
        throw CalibrationException(e.what());
    } catch (const SamplingException& e) {
        failStep(e.what());
        throw SamplingException(e.what());
    }
    const ProcessType type = process->getType();
    // A test needs every step as much as a calibration does.
    if ((type == PROCESS_INERTIAL_CALIBRATION || type == PROCESS_ALS_CALIBRATION ||
         type == PROCESS_CALIBRATION_TEST) &&
        !process->isDone()) {
        // Where the samples tell why the steps were not found, so does the failure.
        const std::string stall = process->stallCause();
        throw CalibrationException("Unexpected data dump size. Not enough data for completing the calibration process" +
                                   (stall.empty() ? std::string() : " (step " + std::to_string(process->getCurrentStaticStep() + 1) + ": " + stall + ")"));
    }
    checkDataStreamingValidity();
}

void SensorManager::checkDataStreamingValidity() {
    if (!process || process->getType() == PROCESS_MAGNETIC_TEST || !allStepsDone || !stageSucceeded)
        return;
    std::shared_ptr<Sensor> reference;
    for (const auto& sensor : sensors) {
        if (!isIndicator(sensor))
            continue;
        if (!dataDump.count(sensor) && !playback.count(sensor))
            throw CalibrationException("No data was sampled for " + sensor->getName());
        reference = sensor;
    }
    if (!reference)
        return;
    // The time of the sensor's last buffered sample, from the live recording
    // or the dump played.
    auto lastTimestamp = [this](const std::shared_ptr<Sensor>& sensor, double& t) {
        const size_t size = sensor->getBufferedDataSize();
        const auto played = playback.find(sensor);
        if (played != playback.end()) {
            if (size == 0 || size > played->second.size())
                return false;
            t = played->second.timestamp(size - 1);
            return true;
        }
        const std::vector<SensorData>& samples = dataDump[sensor];
        if (size == 0 || size > samples.size())
            return false;
        t = samples[size - 1].timestamp;
        return true;
    };
    double referenceTime = 0;
    if (!lastTimestamp(reference, referenceTime))
        return;
    // Measured against the sensor whose samples went on longest, so that the
    // sensor whose data ended early is the one named, not the others.
    for (const auto& sensor : sensors) {
        double t = 0;
        if ((dataDump.count(sensor) || playback.count(sensor)) && lastTimestamp(sensor, t) && t > referenceTime)
            referenceTime = t;
    }
    std::string failures;
    for (const auto& sensor : sensors) {
        double t = 0;
        const bool has = (dataDump.count(sensor) || playback.count(sensor)) && lastTimestamp(sensor, t);
        const long long difference = static_cast<long long>(t - referenceTime);
        if (!has || difference > 100 || difference < -100)
            failures += (failures.empty() ? "" : ", ") + sensor->getName();
    }
    if (!failures.empty())
        throw CalibrationException("Data streaming rate was invalid. Not enough data points were sampled for " +
                                   failures);
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
