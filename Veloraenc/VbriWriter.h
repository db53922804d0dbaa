// The silent first frame of a variable-bit-rate stream: an MPEG audio frame carrying a VBRI
// block with the stream's size, frame count, encoder delay, quality and a table of contents
// that maps time to byte position. Frames are recorded as the encoder emits them; the frame
// can be rendered at any time (before the first frame it is a bare header, a placeholder).
#pragma once

#include <cstdint>

#include "SeekTable.h"

namespace velora::enc {

class VbriWriter {
public:
    // False (and the writer unusable) for a rate that is not one of the nine MPEG rates or a
    // channel count other than 1 or 2.
    bool Create(int sampleRate, int codedChannels, bool sbr);

    // The encoder's delay in samples (the header frame's own samples are added) and the VBR
    // quality shown in the header.
    void SetDelayAndQuality(int encoderDelay, int quality);
    // Every finished frame, in order: the bytes emitted before it and its length.
    void RecordFrame(uint32_t bytesBefore, uint32_t frameLength);
    // Writes the header frame when `size` is at least FrameLength(); returns FrameLength().
    int Render(uint8_t* buffer, int size, bool privateBit, bool copyright, bool original, bool sbrOn) const;

    int FrameLength() const { return frameLength_; }
    int Version() const { return version_; }
    int BitrateIndex() const { return bitrateIndex_; }
    int SamplingIndex() const { return samplingIndex_; }
    int Delay() const { return delay_; }
    int Quality() const { return quality_; }
    const SeekTable& Table() const { return table_; }

private:
    SeekTable table_;
    int frameLength_ = 0;
    int version_ = 0;
    int channels_ = 0;
    int bitrateIndex_ = 0;
    int samplingIndex_ = 0;
    int samplesPerFrame_ = 0;
    int sampleRate_ = 0;
    int delay_ = 0;
    int quality_ = 100;
    uint32_t lastFrameLength_ = 0;
    bool sbr_ = false;
    bool recorded_ = false;
};

}  // namespace velora::enc
