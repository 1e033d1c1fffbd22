// The firmware's trace configuration and trace log header: their byte
// layouts, the XML file a configuration is written from, and their printing.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// The trace configuration record (40 bytes, little-endian).
struct trace_config_t {
    uint8_t traceInterfacesMask = 0;  // bit 0 DOXI, bit 1 I2C, bit 2 LPK
    uint8_t i2cBus = 0;               // bits 0-1
    uint8_t i2cAddress = 0;           // bits 0-6
    uint8_t hostDebugEnabled = 0;     // bit 0
    uint8_t traceModeMask = 0;        // bit 0 buffer, bit 1 cyclic, bit 3 block when full
    uint8_t bufferSize = 0;           // KB
    uint8_t lowestPriority = 0;       // bits 0-2
    uint8_t reserved = 0;
    uint16_t compFilterMask[16] = {};  // entry m: bit s lets sub component s of major m trace

    static constexpr size_t kSize = 40;
    std::vector<uint8_t> encode() const;
    // False when fewer than 40 bytes are given.
    bool decode(const uint8_t* data, size_t size);
};

// The trace log header (32 bytes).
struct trace_log_header_t {
    char flag[16] = {};  // NUL-terminated text
    uint8_t headerVersion = 0;
    uint8_t headerLength = 0;
    uint8_t configFormatVersion = 0;
    uint8_t messageFormatVersion = 0;
    uint16_t firmwareVersion[4] = {};

    static constexpr size_t kSize = 32;
    bool decode(const uint8_t* data, size_t size);
};

// The texts of the configuration client's statuses (0 to 4), else the
// tool's error table.
const char* getConfigErrorMessage(int code);

// A failure of the configuration file or of a configuration exchange.
class ConfigException : public std::runtime_error {
public:
    explicit ConfigException(int errorCode) : std::runtime_error(getConfigErrorMessage(errorCode)), code(errorCode) {}
    int getCode() const { return code; }

private:
    int code;
};

class Configuration {
public:
    // Reads the XML file (root "myConfiguration", eight elements); any
    // failure is ConfigException 8199 ("Invalid config file").
    static trace_config_t parseConfiguration(const std::string& path);
};

// The printed forms.
std::string PrintTraceConfig(const trace_config_t& config);
std::string PrintTraceHeader(const uint8_t* data, size_t size);
