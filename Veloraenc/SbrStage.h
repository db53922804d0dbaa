// The SBR encoder as the pipeline drives it: created from a tuning row, fed one full-rate
// frame (interleaved, as the pipeline holds it), and answering with the frame's container
// contents for the core.
#pragma once

#include <cstdint>

#include "CodedShare.h"
#include "FrameWriter.h"
#include "SbrEncoder.h"
#include "SbrPayloadAdapter.h"
#include "TuningTables.h"

namespace velora::enc {

struct SbrStageSettings {
    int bitrate = 0;        // the bit rate the row was chosen by
    int codedChannels = 2;  // core channels
    int coreRate = 22050;
    bool lcStereo = false;  // one core channel from a two-channel input
    bool dualMono = false;  // never couple the two channels
    int coreDelay = 0;      // full-rate samples of decimator and core
    const SbrTuningRow* row = nullptr;
};

class SbrStage {
public:
    static constexpr int kFrameLength = 1152;  // full-rate samples, one MPEG-2 core frame

    SbrStage() = default;
    ~SbrStage() { Release(); }
    SbrStage(const SbrStage&) = delete;
    SbrStage& operator=(const SbrStage&) = delete;

    // False when the SBR encoder refuses the settings or memory is short.
    bool Create(const SbrStageSettings& settings);
    void Release();
    bool Active() const { return encoder_ != nullptr; }

    float Crossover() const;
    // Channels of the frames Encode takes.
    int InputChannels() const;

    // One frame of kFrameLength samples per channel, interleaved. The result stays valid
    // until the next call; a payload the encoder could not write is the empty container.
    const SbrContainerData& Encode(const float* interleaved);
    // What the core kept of its bands in its last frame (see SbrEncoder::SetSourceShare).
    void SetSourceShare(const CodedShare& share, int codedChannels);

    // The last payload as the SBR encoder wrote it.
    const sbr::SbrExchange& Exchange() const { return exchange_; }

private:
    sbr::SbrEncoder* encoder_ = nullptr;
    sbr::SbrExchange exchange_;
    SbrContainerData container_;
    float blocks_[2 * kFrameLength] = {};
    uint8_t scratch_[kSbrContainerScratchBytes] = {};
};

}  // namespace velora::enc
