// SMHI exchanges of the hub utility over the C-style transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/SensorLuid.h"

// One request and its response on the open connection. Returns 0, the send
// error, 8196, 8203 (nothing received) or 8213 (response larger than size).
int SMHIGetCommand(const uint8_t* request, uint32_t requestLength, uint8_t* response, uint32_t size,
                   uint32_t* received, uint32_t timeoutMs);

// Opens the connection, exchanges, closes. Returns a transport code, or the
// response's status byte when the exchange itself succeeded.
int SMHIRequest(const std::vector<uint8_t>& request, std::vector<uint8_t>& response);

// Get version: exactly 12 bytes with status 0, else 8203.
int SMHIGetVersion(uint16_t version[4]);
// The firmware-status probe: a version request whose exchange succeeds,
// whatever the answer's status or length.
int SMHIProbe();
// The sensor list (property 2).
int SMHIGetSensorList(std::vector<_sc_sensor_luid>& luids);
