// Writes Layer III frames: header (with CRC when on), side information, the main data of
// every granule and channel, the stuffing that keeps the reservoir within its limits, filler
// bits, the SBR payload container and external ancillary bytes; keeps the bit reservoir and
// hands each frame to the assembler, which places the main data behind main_data_begin.
#pragma once

#include <cstdint>

#include "BitWriter.h"
#include "FrameAssembler.h"
#include "HuffmanCoder.h"
#include "Layer3Granule.h"
#include "ScalefactorCoder.h"

namespace velora::enc {

constexpr int kMaxFrameAndReservoirBits = 7680;  // what a decoder keeps of one frame
constexpr int kMaxGranuleBits = 4095;            // part2_3_length has 12 bits
constexpr int kFillerPatternBytes = 40;
// The filler bits cycle through these 320 bits, most significant bit of each byte first.
extern const uint8_t kFillerPattern[kFillerPatternBytes];

struct FrameWriterSettings {
    int32_t version = 0;        // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int32_t samplingIndex = 0;  // 0..2
    int32_t channelMode = 0;    // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    bool crc = false;
    bool privateBit = false;
    bool copyright = false;
    bool original = true;
    // Every frame carries the SBR container, empty when there is no payload.
    bool sbrContainer = true;
};

// The SBR data of one frame. `data` holds, most significant bit first, everything after the
// container's flag bit: with the optional fields, their seven fixed bits and any further
// optional bits, then the payload. A frame without a payload carries the empty container.
struct SbrContainerData {
    bool present = false;
    // The payload carries an SBR header: the marker's second bit tells the decoder so
    // (0xE / 0xF), a payload without one has 0xC / 0xD like an empty container.
    bool header = false;
    bool optionalFields = false;
    const uint8_t* data = nullptr;
    int32_t dataBits = 0;
};

// Bits of the SBR container for the rate control: `optionalFields` adds the flag's seven
// fixed bits, `optionalFieldBits` any further ones. (false, 0, 0) is the empty container.
int SbrContainerBits(bool optionalFields, int payloadBits, int optionalFieldBits);
// The same for a container's contents as the frame writer takes them.
int SbrContainerBits(const SbrContainerData& sbr);

struct FrameInput {
    int32_t bitrateIndex = 1;  // 1..14
    int32_t padding = 0;
    int32_t modeExtension = 0;                   // joint stereo: bit 1 mid/side, bit 0 intensity
    const QuantisedGranule* granule[2][2] = {};  // [granule][channel]
    SbrContainerData sbr;
    const uint8_t* ancillary = nullptr;  // external ancillary bytes behind the container
    int32_t ancillaryBytes = 0;
};

enum class FrameStatus {
    kOk,
    kInvalidInput,           // a field out of range, a missing granule
    kUncodableScalefactors,  // no scalefac_compress carries a granule's scale factors
    kUncodableSpectrum,      // a value above kMaxCodableValue
    kGranuleTooLong,         // part2_3_length above 4095
    kFrameTooSmall,          // the main data exceeds frame and reservoir
    kAssemblerFull,          // complete frames were not taken out with Emit
    kInternalError,          // the written main data differs from its count
};

// What one Write did, for tests and statistics.
struct FrameReport {
    int32_t frameBits = 0;
    int32_t headerSideBits = 0;
    int32_t mainDataBegin = 0;
    int32_t granuleBits[2][2] = {};  // part2_3_length, stuffing included
    int32_t stuffingBits[2][2] = {};
    int32_t fillerBits = 0;
    int32_t sbrBits = 0;
    int32_t mainDataBits = 0;  // everything this frame put into the main-data stream
    int32_t reservoirAfter = 0;
    SpectrumPlan plan[2][2];
    ScalefactorCoding scalefactors[2][2];
};

class FrameWriter {
  public:
    // False for settings out of range.
    bool Init(const FrameWriterSettings& settings);
    const FrameWriterSettings& Settings() const { return settings_; }
    int Channels() const { return channels_; }
    int Granules() const { return granules_; }

    // Codes one frame and queues it; on any status but kOk nothing changes.
    FrameStatus Write(const FrameInput& input, FrameReport* report = nullptr);
    // Complete frames, as many as fit; returns the bytes copied.
    int Emit(uint8_t* out, int capacity) { return assembler_.Emit(out, capacity); }
    int ReadyBytes() const { return assembler_.ReadyBytes(); }
    // At the end of the stream: completes the last frames (Emit takes them out).
    bool Flush() { return assembler_.Flush(); }

    // Rate control.
    int FrameBits(int bitrateIndex, int padding) const;
    int HeaderSideBits() const { return headerBits_ + sideBits_; }
    // The largest main_data_begin a frame of `frameBits` may have.
    int MaxBackPointer(int frameBits) const;
    // Bytes left in earlier frames (the next main_data_begin before the limit of its frame).
    int ReservoirBytes() const { return reservoir_; }
    // Most main-data bits (scale factors and Huffman data of all granules, SBR container,
    // ancillary) the next frame at this rate can take.
    int MainDataCapacityBits(int bitrateIndex, int padding) const;
    // Bit position in the filler pattern where the next filler bit comes from.
    int FillerPosition() const { return fillerPosition_; }

    const SpectrumCoder& Spectrum() const { return spectrum_; }
    bool IntensityChannel(int modeExtension, int channel) const;

  private:
    FrameStatus Plan(const FrameInput& input, FrameReport& r) const;
    void WriteHeaderSide(const FrameInput& input, const FrameReport& r, BitWriter& out) const;
    void WriteFiller(int bits, BitWriter& out);
    void WriteContainer(const SbrContainerData& sbr, BitWriter& out) const;

    FrameWriterSettings settings_;
    int channels_ = 2;
    int granules_ = 2;
    int headerBits_ = 32;
    int sideBits_ = 256;
    int reservoir_ = 0;
    int fillerPosition_ = 0;
    SpectrumCoder spectrum_;
    FrameAssembler assembler_;
    FrameReport scratch_;
    uint8_t headerSide_[FrameAssembler::kMaxHeaderSideBytes];
    uint8_t mainData_[2048];
};

}  // namespace velora::enc
