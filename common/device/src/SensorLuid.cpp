#include "device/SensorLuid.h"

#include "device/Bytes.h"
#include "device/Smhi.h"

std::string luidHexKey(const _sc_sensor_luid& luid) {
    std::vector<uint8_t> bytes;
    smhi::encodeLuid(luid, bytes);
    return doxi::toHex(bytes);
}
