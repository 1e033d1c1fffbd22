#include "Hostile.h"

namespace hubsim {

Hostile::Action Hostile::mangle(std::vector<uint8_t>& bytes, int& delayMs) {
    const size_t roll = below(100);
    if (roll < 40) {
        change = "as is";
        return Action::Send;
    }
    if (roll < 52) {
        const size_t length = below(bytes.size());
        change = "cut to " + std::to_string(length) + " of " + std::to_string(bytes.size()) + " bytes";
        bytes.resize(length);
        return Action::Send;
    }
    if (roll < 62) {
        const size_t extra = 1 + below(64);
        for (size_t i = 0; i < extra; ++i)
            bytes.push_back(static_cast<uint8_t>(random()));
        change = "padded with " + std::to_string(extra) + " junk bytes";
        return Action::Send;
    }
    if (roll < 77) {
        // The header carries the statuses, counts and lengths.
        const size_t changes = 1 + below(4);
        change = "junk at";
        for (size_t i = 0; i < changes && !bytes.empty(); ++i) {
            const size_t at = below(std::min<size_t>(bytes.size(), 16));
            bytes[at] = static_cast<uint8_t>(random());
            change += " " + std::to_string(at);
        }
        return Action::Send;
    }
    if (roll < 85) {
        delayMs += static_cast<int>(100 + below(2900));
        change = "delayed to " + std::to_string(delayMs) + " ms";
        return Action::Send;
    }
    if (roll < 93) {
        change = "swallowed";
        return Action::Swallow;
    }
    change = "connection dropped";
    return Action::Close;
}

}  // namespace hubsim
