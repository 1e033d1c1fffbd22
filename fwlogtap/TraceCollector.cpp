#include "TraceCollector.h"

#include <cstdio>
#include <stdexcept>

#include "StopSign.h"
#include "trace/TraceErrors.h"
#include "trace/TracePacket.h"

using tracetools::CollectorException;

TraceCollector::TraceCollector(std::shared_ptr<doxi::trace::TInterface> t, const std::string& catalogPath,
                               const std::string& componentPath, const std::string& logPath)
    : transport(std::move(t)), logger(&Logger::Inst()) {
    decoder.Init(catalogPath, componentPath);
    if (!logger->open(logPath))
        throw std::runtime_error("Cannot open log file " + logPath);
}

void TraceCollector::decodeMessages(const std::vector<char>& buffer, size_t start, size_t end) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(buffer.data());
    std::string text;
    for (size_t address = start; address < end;) {
        tracepkt::TraceMessage message;
        if (tracepkt::readMessage(bytes + address, end - address, message) == tracepkt::MessageRead::TruncatedHeader) {
            char reason[128];
            std::snprintf(reason, sizeof reason,
                          "<Decoder error> Message header truncated: %zu of %zu header bytes were read\n",
                          end - address, tracepkt::kMessageHeaderSize);
            logger->PrintMsg(0, reason);
            return;
        }
        if (!decoder.Decode(message, text))
            text = "<Decoder error> " + text;
        logger->PrintMsg(message.priority, text);
        address += tracepkt::kMessageHeaderSize + message.bufferLength;
    }
}

int TraceCollector::handleTraceMessage(std::vector<char>& buffer, bool continuous, bool flush, bool /*saveRaw*/) {
    VERBOSE_TRACE();
    if (transport->Connect() != 1)
        return tracetools::kConnectFailed;
    StopSign& stop = StopSign::Inst();
    bool waitingForBulk = false;
    int bytesRead = 0;
    // The start of a packet header that came short; the rest follows.
    std::vector<char> partial;
    std::vector<char> joined;
    try {
        while (!stop.isSet()) {
            if (flush && bytesRead == 0 && !waitingForBulk) {
                VERBOSE_TRACE();
                const std::vector<uint8_t> request = tracepkt::request(tracepkt::TRACE_CMD_FLUSH);
                const std::vector<char> bytes(request.begin(), request.end());
                if (transport->Write(bytes, bytes.size(), 2000) < static_cast<int>(tracepkt::kHeaderSize))
                    throw doxi::trace::DoxiException(doxi::trace::kDoxiGeneralError);
            }
            bytesRead = transport->Read(buffer, kReceiveSize, 5000);
            if (bytesRead <= 0) {
                bytesRead = 0;
                transport->CancelOperation();
                continue;
            }
            const std::vector<char>* packet = &buffer;
            size_t size = static_cast<size_t>(bytesRead);
            if (!partial.empty()) {
                joined = partial;
                joined.insert(joined.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
                partial.clear();
                packet = &joined;
                size = joined.size();
            }
            // Shorter than a header: like a header alone, it waits for the rest.
            if (size < tracepkt::kHeaderSize && !waitingForBulk) {
                VERBOSE_TRACE();
                partial.assign(packet->begin(), packet->begin() + static_cast<std::ptrdiff_t>(size));
                continue;
            }
            tracepkt::trace_doxi_header_t header;
            const bool hasHeader =
                tracepkt::decodeHeader(reinterpret_cast<const uint8_t*>(packet->data()), size, header);
            size_t start = 0;
            if (flush && hasHeader && header.command == tracepkt::TRACE_CMD_FLUSH && !waitingForBulk) {
                VERBOSE_TRACE();
                if (size == tracepkt::kHeaderSize)
                    continue;
                char text[96];
                std::snprintf(text, sizeof text, "\n!!!!! flush response abnormal, bytesRead %d\n\n", bytesRead);
                logger->PrintMsg(0, text);
                throw CollectorException(tracetools::kHandleMessageFailed);
            }
            if (hasHeader && header.command == tracepkt::TRACE_CMD_BULK && !waitingForBulk) {
                VERBOSE_TRACE();
                if (size < tracepkt::kHeaderSize + 1) {
                    // The messages follow in the next read.
                    waitingForBulk = true;
                    continue;
                }
                waitingForBulk = false;
                start = tracepkt::kHeaderSize;
            }
            if (start == 0 && !waitingForBulk) {
                logger->PrintMsg(0, " address == 0, no message header found\n");
                throw CollectorException(tracetools::kHandleMessageFailed);
            }
            try {
                decodeMessages(*packet, start, size);
            } catch (const std::exception&) {
                throw CollectorException(tracetools::kHandleMessageFailed);
            }
            waitingForBulk = false;
            if (!continuous)
                break;
        }
    } catch (...) {
        transport->Disconnect();
        throw;
    }
    transport->Disconnect();
    return tracetools::kSuccess;
}
