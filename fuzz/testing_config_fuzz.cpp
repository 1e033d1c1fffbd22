// Reads arbitrary bytes as the thresholds file TestingConfig.xml.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "TestingThresholds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = "/tmp/tessary-fuzz-thresholds-" + std::to_string(getpid()) + ".xml";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    TestingThresholds thresholds;
    thresholds.LoadFrom(path);
    thresholds.ConvertThresholds();
    std::remove(path.c_str());
    return 0;
}
