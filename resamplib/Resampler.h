// The encoder's sample-rate converter: a rational-ratio polyphase FIR whose Kaiser low-pass
// is designed at creation. Samples are 32-bit floats, interleaved by channel. Create is the
// only call that allocates; nothing throws.
#pragma once

namespace velora::resample {

struct ResamplerSettings {
    int channels = 2;
    int inputRate = 0;   // Hz
    int outputRate = 0;  // Hz
    // Input samples one Process call consumes at most, all channels counted; a multiple of
    // `channels`.
    int inputBlockSamples = 0;
    // Requested cut-off; lowered to half the lower of the two rates.
    double cutoffHz = 0.0;
    // Transition width as a fraction of the cut-off.
    double transitionFactor = 0.1;
};

enum class ResamplerMode {
    kPassThrough = 0,  // equal rates, full band: samples are copied
    kExact = 1,        // polyphase with one phase per output position (up factor < 512)
    kTable = 2,        // polyphase with a 512-phase table, interpolated between phases
};

enum class CreateError {
    kNone,
    kBadChannels,    // not 1 to kMaxChannels
    kBadRate,        // a rate not positive
    kBadBlockSize,   // not positive, not a multiple of the channels, or an output block too big
    kRatioTooLarge,  // up factor above 512 times the down factor
    kBadFilter,      // cut-off or transition not positive, or a filter longer than kMaxTaps
    kOutOfMemory,
};

// What Create decided; filled in whenever the settings passed validation.
struct ResamplerInfo {
    ResamplerMode mode = ResamplerMode::kPassThrough;
    int upFactor = 1;    // L = output rate / gcd
    int downFactor = 1;  // M = input rate / gcd
    int phases = 0;      // min(L, 512); 0 when passing through
    int filterLength = 0;
    int tapsPerPhase = 0;
    double cutoffHz = 0.0;  // after limiting
    // The output shows the input this many input samples (per channel) late: exactly when
    // the filter length is odd; when it is even its centre lies between two taps, and the
    // exact mode shows it 1 / (2 L) input samples earlier (the table, 1 / (1024 L)).
    int delay = 0;
    int inputBlockSamples = 0;
    // Most output samples a Process call writes: ceil(input frames * L / M) frames.
    int outputBlockSamples = 0;
    // Plain decimation through FFT convolution rather than the time-domain filter.
    bool fastConvolution = false;
};

constexpr int kMaxChannels = 8;
constexpr int kPhaseLimit = 512;
constexpr int kMaxTaps = 1 << 22;

struct Resampler;

// Null on failure, with the reason in `error` (either pointer may be null).
Resampler* Create(const ResamplerSettings& settings, ResamplerInfo* info, CreateError* error);

enum class InputEnd {
    kMore,  // more input follows
    kLast,  // this is the end: a short last block is padded with zeros to the block size
};

// Consumes input from `input[*position]` up to the end of the current block (blocks of
// inputBlockSamples from the start of the stream; whole frames only, at most
// `inputSamples - *position` samples), advances `*position`, and writes the outputs that
// became due to `output` (room for outputBlockSamples needed) and their count, all
// channels counted, to `*outputSamples`. How the input is cut into calls does not change
// the output stream. With kLast, a call that takes all the remaining input pads the rest
// of its block with zeros. False, with nothing consumed or written, on bad arguments.
bool Process(Resampler* resampler, const float* input, int inputSamples, int* position,
             float* output, int outputCapacity, int* outputSamples, InputEnd end = InputEnd::kMore);

void Destroy(Resampler* resampler);

}  // namespace velora::resample
