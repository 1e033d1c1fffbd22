// A run from recorded dumps: the dumps read into memory, played back through
// the step script as a live run's reports would come, and the check that every
// sensor's recording covers the steps.
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
        if (!process->isExternal())
            process->recordingEnded();
        if (!process->isExternal() && process->shouldMoveNext()) {
            onStageChange();
            std::lock_guard<std::mutex> lock(stageMutex);
            stageFinished = false;
            if (!stageSucceeded)
                throw CalibrationException("Unexpected error occurred");
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
