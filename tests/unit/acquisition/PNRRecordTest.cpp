// The recorder against a scripted firmware connection.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "PNRRecord.h"
#include "Sensor.h"
#include "SensorManager.h"
#include "device/Smhi.h"

namespace {

// A firmware connection whose answers the test queues.
class ScriptedFirmware : public DoxiBase {
public:
    ScriptedFirmware() : DoxiBase(doxi::INTERFACE_GUID, doxi::SMHI_GUID) {}

    void Connect() override { open = true; }
    void Close() override { open = false; }
    void Write(const std::vector<uint8_t>& message) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (broken)
            throw SmhiException("Write to device failed");
        written.push_back(message);
        changed.notify_all();
    }
    bool WaitReadable(int milliseconds) override {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                [this] { return !incoming.empty() || broken; });
    }
    std::vector<uint8_t> Read(size_t maxLength) override {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(2), [this] { return !incoming.empty() || broken; });
        if (broken || incoming.empty())
            throw SmhiException("Read command failed");
        std::vector<uint8_t> message = incoming.front();
        incoming.pop_front();
        lastRead = message.size();
        message.resize(maxLength, 0);
        return message;
    }

    void answer(std::vector<uint8_t> message) {
        std::lock_guard<std::mutex> lock(mutex);
        incoming.push_back(std::move(message));
        changed.notify_all();
    }
    void breakConnection() {
        std::lock_guard<std::mutex> lock(mutex);
        broken = true;
        changed.notify_all();
    }
    std::vector<std::vector<uint8_t>> sent() {
        std::lock_guard<std::mutex> lock(mutex);
        return written;
    }
    // Waits until the recorder has written n messages.
    bool waitForWrites(size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return written.size() >= n; });
    }

    bool open = false;

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<uint8_t>> incoming;
    std::vector<std::vector<uint8_t>> written;
    bool broken = false;
};

class Manager : public SensorManager {
public:
    Manager() {
        auto als = Sensor::allocateSensor(light);
        // The light sensor's firmware scale, 100/100, which the run undoes.
        als->setOriginalScaling({1, 0, 100, 0, 100, 3, 100, 0, 100, 0, 244, 1, 100, 0, 232, 3, 100, 0});
        setSensors({Sensor::allocateSensor(accelerometer), als});
        initializeSampling();
    }
    size_t samples(const _sc_sensor_luid& luid) {
        const SensorDump dump = getDataDump();
        for (const auto& kv : dump)
            if (kv.first->getLuid() == luid)
                return kv.second.size();
        return 0;
    }
    std::vector<double> first(const _sc_sensor_luid& luid) {
        const SensorDump dump = getDataDump();
        for (const auto& kv : dump)
            if (kv.first->getLuid() == luid && !kv.second.empty())
                return kv.second.front().values;
        return {};
    }
    bool failed() {
        std::lock_guard<std::mutex> lock(stageMutex);
        return stageFinished && !stageSucceeded;
    }

    static constexpr _sc_sensor_luid accelerometer{115, 1, 1, 0, 2};
    static constexpr _sc_sensor_luid light{65, 2, 1, 0, 2};
};

std::vector<uint8_t> recordAnswer(uint8_t status) {
    return {0x8C, 0, 0, status};
}

smhi::SampleRecord sample(const _sc_sensor_luid& luid, std::vector<int32_t> readings, uint64_t t = 1000) {
    smhi::SampleRecord r;
    r.luid = luid;
    r.timestamp = t;
    r.readings = std::move(readings);
    return r;
}

std::vector<uint8_t> report(int n) {
    std::vector<smhi::SampleRecord> records;
    for (int i = 0; i < n; ++i)
        records.push_back(sample(Manager::accelerometer, {0, 0, 1000000}, 1000 * static_cast<uint64_t>(i + 1)));
    return smhi::buildSensorData(records);
}

// A recorder on a scripted connection, handing its samples to a manager.
struct Rig {
    Rig() : firmware(std::make_shared<ScriptedFirmware>()), recorder(firmware) { recorder.init(&manager); }
    // Answers the first stop and the start as the firmware does, and starts.
    int start(uint8_t startStatus = 0) {
        firmware->answer(recordAnswer(0));
        firmware->answer(recordAnswer(startStatus));
        return recorder.start();
    }

    Manager manager;
    std::shared_ptr<ScriptedFirmware> firmware;
    PNRRecord recorder;
};

bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

TEST(PNRRecord, PayloadRecordsReachTheirSensors) {
    Manager manager;
    PNRRecord recorder(std::make_shared<ScriptedFirmware>());
    recorder.init(&manager);
    const _sc_sensor_luid unknown{118, 9, 2, 0, 2};
    std::vector<uint8_t> message = smhi::buildSensorData({
        sample(Manager::accelerometer, {500000, -250000, 1000000}),  // 29 bytes: three readings
        sample(unknown, {1, 2, 3}),                                  // skipped, the next is read
        sample(Manager::light, {123456}),                            // 21 bytes: one reading
        sample(Manager::accelerometer, {}),                          // 17 bytes: nothing to hand over
    });
    // A record of 18 bytes: the time stamp and one stray byte.
    std::vector<uint8_t> stray = smhi::buildSensorData({sample(Manager::light, {})});
    stray[8] = 18;
    stray.push_back(0);
    stray[4] = static_cast<uint8_t>(stray.size() - 8);
    recorder.implementation().parsePayload(message, message.size());
    recorder.implementation().parsePayload(stray, stray.size());
    EXPECT_EQ(manager.samples(Manager::accelerometer), 1u);
    EXPECT_EQ(manager.first(Manager::accelerometer), (std::vector<double>{0.5, -0.25, 1.0}));
    EXPECT_EQ(manager.samples(Manager::light), 1u);
    EXPECT_EQ(manager.first(Manager::light), std::vector<double>{123.456});

    // A record of length 0 ends the payload.
    std::vector<uint8_t> zero = smhi::buildSensorData({sample(Manager::light, {1000}), sample(Manager::light, {2000})});
    zero[8 + 21] = 0;
    recorder.implementation().parsePayload(zero, zero.size());
    EXPECT_EQ(manager.samples(Manager::light), 2u);
}

TEST(PNRRecord, StartsReadsAndStopsWithTheFirmware) {
    Manager manager;
    auto firmware = std::make_shared<ScriptedFirmware>();
    PNRRecord recorder(firmware);
    recorder.init(&manager);
    // Reports left from an earlier recording come before the answer to the first stop.
    firmware->answer(report(2));
    firmware->answer(recordAnswer(0));
    firmware->answer(recordAnswer(0));  // the start
    ASSERT_EQ(recorder.start(), 1);
    firmware->answer(report(5));
    // A record answer before any stop was asked for changes nothing.
    firmware->answer(recordAnswer(0));
    firmware->answer(report(5));
    ASSERT_TRUE(eventually([&] { return manager.samples(Manager::accelerometer) == 10; }));

    auto stopped = std::async(std::launch::async, [&] { return recorder.stop(); });
    ASSERT_TRUE(firmware->waitForWrites(3));
    firmware->answer(report(1));  // still arriving after the stop request
    firmware->answer(recordAnswer(0));
    EXPECT_EQ(stopped.get(), 1);
    EXPECT_EQ(manager.samples(Manager::accelerometer), 11u);
    EXPECT_FALSE(firmware->open);

    const auto sent = firmware->sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], smhi::buildStopRecord());
    EXPECT_EQ(sent[1], smhi::buildRecord(0, {}));
    EXPECT_EQ(sent[1].size(), 7u);
    EXPECT_EQ(sent[2], smhi::buildStopRecord());
}

TEST(PNRRecord, FirmwareFaults) {
    {
        // The start refused.
        Rig rig;
        EXPECT_EQ(rig.start(1), 0);
        EXPECT_EQ(rig.recorder.implementation().getLastError(), 1);
    }
    {
        // The connection breaks while recording: the step fails, the stop reports it.
        Rig rig;
        ASSERT_EQ(rig.start(), 1);
        rig.firmware->breakConnection();
        EXPECT_TRUE(eventually([&] { return rig.manager.failed(); }));
        EXPECT_EQ(rig.recorder.stop(), 0);
    }
    {
        // The stop refused, and a second stop while the first is under way.
        Rig rig;
        ASSERT_EQ(rig.start(), 1);
        auto first = std::async(std::launch::async, [&] { return rig.recorder.stop(); });
        ASSERT_TRUE(rig.firmware->waitForWrites(3));
        EXPECT_EQ(rig.recorder.stop(), 0);
        rig.firmware->answer(recordAnswer(4));
        EXPECT_EQ(first.get(), 0);
        EXPECT_TRUE(rig.manager.failed());
    }
}

TEST(PNRRecord, AStopTheFirmwareNeverConfirmsEndsInTime) {
    // Silent after the stop, or reporting on and on: either way the stop
    // gives up after its time and says that it was not confirmed.
    for (const bool keepsReporting : {false, true}) {
        Rig rig;
        ASSERT_EQ(rig.start(), 1);
        std::atomic<bool> stopped{false};
        std::thread firmware([&] {
            while (keepsReporting && !stopped) {
                rig.firmware->answer(report(1));
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        // Without the bound this never returns (the suite's time-out ends it).
        const int result = rig.recorder.stop();
        stopped = true;
        firmware.join();
        EXPECT_EQ(result, LiveSampler::kStopUnconfirmed) << keepsReporting;
        EXPECT_FALSE(rig.firmware->open);
        EXPECT_FALSE(rig.manager.failed());
    }
}
