// The rows of a dump file: its lines read a block at a time, and its body in
// chunks of whole lines whose plain rows are converted on two threads.
#pragma once

#include <cstddef>
#include <future>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "SensorData.h"
#include "Units.h"

namespace dumprows {

// How the values of a row are taken into the sensor's unit.
struct RowUnits {
    bool convert = false;
    UnitsEnum from = Unit_unknown, to = Unit_unknown;
};

// A row as the tools write it: only plain numbers between the commas, expected
// fields in all. False for anything else, which is left to the general
// reading with its checks and messages.
bool parsePlainRow(std::string_view line, size_t expected, const RowUnits& units, SensorData& sample);

// Lines of a stream read a block at a time: a dump of millions of rows costs
// one copy per block instead of one stream call per row. A line is given
// without its end, and without the carriage return of a file written elsewhere.
class LineReader {
public:
    explicit LineReader(std::istream& stream) : in(stream) {}

    bool next(std::string_view& line);
    bool next(std::string& line);
    // What was read from the stream past the lines given so far; the reader
    // gives no more lines after it.
    std::string_view takeRest();
    std::istream& stream() { return in; }

private:
    static constexpr size_t kBlock = 1 << 16;
    std::istream& in;
    std::vector<char> buffer = std::vector<char>(kBlock);
    size_t start = 0, filled = 0;

    bool fill();
};

// One line of the body: its sample where it is a plain row, else its text
// for the general reading.
struct Row {
    SensorData sample;
    std::string_view text;
    bool plain = false;
};

// The body of a dump after the lines a LineReader gave, in chunks of whole
// lines. Every other chunk's plain rows are converted on a second thread
// while this one converts the chunk after it and takes the rows of those
// before; the rows still come in the order of the file.
class RowChunks {
public:
    RowChunks(LineReader& reader, size_t expected, const RowUnits& units, size_t chunkBytes = size_t(1) << 19);

    // The rows of the next chunk, in the order of the file; false at the end.
    // They stay valid until the next call.
    bool next(const std::vector<Row>*& rows);

private:
    struct Chunk {
        std::vector<char> text;  // its first length characters
        size_t length = 0;
        std::vector<Row> rows;
    };
    std::istream& in;
    const size_t expected;
    const RowUnits units;
    const size_t chunkBytes;
    std::vector<char> carry;  // the unfinished line after the last chunk read
    bool ended = false;
    bool started = false;
    Chunk chunks[3];
    // The chunks whose rows are ready, in the order of the file, and how
    // many of them were given.
    int ready[2] = {0, 0};
    int readyCount = 0, given = 0;
    // The chunk the second thread converts (the next in the file after the
    // ready ones); declared after the chunks, so that it is waited for
    // before they go.
    int pendingSlot = -1;
    std::future<void> pending;

    bool read(Chunk& chunk);
    void convert(Chunk& chunk) const;
    // Reads the next chunk into slot and has it converted: on the second
    // thread, or here where it is the last.
    void start(int slot);
};

}  // namespace dumprows
