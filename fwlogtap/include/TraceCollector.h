// Collects the firmware's trace bulks from the trace client, decodes every
// message and hands the lines to the logger.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CatalogDecoder.h"
#include "Logger.h"
#include "device/DoxiTrace.h"

class TraceCollector {
public:
    // Loads the catalogue files (CollectorException 8198 when they cannot be
    // used) and opens the log file.
    TraceCollector(std::shared_ptr<doxi::trace::TInterface> transport, const std::string& catalogPath,
                   const std::string& componentPath, const std::string& logPath);

    // One collection pass: connects, reads (after a flush request when asked)
    // and decodes until one bulk is handled, or with continuous until the stop
    // flag is set; disconnects. Returns 0, or 8196 when the client was
    // already connected.
    int handleTraceMessage(std::vector<char>& buffer, bool continuous, bool flush, bool saveRaw);

    static constexpr size_t kReceiveSize = 4096;

private:
    CatalogDecoder decoder;
    std::shared_ptr<doxi::trace::TInterface> transport;
    Logger* logger;

    // Decodes and logs the messages of bytes [start, end) of the buffer.
    void decodeMessages(const std::vector<char>& buffer, size_t start, size_t end);
};
