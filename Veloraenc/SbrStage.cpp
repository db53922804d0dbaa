#include "SbrStage.h"

namespace velora::enc {

bool SbrStage::Create(const SbrStageSettings& s) {
    Release();
    if (s.row == nullptr) return false;
    sbr::SbrEncoderParams p;
    p.bitrate = s.bitrate;
    p.channels = s.codedChannels;
    p.coreRate = s.coreRate;
    p.frameLength = kFrameLength;
    p.headerRepetition = 1.0f;
    p.startFreq = s.row->startFreq;
    p.stopFreq = s.row->stopFreq;
    for (int i = 0; i < 5; ++i) p.tuning[i] = s.row->tuning[i];
    p.stereoCoding = s.dualMono ? 0 : s.row->stereoCoding;
    p.monoCoreStereo = s.lcStereo;
    p.coreDelay = s.coreDelay;
    exchange_ = sbr::SbrExchange{};
    encoder_ = sbr::SbrEncoder::Create(p, exchange_);
    return encoder_ != nullptr;
}

void SbrStage::Release() {
    if (encoder_ != nullptr) sbr::SbrEncoder::Destroy(encoder_);
    encoder_ = nullptr;
}

float SbrStage::Crossover() const { return encoder_ != nullptr ? encoder_->Crossover() : 0.0f; }

int SbrStage::InputChannels() const { return encoder_ != nullptr ? encoder_->InputChannels() : 0; }

void SbrStage::SetSourceShare(const CodedShare& share, int codedChannels) {
    if (encoder_ == nullptr) return;
    for (int ch = 0; ch < codedChannels && ch < 2; ++ch) encoder_->SetSourceShare(ch, share.share[ch], kShareSlices);
}

const SbrContainerData& SbrStage::Encode(const float* interleaved) {
    container_ = SbrContainerData{};
    if (encoder_ == nullptr) return container_;
    // The encoder reads one block per channel.
    const int channels = InputChannels();
    for (int ch = 0; ch < channels; ++ch)
        for (int i = 0; i < kFrameLength; ++i) blocks_[ch * kFrameLength + i] = interleaved[i * channels + ch];
    if (!encoder_->EncodeFrame(exchange_, blocks_)) return container_;
    ToContainerData(exchange_.buffer, exchange_.bits, scratch_, container_);
    return container_;
}

}  // namespace velora::enc
