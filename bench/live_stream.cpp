// live_stream: records the sensors of a running hubsim for a while through the
// calibration tool's own recorder and sensor manager, and prints how many
// reports arrived against how many hubsim's simulated time produced.
//
//   live_stream SECONDS SPEED     (run with the device shim and HUBSIM_SOCKET set)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "PNRRecord.h"
#include "SDT.h"
#include "Sensor.h"
#include "SensorManager.h"

int main(int argc, char** argv) {
    if (argc != 3)
        return std::fprintf(stderr, "usage: live_stream SECONDS SPEED\n"), 2;
    const double seconds = std::atof(argv[1]), speed = std::atof(argv[2]);
    const _sc_sensor_luid luids[] = {{115, 1, 1, 0, 2}, {115, 1, 1, 1, 2}, {118, 9, 2, 0, 2}, {527, 8, 4, 0, 2}};
    std::vector<std::shared_ptr<Sensor>> sensors;
    for (const _sc_sensor_luid& luid : luids)
        sensors.push_back(Sensor::allocateSensor(luid));
    SensorManager manager;
    manager.setDevice(std::make_shared<SDT>(makeDeviceTransport()));
    manager.setSensors(sensors);
    manager.initializeSampling();
    manager.setLiveSampler(std::unique_ptr<LiveSampler>(new PNRRecord(makeDeviceTransport())));
    try {
        const auto start = std::chrono::steady_clock::now();
        manager.startSampling();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        manager.stopSampling();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // Reports every 10 simulated milliseconds per sensor.
        const double expected = wall * speed * 100;
        size_t total = 0, gaps = 0, fewest = static_cast<size_t>(-1);
        for (const auto& kv : manager.getDataDump()) {
            const std::vector<SensorData>& samples = kv.second;
            for (size_t i = 1; i < samples.size(); ++i)
                gaps += samples[i].timestamp - samples[i - 1].timestamp > 10.5;
            total += samples.size();
            fewest = std::min(fewest, samples.size());
        }
        std::printf("speed %5.1f: %4.0f Hz per sensor, %6.0f reports/s in all, %zu gaps, %5.1f %% of the reports due\n",
                    speed, speed * 100, total / wall, gaps, 100.0 * static_cast<double>(fewest) / expected);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "live_stream: %s\n", e.what());
        return 1;
    }
    return 0;
}
