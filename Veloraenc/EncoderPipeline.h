// Everything behind an encoder handle that processes samples: the input gatherer, the
// optional sample-rate converter, with SBR the SBR encoder and the 2:1 decimator, the mp3
// core and, for VBR, the VBRI writer; plus the delay bookkeeping and the flush.
//
// Init allocates (converters, SBR encoder, buffers); Encode does not.
#pragma once

#include <cstdint>
#include <memory>

#include "CoreEncoder.h"
#include "EncoderApi.h"
#include "InputGatherer.h"
#include "Resampler.h"
#include "SampleFifo.h"
#include "SbrStage.h"
#include "TuningTables.h"
#include "VbriWriter.h"

namespace velora::enc {

struct PipelineSettings {
    int inputRate = 0;
    int inputChannels = 0;
    int inputFormat = kInputInt16;
    EncoderOutputFormat format;
    EncoderConfiguration config;
    const SbrTuningRow* sbrRow = nullptr;  // with SBR on
};

class EncoderPipeline {
public:
    EncoderPipeline();
    ~EncoderPipeline();
    EncoderPipeline(const EncoderPipeline&) = delete;
    EncoderPipeline& operator=(const EncoderPipeline&) = delete;

    // (Re-)initialises for the settings; false (and Ready() false) when a stage refuses.
    bool Init(const PipelineSettings& settings);
    bool Ready() const { return ready_; }

    // Input bytes in (`*consumed` of them taken), whole frames out. Returns the bytes
    // written, 0 when nothing is ready or the flush is over, -1 on error. inputBytes 0
    // flushes.
    int Encode(const uint8_t* input, int inputBytes, int* consumed, uint8_t* output, int outputSize);

    // The VBRI frame's length (0 without VBR); written when `size` suffices.
    int VbrHeader(uint8_t* buffer, int size) const;

    int MinOutputBytes() const;
    // Delay of the decoded stream behind the input, in stream samples.
    int DelaySamples() const { return delayStream_; }
    int CoreRate() const { return coreRate_; }
    int CodedChannels() const { return codedChannels_; }
    bool SbrActive() const { return sbr_.Active(); }
    float CoreBandwidth() const { return core_->Bandwidth(); }
    const SbrStage& Sbr() const { return sbr_; }
    bool Finished() const { return finished_; }

    // Every SBR payload in stream order goes to this hook when set (for tests).
    using PayloadHook = void (*)(void* context, const sbr::SbrExchange& exchange);
    void SetPayloadHook(PayloadHook hook, void* context) {
        hook_ = hook;
        hookContext_ = context;
    }

private:
    void Release();
    bool CreateResampler(resample::Resampler*& r, resample::ResamplerInfo& info, int channels, int from,
                         int to, int blockSamples, double cutoff);
    bool ProcessGathered();
    bool RunFullRateFrames();
    bool RunCoreGranules(const SbrContainerData* sbr);
    int EmitReady(uint8_t* output, int size);
    bool MoreFlushFrames() const;

    PipelineSettings settings_;
    bool ready_ = false;
    bool sbrOn_ = false;  // the format's SBR mode (the core then runs at half the output rate)
    bool vbr_ = false;
    int outputRate_ = 0;
    int coreRate_ = 0;
    int codedChannels_ = 1;
    int gatheredChannels_ = 1;  // channels after the gatherer (and the converter)
    int streamFrameSamples_ = 576;  // per channel, at the output rate, one core frame's worth
    bool lcStereo_ = false;

    InputGatherer gatherer_;
    resample::Resampler* converter_ = nullptr;
    resample::ResamplerInfo converterInfo_;
    SampleFifo outputRateFifo_;  // at the output rate, gathered channels
    SbrStage sbr_;
    resample::Resampler* decimator_ = nullptr;
    resample::ResamplerInfo decimatorInfo_;
    SampleFifo coreFifo_;  // at the core rate, coded channels
    std::unique_ptr<float[]> monoMix_;  // LC Stereo: the core's one channel
    std::unique_ptr<CoreEncoder> core_;
    VbriWriter vbri_;

    // Delay bookkeeping.
    int delayStream_ = 0;
    int64_t delayInputBytes_ = 0;

    // Counters and the flush.
    int64_t inputBytes_ = 0;
    int64_t streamSamplesCoded_ = 0;  // per channel, what the coded frames decode to
    uint32_t bytesEmitted_ = 0;
    bool flushing_ = false;
    int64_t framesToFlush_ = 0;
    bool coreFlushed_ = false;
    bool finished_ = false;

    PayloadHook hook_ = nullptr;
    void* hookContext_ = nullptr;
};

}  // namespace velora::enc
