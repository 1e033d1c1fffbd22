// A firmware that misbehaves at random. From a seed, each answer is left alone,
// cut short, padded with junk, given junk in its header fields (statuses,
// counts, lengths), delayed, swallowed, or replaced by a dropped connection.
// The same seed and the same requests give the same answers, so a failure
// found with a seed replays.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace hubsim {

class Hostile {
public:
    enum class Action { Send, Swallow, Close };

    explicit Hostile(uint64_t seed) : random(seed) {}

    // Changes the answer (bytes, delay) and says what to do with it; what was
    // done is in lastChange, for the journal.
    Action mangle(std::vector<uint8_t>& bytes, int& delayMs);
    const std::string& lastChange() const { return change; }
    // True once in n calls on average.
    bool oneIn(size_t n) { return below(n) == 0; }

private:
    std::mt19937_64 random;
    std::string change;

    size_t below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(random() % n); }
};

}  // namespace hubsim
