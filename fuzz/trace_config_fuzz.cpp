// Reads arbitrary bytes as a trace configuration file, and as the records of
// the configuration client's answers.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Configuration.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = "/tmp/tessary-fuzz-config-" + std::to_string(getpid()) + ".xml";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    try {
        PrintTraceConfig(Configuration::parseConfiguration(path));
    } catch (const ConfigException&) {
    }
    std::remove(path.c_str());
    // Exactly the input's bytes, so a read past them is caught.
    const std::vector<uint8_t> bytes(data, data + size);
    trace_config_t config;
    if (config.decode(bytes.data(), bytes.size()))
        PrintTraceConfig(config);
    PrintTraceHeader(bytes.data(), bytes.size());
    return 0;
}
