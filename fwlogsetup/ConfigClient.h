// The trace-configuration client of the firmware: one request and one
// response per exchange, each on a connection of its own.
#pragma once

#include <memory>
#include <vector>

#include "Configuration.h"
#include "device/DoxiTrace.h"

class ConfigClient {
public:
    explicit ConfigClient(std::shared_ptr<doxi::trace::TInterface> transport);

    trace_config_t getConfig();
    // The 32 bytes of the trace log header.
    std::vector<uint8_t> getLogHeader();
    void setConfig(const trace_config_t& config, bool isVolatile);

    static constexpr size_t kResponseSize = 6000;

private:
    std::shared_ptr<doxi::trace::TInterface> transport;

    // Sends the request; returns the status and the bytes of the answer.
    int exchange(const std::vector<uint8_t>& request, std::vector<uint8_t>& answer);
};
