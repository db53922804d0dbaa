// The Layer III frame procedure: side information and CRC, the bit reservoir, granule
// decoding to PCM, concealment, and the SBR payload and ancillary text behind the main data.
#pragma once

#include <cstdint>

#include "BitBuffer.h"
#include "Concealment.h"
#include "Mp3Ssc.h"
#include "MpegStream.h"
#include "ScaleFactors.h"
#include "SideInfo.h"
#include "Synthesis.h"

namespace velora {

// Room the caller gives for ancillary text: two items of up to 270 characters and a zero.
constexpr int kAncillaryTextCapacity = 544;
constexpr int kMaxSbrPayload = 511;  // first byte and up to 510 more

class Layer3Decoder {
public:
    static constexpr int kReservoirSize = 2048;

    Layer3Decoder();
    // Clears the reservoir and the previous SBR length; `full` also clears concealment,
    // synthesis, overlap and hybrid state.
    void Reset(bool full);

    // Decodes the frame at the stream's read position into `output` (interleaved floats,
    // full scale +-32768). `coreBytes` receives the size of the frame as 16-bit PCM.
    // `text` (kAncillaryTextCapacity bytes) and `textLength` may be null.
    Mp3Ssc DecodeFrame(MpegStream& stream, float* output, int destinationSize, int* coreBytes,
                       char* text, int* textLength, int shift, bool mono);

    const uint8_t* SbrPayload() const { return sbrPayload_; }
    int SbrPayloadLength() const { return sbrLength_; }
    int OutputChannels() const { return outputChannels_; }
    // Subband samples of the last decoded granule: [subband][slot], slots 0..17.
    const float (*Hybrid(int channel) const)[kSlotLanes] { return hybrid_[channel]; }

private:
    struct FrameLayout {
        int channels;
        int samplingIndex;
        int frameBits;
        int mode;
        int modeExtension;
        int headerBits;
        bool mpeg1;
        int version;
        bool crcPresent;
        int sideInfoBytes;
    };

    bool CheckCrc(BitBuffer& input);
    bool FillReservoir(MpegStream& stream);
    void ScanAncillaryText(char* text, int* textLength);
    void DecodeGranule(int gr, bool conceal, float* output, int shift, bool mono);
    void FindSbrPayload(int mainDataStartUnread);

    FrameLayout frame_{};
    SideInfo side_;
    ScaleFactors scaleFactors_[2];
    GranuleInfo granule_[2];
    float powered_[576];
    float spectrum_[2][576];
    float overlap_[2][32][18];
    float hybrid_[2][32][kSlotLanes];
    Synthesis synthesis_[2];
    Concealment concealment_;

    uint8_t reservoirStorage_[kReservoirSize];
    BitBuffer reservoir_;
    int ancillaryBits_ = 0;  // unread reservoir bits at the end of the previous frame
    int keptBits_ = 0;       // unread reservoir bits before this frame's bytes came
    int previousSbrBytes_ = 0;
    uint8_t sbrPayload_[kMaxSbrPayload];
    int sbrLength_ = 0;
    int outputChannels_ = 1;
};

}  // namespace velora
