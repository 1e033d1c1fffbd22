// Loads arbitrary bytes as the trace component file and as the catalogue.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "CatalogDecoder.h"
#include "trace/TraceErrors.h"

namespace {

std::string writeTemp(const char* name, const uint8_t* data, size_t size) {
    const std::string path = "/tmp/tessary-fuzz-" + std::to_string(getpid()) + "-" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f != nullptr) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string file = writeTemp("trace.xml", data, size);
    for (int asCatalog = 0; asCatalog < 2; ++asCatalog) {
        CatalogDecoder decoder;
        try {
            if (asCatalog)
                decoder.Init(file, EXAMPLES_DIR "/trace/TraceComponents.xml");
            else
                decoder.Init(EXAMPLES_DIR "/trace/TraceCatalog.xml", file);
        } catch (const tracetools::CollectorException&) {
        }
    }
    std::remove(file.c_str());
    return 0;
}
