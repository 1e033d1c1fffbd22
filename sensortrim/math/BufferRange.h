#pragma once

// A stretch of a sample buffer: first and last index, both inclusive.
struct BufferRange {
    int first = 0;
    int last = -1;

    BufferRange() = default;
    BufferRange(int firstIndex, int lastIndex) : first(firstIndex), last(lastIndex) {}
};
