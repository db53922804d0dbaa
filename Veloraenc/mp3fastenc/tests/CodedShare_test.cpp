// The coded share: what a decoder rebuilds of each 18-line slice, left and right, from the
// quantised values as the frame carries them (plain, mid/side, intensity).
#include "CodedShare.h"

#include <gtest/gtest.h>

#include <cmath>

#include "PsychoacousticConfig.h"

namespace velora::enc {
namespace {

// A long-block record with two bands and the given lines (model scale).
QuantiserInput Record(const float* modelLines) {
    QuantiserInput in;
    in.windows = 1;
    in.bands = 2;
    in.usedBands = 2;
    in.bounds[0] = 0;
    in.bounds[1] = 288;
    in.bounds[2] = kGranuleLines;
    for (int k = 0; k < kGranuleLines; ++k) in.lines[k] = modelLines[k] / static_cast<float>(kModelScale);
    return in;
}

// Global gain 210 and no scale factors: a value q decodes to q^(4/3).
QuantisedGranule Values(const int* q) {
    QuantisedGranule g;
    g.globalGain = 210;
    for (int k = 0; k < kGranuleLines; ++k) g.values[k] = q[k];
    return g;
}

TEST(mp3fastenc_CodedShare, DroppedSlicesShowAsEmptyKeptOnesAsWhole) {
    float lines[kGranuleLines];
    int q[kGranuleLines];
    for (int k = 0; k < kGranuleLines; ++k) {
        q[k] = k < 16 * 18 ? (k % 2 == 0 ? 8 : -8) : 0;  // slices 16.. dropped
        lines[k] = k % 2 == 0 ? 16.0f : -16.0f;           // 8 decodes to 16
    }
    const QuantiserInput in = Record(lines);
    const QuantisedGranule g = Values(q);
    CodedShareMeter meter;
    meter.Reset();
    meter.AddGranule(&in, &in, &g, 1, false, kGranuleLines);
    CodedShare share;
    meter.Finish(share);
    for (int s = 0; s < kShareSlices; ++s) EXPECT_NEAR(share.share[0][s], s < 16 ? 1.0f : 0.0f, 1e-4f) << s;
    EXPECT_EQ(share.share[1][0], 1.0f) << "a mono frame leaves the second channel untouched";
}

TEST(mp3fastenc_CodedShare, MidSideIsTurnedBackIntoLeftAndRight) {
    // Left 3/4 of right: mid and side are both non-zero; a frame that keeps mid and drops
    // side rebuilds (L + R) / 2 in both channels.
    const float root2 = std::sqrt(2.0f);
    float left[kGranuleLines], right[kGranuleLines], mid[kGranuleLines], side[kGranuleLines];
    int qm[kGranuleLines], qs[kGranuleLines];
    for (int k = 0; k < kGranuleLines; ++k) {
        mid[k] = 16.0f;  // q = 8 exactly
        side[k] = 16.0f / 7.0f;
        left[k] = (mid[k] + side[k]) / root2;
        right[k] = (mid[k] - side[k]) / root2;
        qm[k] = 8;
        qs[k] = 0;
    }
    const QuantiserInput original[2] = {Record(left), Record(right)};
    const QuantiserInput coded[2] = {Record(mid), Record(side)};
    const QuantisedGranule g[2] = {Values(qm), Values(qs)};
    CodedShareMeter meter;
    meter.Reset();
    meter.AddGranule(original, coded, g, 2, true, kGranuleLines);
    CodedShare share;
    meter.Finish(share);
    const float rebuilt = 16.0f / root2;
    for (int s = 0; s < kShareSlices; ++s) {
        EXPECT_NEAR(share.share[0][s], rebuilt * rebuilt / (left[0] * left[0]), 1e-3f);
        EXPECT_NEAR(share.share[1][s], rebuilt * rebuilt / (right[0] * right[0]), 1e-3f);
    }
}

TEST(mp3fastenc_CodedShare, IntensityBandsFollowTheFirstChannelShortBlocksAreLeftOut) {
    float lines[kGranuleLines];
    int q0[kGranuleLines], q1[kGranuleLines];
    for (int k = 0; k < kGranuleLines; ++k) {
        lines[k] = 16.0f;
        q0[k] = k < 20 * 18 ? 8 : 0;  // the first channel drops slices 20..
        q1[k] = k < 10 * 18 ? 8 : 0;  // the second is intensity coded from slice 10
    }
    const QuantiserInput in[2] = {Record(lines), Record(lines)};
    const QuantisedGranule g[2] = {Values(q0), Values(q1)};
    CodedShareMeter meter;
    meter.Reset();
    meter.AddGranule(in, in, g, 2, false, 10 * 18);
    QuantiserInput shortBlocks[2] = {in[0], in[1]};
    shortBlocks[0].windows = shortBlocks[1].windows = 3;
    const QuantisedGranule silent[2];
    meter.AddGranule(shortBlocks, shortBlocks, silent, 2, false, kGranuleLines);  // ignored
    CodedShare share;
    meter.Finish(share);
    for (int s = 0; s < kShareSlices; ++s) {
        const float first = s < 20 ? 1.0f : 0.0f;
        EXPECT_NEAR(share.share[0][s], first, 1e-4f) << s;
        EXPECT_NEAR(share.share[1][s], first, 1e-4f) << s;
    }
}

}  // namespace
}  // namespace velora::enc
