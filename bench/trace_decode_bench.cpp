// Decoding trace messages in memory: a bulk of the example catalogue's
// messages (catalogued with numbers and strings, inline, hex buffers).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CatalogDecoder.h"
#include "trace/TracePacket.h"

namespace {

std::vector<uint8_t> u32(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> out;
    for (uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

// The messages of one bulk, back to back, and their count.
std::vector<uint8_t> bulkMessages(size_t& count) {
    std::vector<std::vector<uint8_t>> kinds;
    kinds.push_back(tracepkt::encodeMessage(1000, 1, 6, 0x00, u32({1, 3, 1, 0, 3426})));
    std::vector<uint8_t> sensor = u32({2});
    const std::string name = "accelerometer";
    sensor.insert(sensor.end(), name.begin(), name.end());
    sensor.push_back(0);
    const std::vector<uint8_t> interval = u32({10});
    sensor.insert(sensor.end(), interval.begin(), interval.end());
    kinds.push_back(tracepkt::encodeMessage(1250, 1, 5, 0x11, sensor));
    kinds.push_back(tracepkt::encodeMessage(2000, 1, 3, 0x10, u32({3, 1, 0x1e})));
    kinds.push_back(tracepkt::encodeMessage(2100, 1, 6, 0x01, u32({5, 40960, 37})));
    const std::string inlineText = "boot took %u ms\n";
    std::vector<uint8_t> inlineMessage(inlineText.begin(), inlineText.end());
    inlineMessage.push_back(0);
    const std::vector<uint8_t> value = u32({42});
    inlineMessage.insert(inlineMessage.end(), value.begin(), value.end());
    kinds.push_back(tracepkt::encodeMessage(1300, 0, 7, 0x00, inlineMessage));
    std::vector<uint8_t> bytes;
    count = 0;
    while (bytes.size() < 4000) {
        const std::vector<uint8_t>& m = kinds[count % kinds.size()];
        bytes.insert(bytes.end(), m.begin(), m.end());
        ++count;
    }
    return bytes;
}

void BM_DecodeBulk(benchmark::State& state) {
    CatalogDecoder decoder;
    decoder.Init(EXAMPLES_DIR "/trace/TraceCatalog.xml", EXAMPLES_DIR "/trace/TraceComponents.xml");
    size_t count = 0;
    const std::vector<uint8_t> bytes = bulkMessages(count);
    std::string text;
    for (auto _ : state) {
        for (size_t at = 0; at < bytes.size();) {
            tracepkt::TraceMessage message;
            tracepkt::readMessage(bytes.data() + at, bytes.size() - at, message);
            decoder.Decode(message, text);
            benchmark::DoNotOptimize(text.data());
            at += tracepkt::kMessageHeaderSize + message.bufferLength;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
}
BENCHMARK(BM_DecodeBulk);

}  // namespace

namespace {

// The collector's own output cost per line, without decoding: the line written
// and flushed to the console (here /dev/null) and to a log file, as the
// logger does so that nothing decoded is lost.
void BM_FlushedLines(benchmark::State& state) {
    const std::string line = "[INFO:1000:SCHEDULER] firmware started, version 3.1.0.3426\n";
    FILE* console = std::fopen("/dev/null", "w");
    FILE* log = std::fopen("/tmp/tessary-bench-trace.log", "w");
    for (auto _ : state) {
        std::fwrite(line.data(), 1, line.size(), console);
        std::fflush(console);
        std::fwrite(line.data(), 1, line.size(), log);
        std::fflush(log);
    }
    std::fclose(console);
    std::fclose(log);
    std::remove("/tmp/tessary-bench-trace.log");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_FlushedLines);

}  // namespace
