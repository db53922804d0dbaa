// Test support: SBR payloads for Velora test streams, written by the payload writer. Every
// frame carries one envelope over the whole frame, falling by one step per band from a level
// near that of a loud core signal, and a noise floor well below it; a header goes with the
// first frame and then every `headerEvery` frames.
#pragma once

#include <optional>

#include "SbrData.h"
#include "SbrFreqTables.h"
#include "SbrHandoff.h"
#include "SbrPayloadWriter.h"

namespace velora::test {

struct VeloraPayloadPlan {
    int outputRate = 44100;  // twice the core rate
    bool stereo = true;      // channel pair; else a single-channel element
    int headerEvery = 8;     // frames between headers; 0: only the first frame has one
    int firstHeaderVersion = 0;
    int startFreq = 5;  // kx at 5.9 kHz for a 44100 Hz output
    int stopFreq = 9;
    int pseudoStereo = 0;  // single-channel element: 1 asks for a two-channel output
    int firstLevel = 14;   // first envelope value (3 dB steps)
    int noiseLevel = 10;
};

class VeloraPayloadMaker {
  public:
    explicit VeloraPayloadMaker(const VeloraPayloadPlan& plan) : plan_(plan) {
        header_.ampRes = 1;
        header_.startFreq = plan.startFreq;
        header_.stopFreq = plan.stopFreq;
        header_.xoverBand = 0;
        ready_ = writer_.Ready() && sbr::BuildFreqTables(header_, plan.outputRate, freq_);
        for (sbr::SbrChannelData& c : channels_) {
            c.grid = sbr::SbrFrameInfo{};  // one envelope over the frame, high resolution
            c.invfMode = 1;
            c.envelope[0][0] = plan.firstLevel;
            for (int k = 1; k < freq_.highBands; ++k) c.envelope[0][k] = -1;
            c.noise[0][0] = plan.noiseLevel;
        }
    }

    bool Ready() const { return ready_; }
    const sbr::SbrFreqData& Freq() const { return freq_; }

    // The payload of frame `index`; none when the writer refuses.
    std::optional<SbrFrame> operator()(int index) const {
        sbr::SbrWriteOptions o;
        o.writeHeader = index == 0 || (plan_.headerEvery > 0 && index % plan_.headerEvery == 0);
        o.stereo = plan_.stereo;
        o.outputMode = plan_.pseudoStereo;
        sbr::SbrHeader h = header_;
        if (index == 0) h.version = plan_.firstHeaderVersion;
        SbrFrame f{};
        if (!ready_ || !writer_.Write(h, o, channels_, freq_, f)) return std::nullopt;
        return f;
    }

  private:
    VeloraPayloadPlan plan_;
    sbr::SbrPayloadWriter writer_;
    sbr::SbrHeader header_;
    sbr::SbrFreqData freq_;
    sbr::SbrChannelData channels_[2];
    bool ready_ = false;
};

}  // namespace velora::test
