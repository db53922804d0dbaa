// The Layer III core encoder: PCM at the core rate in, granule by granule, complete mp3
// frames out. Per granule: filter bank and block switching per channel, the psychoacoustic
// model; per frame: the stereo decision, the bit budget (constant bit rate with the
// reservoir, or VBR), the quantiser for every granule and channel, and the frame writer,
// which also places the SBR container of the frame.
#pragma once

#include <cstdint>

#include "CodedShare.h"
#include "FilterBank.h"
#include "FrameWriter.h"
#include "Layer3Granule.h"
#include "PsychoacousticModel.h"
#include "Quantiser.h"
#include "RateControl.h"

namespace velora::enc {

struct CoreEncoderSettings {
    int32_t sampleRate = 22050;
    int32_t bitrate = 64000;   // bit/s; 0 for VBR
    int32_t channels = 2;      // coded channels
    bool dualMono = false;     // two independent channels: no stereo coding
    float bandwidth = 0.0f;    // Hz; 0 chooses it from the bit rate per channel
    int32_t vbrQuality = 50;   // 1..100, with bitrate 0
    bool allowMidSide = true;
    bool allowIntensity = false;
    int32_t qualityMode = 1;   // 0 fast .. 2 best
    bool crc = false;
    bool privateBit = false;
    bool copyright = false;
    bool original = true;
    bool sbrContainer = false;  // every frame carries the SBR container
};

class CoreEncoder {
public:
    // Input sample n comes out of a decoder at output sample n + kDelay.
    static constexpr int kDelay = 1201;

    // False for a rate Layer III lacks, a bit rate its version lacks, a channel count other
    // than 1 or 2, or a VBR quality outside 1..100.
    bool Init(const CoreEncoderSettings& settings);
    // One granule: 576 samples per channel, interleaved, full scale +-32768. `sbr` is the
    // SBR data of the frame this granule completes (null: an empty container). False when
    // a frame could not be written (not expected; the encoder then stops).
    bool EncodeGranule(const float* samples, const SbrContainerData* sbr = nullptr);
    // Complete frames, as many as fit into `capacity` bytes.
    int Emit(uint8_t* out, int capacity) { return writer_.Emit(out, capacity); }
    int ReadyBytes() const { return writer_.ReadyBytes(); }
    // At the end: completes the frames written so far (feed kDelay samples of silence first
    // to get the last input samples out).
    bool Flush() { return writer_.Flush(); }

    // False while granules of an unfinished frame are waiting (MPEG-1 frames hold two): an
    // end of stream must feed more before Flush, or they are lost.
    bool AtFrameBoundary() const { return granule_ == 0; }

    float Bandwidth() const { return bandwidth_; }
    int GranulesPerFrame() const { return granules_; }
    int SamplesPerFrame() const { return 576 * granules_; }
    // The largest frame the stream can have, in bytes.
    int MaxFrameBytes() const;

    // The automatic bandwidth of a per-channel bit rate at a sampling rate.
    static float AutomaticBandwidth(int bitratePerChannel, int sampleRate);

    // Statistics of the last frame, for tests and the benchmarks.
    struct FrameStats {
        int32_t bitrateIndex = 0;
        int32_t usedBits = 0;
        int32_t blockType[2][2] = {};
        bool midSide = false;
        float overNoiseDb = 0.0f;  // summed over granules and channels
        int32_t bandsOver = 0;
        // Against the model's thresholds before the rate control raised them: the bands
        // judged and those whose noise exceeds the model's mask.
        int32_t bandsJudged = 0;
        int32_t bandsOverMask = 0;
    };
    const FrameStats& LastFrame() const { return stats_; }
    // With the SBR container on: how much of each slice of the spectrum the frames coded so
    // far keep (the last frame's, where it had long blocks).
    const CodedShare& LastCodedShare() const { return share_; }

private:
    bool EncodeFrame(const SbrContainerData* sbr);
    int QuantiseGranules(QuantiserInput (*inputs)[2], bool intensity, int padding, int sbrBits, int& room);
    int ChooseVbrIndex(int usedBits) const;

    CoreEncoderSettings settings_;
    int granules_ = 2;
    float bandwidth_ = 0.0f;
    int bitrateIndex_ = 0;
    int intensityFirstLine_ = kGranuleLines;
    FrameWriter writer_;
    PsychoacousticModel model_;
    Quantiser quantiser_[2];  // per channel: each starts its gain search from its own last gain
    GranuleAnalyser analyser_[2];
    PaddingClock padding_;
    CbrAllowance allowance_;
    ReservoirPlanner reservoirPlan_;

    // The delay line that makes the core's delay kDelay (the filter bank's is shorter).
    static constexpr int kLeadIn = kDelay - kFilterBankDelay;
    float pending_[2][kGranuleLines + kLeadIn] = {};

    // The frame being gathered.
    int granule_ = 0;
    QuantiserInput input_[2][2];  // [granule][channel], left and right
    QuantiserInput midSide_[2][2];
    StereoDecision stereo_[2];
    GranuleSpectrum spectrum_[2];
    QuantisedGranule quantised_[2][2];
    FrameStats stats_;
    CodedShareMeter shareMeter_;
    CodedShare share_;
};

}  // namespace velora::enc
