// Offers arbitrary bytes as a firmware calibration record to every kind of
// sensor, and exports whatever was accepted.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Exceptions.h"
#include "Sensor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // The first byte picks the sensor: type and luid flags.
    static const uint16_t types[] = {65, 115, 118, 527, 577, 0x0203};
    const _sc_sensor_luid luid{types[data[0] % 6], 1, 1, 0, static_cast<uint8_t>((data[0] >> 4) & 3)};
    std::shared_ptr<Sensor> sensor = Sensor::allocateSensor(luid);
    try {
        sensor->setOriginalScaling(std::vector<unsigned char>(data + 1, data + size));
        sensor->serialize(true);
    } catch (const CalibrationException&) {
    } catch (const MathException&) {
    }
    return 0;
}
