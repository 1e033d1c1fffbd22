#include "DumpRows.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include <string.h>  // memrchr

#include "DumpNumbers.h"

namespace dumprows {

namespace {

// The numbers of a plain row from p on, as far as they go: where they stop,
// or nullptr where they are not a plain row's.
const char* parsePlainFields(const char* p, const char* end, size_t expected, const RowUnits& units,
                             SensorData& sample) {
    p = dumpnumbers::parseTimestamp(p, end, sample.timestamp);
    if (!p)
        return nullptr;
    sample.values.clear();
    for (size_t field = 1; field < expected; ++field) {
        if (p == end || *p != ',')
            return nullptr;
        double value = 0;
        p = dumpnumbers::parseValue(p + 1, end, value);
        if (!p)
            return nullptr;
        if (units.convert)
            value = Conversions::Convert(value, units.from, units.to);
        sample.values.push_back(value);
    }
    return p;
}

}  // namespace

bool parsePlainRow(std::string_view line, size_t expected, const RowUnits& units, SensorData& sample) {
    const char* end = line.data() + line.size();
    return parsePlainFields(line.data(), end, expected, units, sample) == end;
}

namespace {

std::string_view lineOf(const char* begin, const char* end) {
    if (end > begin && end[-1] == '\r')
        --end;
    return std::string_view(begin, static_cast<size_t>(end - begin));
}

}  // namespace

bool LineReader::next(std::string_view& line) {
    while (true) {
        const char* begin = buffer.data() + start;
        const char* end = static_cast<const char*>(std::memchr(begin, '\n', filled - start));
        if (end) {
            start = static_cast<size_t>(end - buffer.data()) + 1;
            line = lineOf(begin, end);
            return true;
        }
        if (!fill()) {
            if (start == filled)
                return false;
            end = buffer.data() + filled;
            start = filled;
            line = lineOf(begin, end);
            return true;
        }
    }
}

bool LineReader::next(std::string& line) {
    std::string_view view;
    if (!next(view))
        return false;
    line.assign(view);
    return true;
}

std::string_view LineReader::takeRest() {
    const std::string_view rest(buffer.data() + start, filled - start);
    start = filled;
    return rest;
}

// Keeps the unfinished line and reads more after it; false at the end.
bool LineReader::fill() {
    if (!in)
        return false;
    const size_t kept = filled - start;
    std::memmove(buffer.data(), buffer.data() + start, kept);
    start = 0;
    filled = kept;
    // A line longer than the buffer grows it.
    if (buffer.size() - filled < kBlock / 2)
        buffer.resize(buffer.size() * 2);
    in.read(buffer.data() + filled, static_cast<std::streamsize>(buffer.size() - filled));
    const size_t got = static_cast<size_t>(in.gcount());
    filled += got;
    return got > 0;
}

RowChunks::RowChunks(LineReader& reader, size_t expectedFields, const RowUnits& rowUnits, size_t bytes)
    : in(reader.stream()), expected(expectedFields), units(rowUnits), chunkBytes(bytes < 1 ? 1 : bytes) {
    const std::string_view rest = reader.takeRest();
    carry.assign(rest.begin(), rest.end());
}

bool RowChunks::read(Chunk& chunk) {
    chunk.rows.clear();
    // The unfinished line after the last chunk first. The text's storage
    // keeps its size from chunk to chunk: only its first use clears it.
    chunk.length = carry.size();
    if (chunk.text.size() < chunk.length + chunkBytes)
        chunk.text.resize(chunk.length + chunkBytes);
    std::copy(carry.begin(), carry.end(), chunk.text.begin());
    carry.clear();
    if (ended)
        return chunk.length > 0;
    // At least chunkBytes, and on to the end of a line: a line longer than
    // a chunk makes its chunk longer.
    while (true) {
        const size_t had = chunk.length;
        if (chunk.text.size() < had + chunkBytes)
            chunk.text.resize(had + chunkBytes);
        in.read(chunk.text.data() + had, static_cast<std::streamsize>(chunkBytes));
        const size_t got = static_cast<size_t>(in.gcount());
        chunk.length = had + got;
        if (got == 0) {
            ended = true;
            break;
        }
        const char* data = chunk.text.data();
        const char* last = static_cast<const char*>(::memrchr(data + had, '\n', got));
        if (last) {
            const size_t cut = static_cast<size_t>(last - data) + 1;
            carry.assign(data + cut, data + chunk.length);
            chunk.length = cut;
            break;
        }
    }
    return chunk.length > 0;
}

void RowChunks::convert(Chunk& chunk) const {
    const char* p = chunk.text.data();
    const char* const end = p + chunk.length;
    while (p < end) {
        Row row;
        // A plain row is read where it stands: its numbers end where its
        // line does (at a line end, a carriage return before one, or the
        // end of the file). Any other line is found and left as text.
        const char* stop = parsePlainFields(p, end, expected, units, row.sample);
        const char* lineEnd = nullptr;
        if (stop && (stop == end || *stop == '\n')) {
            lineEnd = stop;
        } else if (stop && *stop == '\r' && (stop + 1 == end || stop[1] == '\n')) {
            lineEnd = stop + 1;
        } else {
            stop = nullptr;
            lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!lineEnd)
                lineEnd = end;
        }
        row.text = lineOf(p, lineEnd);
        row.plain = stop != nullptr;
        chunk.rows.push_back(row);
        p = lineEnd + 1;
    }
}

void RowChunks::start(int slot) {
    pendingSlot = -1;
    if (!read(chunks[slot]))
        return;
    pendingSlot = slot;
    if (ended && carry.empty()) {
        // The whole rest of the file: no second thread for it.
        convert(chunks[slot]);
        return;
    }
    try {
        pending = std::async(std::launch::async, [this, slot] { convert(chunks[slot]); });
    } catch (const std::system_error&) {
        // No thread to be had: the chunk is converted here.
        convert(chunks[slot]);
    }
}

bool RowChunks::next(const std::vector<Row>*& rows) {
    if (given < readyCount) {
        rows = &chunks[ready[given++]].rows;
        return true;
    }
    given = readyCount = 0;
    if (!started) {
        started = true;
        start(0);
    }
    if (pendingSlot < 0)
        return false;
    // This thread reads and converts the chunk after the pending one, then
    // sets the second thread on the one after that, and takes their rows
    // meanwhile.
    const int waiting = pendingSlot;
    const int own = (waiting + 1) % 3;
    const bool more = read(chunks[own]);
    if (more)
        convert(chunks[own]);
    if (pending.valid())
        pending.get();
    ready[readyCount++] = waiting;
    pendingSlot = -1;
    if (more) {
        ready[readyCount++] = own;
        start((waiting + 2) % 3);
    }
    rows = &chunks[ready[given++]].rows;
    return true;
}

}  // namespace dumprows
