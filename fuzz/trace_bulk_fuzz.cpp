// Decodes arbitrary bytes as the messages of a trace bulk with the example
// catalogue: every read must stay inside the bytes given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "CatalogDecoder.h"
#include "trace/TracePacket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CatalogDecoder decoder = [] {
        CatalogDecoder d;
        d.Init(EXAMPLES_DIR "/trace/TraceCatalog.xml", EXAMPLES_DIR "/trace/TraceComponents.xml");
        return d;
    }();
    // A copy of exactly the input's size, so a read past it is caught.
    const std::vector<uint8_t> bytes(data, data + size);
    std::string text;
    for (size_t at = 0; at < bytes.size();) {
        tracepkt::TraceMessage message;
        if (tracepkt::readMessage(bytes.data() + at, bytes.size() - at, message) ==
            tracepkt::MessageRead::TruncatedHeader)
            break;
        decoder.Decode(message, text);
        at += tracepkt::kMessageHeaderSize + message.bufferLength;
    }
    // The same bytes as a format string over themselves as arguments.
    text.clear();
    const size_t half = bytes.size() / 2;
    CatalogDecoder::expand(reinterpret_cast<const char*>(bytes.data()), half, bytes.data() + half, bytes.size() - half,
                           text);
    return 0;
}
