#include "VbriWriter.h"

#include <cstring>

#include "BitrateTable.h"

namespace velora::enc {
namespace {

constexpr int kMinFrameLength = 2 * SeekTable::kDoublingCount + 58;  // room for the TOC
constexpr int kVbriOffset = 36;

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void Put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace

bool VbriWriter::Create(int sampleRate, int codedChannels, bool sbr) {
    *this = VbriWriter{};
    if (codedChannels != 1 && codedChannels != 2) return false;
    int version = 2;
    int rate = sampleRate;
    while (rate >= 16000 && version > 0) {
        rate /= 2;
        --version;
    }
    int samplingIndex = -1;
    switch (rate) {
        case 11025: samplingIndex = 0; break;
        case 12000: samplingIndex = 1; break;
        case 8000: samplingIndex = 2; break;
        default: return false;
    }
    // The halving must give back the rate exactly (44100 -> 22050 -> 11025).
    if (rate << (2 - version) != sampleRate) return false;

    const int samplesPerFrame = version == 0 ? 1152 : 576;
    int index = 0;
    int length = 0;
    for (; index < 15; ++index) {
        const int64_t bits = int64_t{Layer3Kbps(version, index)} * 1000;
        length = static_cast<int>(bits / 8 * samplesPerFrame / sampleRate);
        if (length > kMinFrameLength) break;
    }
    if (index == 15) return false;

    version_ = version;
    channels_ = codedChannels;
    samplingIndex_ = samplingIndex;
    bitrateIndex_ = index;
    frameLength_ = length;
    samplesPerFrame_ = samplesPerFrame;
    sampleRate_ = sampleRate;
    sbr_ = sbr;
    delay_ = sbr ? 2 * samplesPerFrame : samplesPerFrame;
    quality_ = 100;
    return true;
}

void VbriWriter::SetDelayAndQuality(int encoderDelay, int quality) {
    delay_ = encoderDelay + (sbr_ ? 2 * samplesPerFrame_ : samplesPerFrame_);
    quality_ = quality;
}

void VbriWriter::RecordFrame(uint32_t bytesBefore, uint32_t frameLength) {
    if (!recorded_) {
        table_.Offer(0);  // the header frame itself
        recorded_ = true;
    }
    table_.Offer(bytesBefore + static_cast<uint32_t>(frameLength_));
    lastFrameLength_ = frameLength;
}

int VbriWriter::Render(uint8_t* buffer, int size, bool privateBit, bool copyright, bool original,
                       bool sbrOn) const {
    if (buffer == nullptr || frameLength_ == 0 || size < frameLength_) return frameLength_;
    uint8_t* f = buffer;
    std::memset(f, 0, static_cast<size_t>(frameLength_));
    static constexpr uint8_t kVersionBits[3] = {3, 2, 0};
    f[0] = 0xFF;
    f[1] = static_cast<uint8_t>(0xE0 | (kVersionBits[version_] << 3) | (1 << 1) | 1);
    f[2] = static_cast<uint8_t>((bitrateIndex_ << 4) | (samplingIndex_ << 2) | (privateBit ? 1 : 0));
    f[3] = static_cast<uint8_t>((channels_ == 1 ? 0xC0 : 0x00) | (copyright ? 0x08 : 0) | (original ? 0x04 : 0));
    if (!recorded_) return frameLength_;

    if (sbrOn) {
        static constexpr uint8_t kStereoSignature[4] = {0xC0, 0x1E, 0xE8, 0x00};
        static constexpr uint8_t kMonoSignature[4] = {0xD0, 0x1E, 0xE8, 0x00};
        if (channels_ == 2)
            std::memcpy(f + 21, kStereoSignature, 4);
        else
            std::memcpy(f + 13, kMonoSignature, 4);
    }
    uint8_t* v = f + kVbriOffset;
    std::memcpy(v, "VBRI", 4);
    Put16(v + 4, 1);
    Put16(v + 6, static_cast<uint32_t>(delay_));
    Put16(v + 8, static_cast<uint32_t>(quality_));
    Put32(v + 10, table_.LastPosition() + lastFrameLength_);
    Put32(v + 14, table_.FramesOffered());
    const int entries = table_.LogicalCount();
    Put16(v + 18, static_cast<uint32_t>(entries - 1));
    Put16(v + 20, 1);
    Put16(v + 22, 2);
    // The spacing the entries really have, so that a reader never lands in the wrong place
    // when the table has just been thinned out.
    Put16(v + 24, static_cast<uint32_t>(table_.LogicalFramesPerEntry()));
    uint32_t previous = 0;
    for (int i = 1; i < entries; ++i) {
        const uint32_t entry = table_.LogicalEntry(i);
        Put16(f + 60 + 2 * i, entry - previous);
        previous = entry;
    }
    return frameLength_;
}

}  // namespace velora::enc
