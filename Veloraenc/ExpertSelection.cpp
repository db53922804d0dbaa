#include "ExpertSelection.h"

#include "BitrateTable.h"

namespace velora::enc {
namespace {

constexpr int kStandardRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

bool IsStandardRate(int rate) {
    for (int r : kStandardRates)
        if (r == rate) return true;
    return false;
}

bool Offers(const CoreTuningRow& row) { return row.minRate > 0 && row.maxRate >= row.minRate; }

// Some block offers a core for this bit rate.
bool InTablesRange(const TuningTables& tables, int bitrate) {
    return FindCoreRow(tables, 1, bitrate) != nullptr || FindCoreRow(tables, 2, bitrate) != nullptr;
}

}  // namespace

bool CoreOffersBitrate(int coreRate, int bitrate) {
    if (bitrate <= 0 || bitrate % 1000 != 0) return false;
    const int version = coreRate >= 32000 ? 0 : coreRate >= 16000 ? 1 : 2;
    for (int index = 1; index < 15; ++index)
        if (Layer3Kbps(version, index) * 1000 == bitrate) return true;
    return false;
}

int CodedChannels(uint32_t channelMode) {
    return channelMode == kChannelModeStereo || channelMode == kChannelModeDualMono ? 2 : 1;
}

const SbrTuningRow* FindSbrRow(const TuningTables& tables, int bitrate, int channels, int coreRate) {
    for (int i = 0; i < tables.sbrRows; ++i) {
        const SbrTuningRow& row = tables.sbr[i];
        if (row.channels == channels && row.coreRate == coreRate && bitrate >= row.bitrateLow &&
            bitrate < row.bitrateHigh)
            return &row;
    }
    return nullptr;
}

int SbrFeasibleCoreRate(const TuningTables& tables, int bitrate, int channels, int rate) {
    if (rate < 32000) return 0;
    if (FindSbrRow(tables, bitrate, channels, rate / 2) != nullptr) return rate / 2;
    if (rate > 44100 && FindSbrRow(tables, bitrate, channels, 22050) != nullptr) return 22050;
    if (rate > 32000 && FindSbrRow(tables, bitrate, channels, 16000) != nullptr) return 16000;
    return 0;
}

const CoreTuningRow* FindCoreRow(const TuningTables& tables, int codedChannels, int bitrate) {
    if (codedChannels != 1 && codedChannels != 2) return nullptr;
    const CoreTuningRow* block = tables.core[codedChannels - 1];
    const int rows = tables.coreRows[codedChannels - 1];
    for (int i = 0; i < rows; ++i) {
        if (block[i].bitrateBound > bitrate) return Offers(block[i]) ? &block[i] : nullptr;
        if (block[i].bitrateBound > kCoreTuningLastBound) break;
    }
    return nullptr;
}

bool ExpertSelect(const TuningTables& tables, int inputRate, int inputChannels,
                  EncoderOutputFormat& format) {
    EncoderOutputFormat f = format;
    const int bitrate = static_cast<int>(f.bitrate);
    const int explicitRate = static_cast<int>(f.sampleRate);
    // 1. Ranges.
    if (f.bitrate > 0x7FFFFFFFu || !InTablesRange(tables, bitrate) || f.sbrMode > kSbrModeOff ||
        f.channelMode > kChannelModeDualMono || f.vbrQuality > 100 || f.sampleRate > 0x7FFFFFFFu ||
        explicitRate > inputRate)
        return false;

    // 2. Whether SBR can serve one coded channel.
    int feasibleCore = SbrFeasibleCoreRate(tables, bitrate, 1, inputRate);
    if (explicitRate != 0 && SbrFeasibleCoreRate(tables, bitrate, 1, explicitRate) == 0) feasibleCore = 0;
    bool sbrFeasible = feasibleCore != 0;

    // 3. Channel mode.
    if (f.channelMode == kChannelModeLcStereo && (!sbrFeasible || inputChannels != 2)) return false;
    if (f.channelMode == kChannelModeAuto) {
        if (inputChannels == 2) {
            if (sbrFeasible)
                f.channelMode = bitrate < 36000 ? kChannelModeLcStereo : kChannelModeStereo;
            else
                f.channelMode = bitrate < 44000 ? kChannelModeMono : kChannelModeStereo;
        } else {
            f.channelMode = kChannelModeMono;
        }
    }

    // 4. The core row.
    const CoreTuningRow* row = FindCoreRow(tables, CodedChannels(f.channelMode), bitrate);
    if (row == nullptr) return false;

    // 5. SBR for two coded channels, and the rate SBR gives.
    if (f.channelMode == kChannelModeStereo || f.channelMode == kChannelModeDualMono) {
        feasibleCore = SbrFeasibleCoreRate(tables, bitrate, 2, explicitRate != 0 ? explicitRate : inputRate);
        sbrFeasible = feasibleCore != 0;
    }
    if (explicitRate != 0) {
        f.sbrMode = sbrFeasible && f.sbrMode != kSbrModeOff ? kSbrModeOn : kSbrModeOff;
    } else if (sbrFeasible && f.sbrMode != kSbrModeOff) {
        f.sampleRate = static_cast<uint32_t>(2 * feasibleCore);
        f.sbrMode = kSbrModeOn;
    }

    // 6. Without SBR: the row's core rate, or a standard divisor of the input rate in range.
    // An input below the row's range is never raised to it: it is coded at its own rate,
    // which step 7 accepts when that core's MPEG version has the bit rate.
    const bool belowRow = inputRate < row->minRate;
    if (f.sampleRate == 0) {
        if (inputRate >= row->preferredRate)
            f.sampleRate = static_cast<uint32_t>(row->preferredRate);
        else if (!belowRow)
            f.sampleRate = static_cast<uint32_t>(row->minRate);
        else
            f.sampleRate = static_cast<uint32_t>(inputRate);
        f.sbrMode = kSbrModeOff;
        for (int i = 1; i <= 6; ++i) {
            const int rate = inputRate / i;
            if (rate * i == inputRate && rate >= row->minRate && rate <= row->maxRate && IsStandardRate(rate)) {
                f.sampleRate = static_cast<uint32_t>(rate);
                break;
            }
        }
    }

    // 7. A constant rate must also be one the core's MPEG version has: the table rows span
    // the bit rates between two standard ones, and an explicit rate may pick another core.
    const int rate = static_cast<int>(f.sampleRate);
    const bool ownRate = belowRow && rate == inputRate;
    if (!sbrFeasible && !ownRate && (rate < row->minRate || rate > row->maxRate)) return false;
    if (f.vbrQuality == 0 && !CoreOffersBitrate(f.sbrMode == kSbrModeOn ? rate / 2 : rate, bitrate)) return false;
    format = f;
    return true;
}

int SbrTuningBitrate(const EncoderOutputFormat& format) {
    if (format.vbrQuality == 0) return static_cast<int>(format.bitrate);
    const uint32_t q = format.vbrQuality;
    const int channels = CodedChannels(format.channelMode);
    const int rate = static_cast<int>(format.sampleRate);
    if (channels == 1 && (rate == 44100 || rate == 48000) && q < 40) return 32000;
    int perChannel = 48000;
    if (q < 30)
        perChannel = 24000;
    else if (q < 40)
        perChannel = 28000;
    else if (q < 60)
        perChannel = 32000;
    else if (q < 75)
        perChannel = 40000;
    return perChannel * channels;
}

const SbrTuningRow* SelectSbrTuning(const TuningTables& tables, const EncoderOutputFormat& format) {
    return FindSbrRow(tables, SbrTuningBitrate(format), CodedChannels(format.channelMode),
                      static_cast<int>(format.sampleRate / 2));
}

}  // namespace velora::enc
