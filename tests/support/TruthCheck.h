// A record read back from the hub or a result file against the truth of the
// simulated device, to what the flow can determine.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "Records.h"
#include "TruthMatrix.h"

namespace truth {

// How far each record may be from the truth, by what the flow determines.
inline void expectUndone(const std::string& what, const records::Record& r, const Errors& truth, int type, Flow flow,
                         bool lid, double field = kField) {
    ASSERT_TRUE(r.found) << what;
    const records::M3 c = truth.correction();
    if (type == 115) {
        const double g = 1e6;  // the record's offsets are micro-g
        if (flow == Flow::Minimal) {
            // One position: the offset that makes it read gravity, on top of
            // the firmware's scale and mapping.
            const V expected = {0, 0, lid ? -1.0 : 1.0};
            V raw = records::apply(records::inverse(c), expected);
            for (int i = 0; i < 3; ++i)
                raw[i] += truth.offset[i] - r.offset[i] / g;
            const V read = records::apply(r.correction, raw);
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(read[i], expected[i], 0.003) << what << " face-up reading " << i;
            return;
        }
        if (flow == Flow::Full) {
            EXPECT_LE(records::largestDifference(r.correction, c), kAccTolerance) << what;
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(r.offset[i] / g, truth.offset[i], kAccTolerance) << what << " offset " << i;
            return;
        }
        // Three positions: the scale of each axis and the offsets, both to
        // what the misalignment the flow cannot see leaves (about one degree
        // here: 1.5 % and 20 mg).
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(r.correction[4 * i] / c[4 * i], 1.0, 0.015) << what << " scale " << i;
            EXPECT_NEAR(r.offset[i] / g, truth.offset[i], 0.02) << what << " offset " << i;
        }
        return;
    }
    if (type == 118) {
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(r.offset[i] / 1e5, truth.offset[i], kGyroOffsetTolerance) << what << " offset " << i;
        if (flow == Flow::Full) {
            EXPECT_LE(records::largestDifference(r.correction, c), kGyroScaleTolerance) << what;
        } else if (flow == Flow::FourSteps) {
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(r.correction[4 * i] / c[4 * i], 1.0, 0.01) << what << " scale " << i;
        }
        return;
    }
    // The magnetometer's shape is known up to the field's strength; its centre
    // to 1 % of the field.
    EXPECT_LE(records::largestDifference(shapeOf(r.correction, c), c), kMagShapeTolerance) << what;
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(r.offset[i] / 1e3, truth.offset[i], kMagCentreShare * field) << what << " centre " << i;
}

}  // namespace truth
