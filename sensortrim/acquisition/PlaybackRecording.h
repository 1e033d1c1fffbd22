// A sensor's samples loaded from a dump for playback. They are held in blocks
// that are released once played: the sensors buffer what they are given, and
// a long recording is not held twice over. The time stamps stay for the checks
// after the playback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "LargePages.h"
#include "SensorData.h"

class PlaybackRecording {
public:
    void reserve(size_t samples) {
        times.reserve(samples);
        adviseLargePages(times.data(), samples * sizeof(double));
        blocks.reserve(samples / kBlock + 1);
    }

    void push_back(const SensorData& sample) {
        if (count % kBlock == 0) {
            // Raw storage, advised before anything touches it; the samples are
            // constructed in it as they come.
            std::unique_ptr<SensorData, Free> block(static_cast<SensorData*>(std::malloc(kBlock * sizeof(SensorData))));
            if (!block)
                throw std::bad_alloc();
            adviseLargePages(block.get(), kBlock * sizeof(SensorData));
            blocks.push_back(std::move(block));
        }
        new (blocks.back().get() + count % kBlock) SensorData(sample);
        times.push_back(sample.timestamp);
        ++count;
    }

    size_t size() const { return count; }
    double timestamp(size_t i) const { return times[i]; }
    // A sample not released yet.
    const SensorData& operator[](size_t i) const { return blocks[i / kBlock].get()[i % kBlock]; }

    // Frees the blocks wholly before sample i.
    void releaseBefore(size_t i) {
        for (size_t b = 0; b < i / kBlock && b < blocks.size(); ++b)
            blocks[b].reset();
    }

    // 5 MB a block: above the allocator's mapping threshold, so that a released
    // block goes back to the system at once.
    static constexpr size_t kBlock = size_t(1) << 17;

private:
    std::vector<double> times;
    struct Free {
        void operator()(SensorData* block) const { std::free(block); }
    };
    static_assert(std::is_trivially_destructible<SensorData>::value, "blocks are freed without destructors");
    std::vector<std::unique_ptr<SensorData, Free>> blocks;
    size_t count = 0;
};
