#include "PNRRecord.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>

#include "Sensor.h"
#include "SensorManager.h"
#include "device/Smhi.h"

namespace {

// How long the worker waits for a message before it looks at the stop state
// again, and how long it waits for the firmware to confirm a stop.
constexpr int kPollMs = 100;
constexpr int kStopAnswerMs = LiveSampler::kStopAnswerMs;

using Clock = std::chrono::steady_clock;

bool elapsed(Clock::time_point since, int milliseconds) {
    return Clock::now() - since >= std::chrono::milliseconds(milliseconds);
}

void pause10ms() {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

uint8_t commandOf(const std::vector<uint8_t>& message) {
    return message.empty() ? 0 : static_cast<uint8_t>(message[0] & 0x7F);
}

}  // namespace

PNRRecordPrivate::PNRRecordPrivate(std::shared_ptr<DoxiBase> transport) : doxi(std::move(transport)) {}

PNRRecordPrivate::~PNRRecordPrivate() {
    if (recording)
        stop();
    if (worker && worker->joinable())
        worker->join();
}

int PNRRecordPrivate::init(SensorManager* manager) {
    sensorManager = manager;
    return 1;
}

int PNRRecordPrivate::addSensor(const _sc_sensor_luid& luid) {
    if (recording)
        return 0;
    sensors.push_back(luid);
    return 1;
}

int PNRRecordPrivate::start() {
    if (stop() != 1)
        return 0;
    if (recording)
        return 1;
    if (!doxi)
        return 0;
    std::vector<uint8_t> answer;
    try {
        doxi->Connect();
        doxi->Write(smhi::buildRecord(0, sensors));
        answer = doxi->Read(SMHI_MAX_RESPONSE);
    } catch (const std::exception&) {
        doxi->Close();
        return 0;
    }
    if (commandOf(answer) == SMHI_CMD_RECORD && answer.size() > 3 && answer[3] != 0) {
        lastError = 1;
        pause10ms();
        doxi->Close();
        return 0;
    }
    // Any other answer, a first report included, means the recording runs.
    recording = true;
    // The first report may already be in hand.
    if (commandOf(answer) == SMHI_CMD_SENSOR_DATA)
        parsePayload(answer, doxi->lastReadLength());
    startWorker();
    return 1;
}

void PNRRecordPrivate::startWorker() {
    if (running)
        return;
    running = true;
    stopState = PNR_NO_STOP;
    worker.reset(new std::thread([this] { workerLoop(); }));
    signal.Reset();
}

int PNRRecordPrivate::stop() {
    if (!recording)
        return stopIdle();
    uint32_t expected = PNR_NO_STOP;
    if (!stopState.compare_exchange_strong(expected, PNR_STOP_ASKED))
        return 0;
    signal.WaitForSignal();
    if (worker && worker->joinable())
        worker->join();
    worker.reset();
    const int result = stopState == PNR_STOP_CONFIRMED     ? 1
                       : stopState == PNR_STOP_UNCONFIRMED ? LiveSampler::kStopUnconfirmed
                                                           : 0;
    doxi->Close();
    recording = false;
    stopState = PNR_NO_STOP;
    return result;
}

int PNRRecordPrivate::stopIdle() {
    if (!doxi)
        return 0;
    int result = 0;
    try {
        doxi->Connect();
        doxi->Write(smhi::buildStopRecord());
        // Reports still queued from an earlier recording come first; the
        // firmware stops sending them once it has the stop request. A
        // firmware that keeps sending them is given up on in time.
        const Clock::time_point sent = Clock::now();
        for (int n = 0; n < 10000 && !elapsed(sent, kStopAnswerMs); ++n) {
            const std::vector<uint8_t> message = doxi->Read(SMHI_MAX_RESPONSE);
            if (commandOf(message) == SMHI_CMD_SENSOR_DATA)
                continue;
            result = commandOf(message) == SMHI_CMD_RECORD ? 1 : 0;
            break;
        }
    } catch (const std::exception&) {
        result = 0;
    }
    doxi->Close();
    return result;
}

void PNRRecordPrivate::notifyFailure(int error) {
    lastError = error;
    if (sensorManager) {
        lastError = 0;
        sensorManager->stageDone(false);
    }
}

void PNRRecordPrivate::workerLoop() {
    // Ctrl-C is the main thread's business.
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigaddset(&interrupt, SIGTERM);
    sigaddset(&interrupt, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);

    Clock::time_point stopSent;
    while (running) {
        try {
            if (stopState == PNR_STOP_ASKED) {
                doxi->Write(smhi::buildStopRecord());
                stopSent = Clock::now();
                stopState = PNR_STOP_SENT;
            }
            // A firmware that never confirms the stop must not hold the run,
            // whether it falls silent or keeps reporting.
            const uint32_t state = stopState;
            if ((state == PNR_STOP_SENT || state == PNR_DATA_AFTER_STOP) && elapsed(stopSent, kStopAnswerMs)) {
                stopState = PNR_STOP_UNCONFIRMED;
                running = false;
                continue;
            }
            if (!doxi->WaitReadable(kPollMs))
                continue;
            const std::vector<uint8_t> message = doxi->Read(SMHI_MAX_RESPONSE);
            const size_t length = doxi->lastReadLength();
            const uint8_t command = commandOf(message);
            if (command == SMHI_CMD_SENSOR_DATA) {
                if (stopState == PNR_STOP_SENT)
                    stopState = PNR_DATA_AFTER_STOP;
                parsePayload(message, length);
            } else if (command == SMHI_CMD_RECORD && (message[0] & 0x80) &&
                       (stopState == PNR_STOP_SENT || stopState == PNR_DATA_AFTER_STOP)) {
                if (message[3] != 0) {
                    stopState = PNR_STOP_FAILED;
                    running = false;
                    pause10ms();
                    notifyFailure(2);
                } else {
                    stopState = PNR_STOP_CONFIRMED;
                    running = false;
                }
            }
        } catch (const std::exception&) {
            running = false;
            notifyFailure(3);
        }
    }
    signal.Signal();
}

void PNRRecordPrivate::parsePayload(const std::vector<uint8_t>& message, size_t length) {
    if (!sensorManager)
        return;
    const std::map<std::string, std::shared_ptr<Sensor>> known = sensorManager->getSensorMap();
    smhi::parseSensorData(doxi::ByteView(message.data(), std::min(length, message.size())),
                          [&](const smhi::SampleRecord& record) {
                              const auto it = known.find(record.luidKey);
                              if (it == known.end())
                                  return;
                              const double divider = it->second->getDivider() != 0 ? it->second->getDivider() : 1;
                              std::vector<double> values;
                              for (int32_t reading : record.readings)
                                  values.push_back(reading / divider);
                              sensorManager->handleData(it->second, static_cast<double>(record.timestamp) / 1000.0,
                                                        values);
                          });
}
