// Hands arbitrary bytes to the recorder as a sensor-data message from the
// firmware: every record must be bounded by the message, known sensors get
// their samples, nothing else happens.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "PNRRecord.h"
#include "Sensor.h"
#include "SensorManager.h"

namespace {

class Manager : public SensorManager {
public:
    Manager() {
        auto light = Sensor::allocateSensor(_sc_sensor_luid{65, 2, 1, 0, 2});
        light->setOriginalScaling({1, 0, 100, 0, 100, 3, 100, 0, 100, 0, 244, 1, 100, 0, 232, 3, 100, 0});
        setSensors({Sensor::allocateSensor(_sc_sensor_luid{115, 1, 1, 0, 2}),
                    Sensor::allocateSensor(_sc_sensor_luid{118, 9, 2, 0, 2}), light});
        initializeSampling();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Manager manager;
    PNRRecord recorder(nullptr);
    recorder.init(&manager);
    // Messages are read into a buffer of 4000 bytes of which size are the message.
    std::vector<uint8_t> message(data, data + size);
    const size_t length = message.size();
    message.resize(std::max<size_t>(length, 4000), 0);
    recorder.implementation().parsePayload(message, length);
    return 0;
}
