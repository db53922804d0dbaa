#include "EncoderApi.h"

#include <new>

#include "EncoderInstance.h"
#include "ExpertSelection.h"

namespace velora::enc {
namespace {

constexpr int kInputRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

bool AcceptedRate(int rate) {
    for (int r : kInputRates)
        if (r == rate) return true;
    return false;
}

// Chooses the SBR row for the instance's format; false when none fits.
bool ApplySbrTuning(Mp3EncInstance& e) {
    const SbrTuningRow* row = SelectSbrTuning(*e.tables, e.format);
    e.hasSbrRow = row != nullptr;
    if (row != nullptr) e.sbrRow = *row;
    return row != nullptr;
}

bool InitPipeline(Mp3EncInstance& e) {
    PipelineSettings s;
    s.inputRate = e.inputRate;
    s.inputChannels = e.inputChannels;
    s.inputFormat = e.inputFormat;
    s.format = e.format;
    s.config = e.config;
    s.sbrRow = e.format.sbrMode == kSbrModeOn && e.hasSbrRow ? &e.sbrRow : nullptr;
    return e.pipeline.Init(s);
}

// The explicit path (bit rate 0): the fields as given, within what the input can feed.
bool ExplicitFormatFits(const Mp3EncInstance& e, const EncoderOutputFormat& f) {
    if (f.channelMode > kChannelModeDualMono || f.sbrMode > kSbrModeOff) return false;
    if (CodedChannels(f.channelMode) > e.inputChannels) return false;
    if (f.sampleRate > static_cast<uint32_t>(e.inputRate)) return false;
    return f.channelMode != kChannelModeLcStereo || e.inputChannels == 2;
}

}  // namespace

Mp3EncHandle OpenWithTables(int inputSampleRate, int inputChannels, int inputSampleFormat,
                            const TuningTables& tables) {
    if (!AcceptedRate(inputSampleRate) || inputChannels < 1 || inputChannels > 2 ||
        (inputSampleFormat != kInputInt16 && inputSampleFormat != kInputFloat32))
        return nullptr;
    Mp3EncInstance* e = new (std::nothrow) Mp3EncInstance;
    if (e == nullptr) return nullptr;
    e->inputRate = inputSampleRate;
    e->inputChannels = inputChannels;
    e->inputFormat = inputSampleFormat;
    e->tables = &tables;
    e->format = EncoderOutputFormat{};
    e->format.bitrate = 64000;
    bool ok = ExpertSelect(tables, inputSampleRate, inputChannels, e->format);
    if (ok && e->format.sbrMode == kSbrModeOn) ok = ApplySbrTuning(*e);
    if (ok && e->format.sbrMode == kSbrModeOn && inputChannels == 2 && e->format.channelMode == kChannelModeMono)
        e->format.channelMode = kChannelModeLcStereo;
    e->config = EncoderConfiguration{};
    e->config.qualityMode = 1;
    if (!ok || !InitPipeline(*e)) {
        delete e;
        return nullptr;
    }
    return e;
}

Mp3EncHandle mp3EncOpen(int inputSampleRate, int inputChannels, int inputSampleFormat) {
    return OpenWithTables(inputSampleRate, inputChannels, inputSampleFormat, DefaultTuningTables());
}

int mp3EncSetOutputFormat(Mp3EncHandle e, EncoderOutputFormat* format) {
    if (e == nullptr || format == nullptr) return 0;
    EncoderOutputFormat f = *format;
    if (f.bitrate != 0) {
        bool ok = ExpertSelect(*e->tables, e->inputRate, e->inputChannels, f);
        if (!ok && format->channelMode == kChannelModeAuto) {
            f = *format;
            f.channelMode = format->sbrMode == kSbrModeOff ? kChannelModeMono : kChannelModeLcStereo;
            ok = ExpertSelect(*e->tables, e->inputRate, e->inputChannels, f);
            if (!ok) {
                f = *format;
                f.channelMode = kChannelModeMono;
                ok = ExpertSelect(*e->tables, e->inputRate, e->inputChannels, f);
            }
        }
        if (!ok) return 0;
    } else if (!ExplicitFormatFits(*e, f)) {
        return 0;
    }
    // From here the instance holds the new fields even when a later check fails; only a
    // successful re-initialisation makes it usable again.
    e->format = f;
    e->hasSbrRow = false;
    EncoderOutputFormat& s = e->format;
    if (s.vbrQuality != 0) {
        if (s.vbrQuality > 100) return 0;
        s.bitrate = 0;
        if (s.sbrMode == kSbrModeAuto) s.sbrMode = e->inputRate < 32000 ? kSbrModeOff : kSbrModeOn;
        if (s.sampleRate == 0) {
            s.sampleRate = static_cast<uint32_t>(e->inputRate);
            if (e->inputRate < 32000 && s.sbrMode == kSbrModeOn) return 0;
        } else if (s.sampleRate < 32000) {
            s.sbrMode = kSbrModeOff;
        }
        if (s.channelMode == kChannelModeAuto)
            s.channelMode = e->inputChannels == 2 ? kChannelModeStereo : kChannelModeMono;
    }
    e->config.bandwidth = 0.0f;
    if (s.sbrMode == kSbrModeOn && !ApplySbrTuning(*e)) return 0;
    if (s.channelMode == kChannelModeLcStereo && s.sbrMode != kSbrModeOn) return 0;
    *format = s;
    return InitPipeline(*e) ? 1 : 0;
}

EncoderConfiguration* mp3EncGetConfiguration(Mp3EncHandle e) { return e != nullptr ? &e->config : nullptr; }

int mp3EncSetConfiguration(Mp3EncHandle e, const EncoderConfiguration* c) {
    if (e == nullptr || c == nullptr) return 0;
    if (c->rateControlMode < 0 || c->rateControlMode > 2 || c->qualityMode < 0 || c->qualityMode > 2 ||
        !(c->bandwidth <= 0.5f * static_cast<float>(e->format.sampleRate)))
        return 0;
    e->config = *c;
    return InitPipeline(*e) ? 1 : 0;
}

int VeloraencEncodeFrame(Mp3EncHandle e, const void* input, int inputBytes, int* consumedBytes,
                         uint8_t* output, int outputSize, int /*reserved1*/, int /*reserved2*/) {
    if (consumedBytes != nullptr) *consumedBytes = 0;
    if (e == nullptr) return -1;
    // Only the bit that splits a two-channel sample frame is looked at.
    if (e->inputChannels == 2 && (inputBytes & (e->inputFormat == kInputInt16 ? 2 : 4)) != 0) return -1;
    return e->pipeline.Encode(static_cast<const uint8_t*>(input), inputBytes, consumedBytes, output, outputSize);
}

int mp3EncGetVbrHeader(Mp3EncHandle e, uint8_t* buffer, int size) {
    if (e == nullptr) return 0;
    return e->pipeline.VbrHeader(buffer, size);
}

int mp3EncClose(Mp3EncHandle e) {
    if (e == nullptr) return 0;
    delete e;
    return 1;
}

}  // namespace velora::enc
