#include "FrameWriter.h"

#include <algorithm>

#include "Crc16.h"
#include "Layer3Tables.h"

namespace velora::enc {

// FE FE, then this program's own text.
const uint8_t kFillerPattern[kFillerPatternBytes] = {
    0xFE, 0xFE, 'v', 'e', 'l', 'o', 'r', 'a', ' ', 'm', 'p', '3', 'f', 'a',
    's',  't',  'e', 'n', 'c', ' ', 'r', 'e', 's', 'e', 'r', 'v', 'o', 'i',
    'r',  ' ',  'f', 'i', 'l', 'l', 'e', 'r', ' ', '1', '.', '0',
};

namespace {

constexpr int kFillerPatternBits = kFillerPatternBytes * 8;
constexpr int kMaxStuffedLength = 4092;  // the largest part2_3_length that is a multiple of 4
constexpr int kMaxContainerBytes = 510;  // the longest length the container can state

// A container's flag and data, P, padded so that P - 4 fills whole bytes.
struct ContainerSize {
    int bodyBits;  // P plus padding
    int bytes;     // the length the container states
};

ContainerSize SizeOf(int p) {
    const int pad = ((4 - p) % 8 + 8) % 8;
    return {p + pad, (p + pad - 4) / 8};
}

int TotalBits(const ContainerSize& size) {
    return size.bodyBits + (size.bytes < 255 ? 12 : 20);
}

}  // namespace

int SbrContainerBits(bool optionalFields, int payloadBits, int optionalFieldBits) {
    return TotalBits(SizeOf((optionalFields ? 8 : 1) + payloadBits + optionalFieldBits));
}

int SbrContainerBits(const SbrContainerData& sbr) {
    return TotalBits(SizeOf(1 + (sbr.present ? sbr.dataBits : 0)));
}

bool FrameWriter::Init(const FrameWriterSettings& settings) {
    if (settings.version < 0 || settings.version > 2 || settings.samplingIndex < 0 ||
        settings.samplingIndex > 2 || settings.channelMode < 0 || settings.channelMode > 3)
        return false;
    settings_ = settings;
    channels_ = settings.channelMode == 3 ? 1 : 2;
    granules_ = settings.version == 0 ? 2 : 1;
    headerBits_ = settings.crc ? 48 : 32;
    if (settings.version == 0)
        sideBits_ = channels_ == 1 ? 136 : 256;
    else
        sideBits_ = channels_ == 1 ? 72 : 136;
    reservoir_ = 0;
    fillerPosition_ = 0;
    assembler_.Reset();
    return spectrum_.Init(settings.version, settings.samplingIndex);
}

int FrameWriter::FrameBits(int bitrateIndex, int padding) const {
    if (bitrateIndex < 1 || bitrateIndex > 14) return 0;
    const int bitrate = kBitratesKbps[settings_.version == 0 ? 0 : 1][bitrateIndex] * 1000;
    const int rate = kSamplingRates[settings_.version][settings_.samplingIndex];
    const int samples = settings_.version == 0 ? 1152 : 576;
    return 8 * (samples * (bitrate / 8) / rate + (padding != 0 ? 1 : 0));
}

int FrameWriter::MaxBackPointer(int frameBits) const {
    const int limit = settings_.version == 0 ? 511 : 255;
    if (frameBits + 8 * limit <= kMaxFrameAndReservoirBits) return limit;
    return std::max(0, (kMaxFrameAndReservoirBits - frameBits) / 8);
}

int FrameWriter::MainDataCapacityBits(int bitrateIndex, int padding) const {
    const int h = FrameBits(bitrateIndex, padding);
    if (h == 0) return 0;
    return h - HeaderSideBits() + 8 * std::min(reservoir_, MaxBackPointer(h));
}

bool FrameWriter::IntensityChannel(int modeExtension, int channel) const {
    return settings_.version != 0 && settings_.channelMode == 1 && (modeExtension & 1) != 0 &&
           channel == 1;
}

FrameStatus FrameWriter::Plan(const FrameInput& in, FrameReport& r) const {
    r = FrameReport{};
    if (in.bitrateIndex < 1 || in.bitrateIndex > 14 || (in.padding != 0 && in.padding != 1) ||
        in.modeExtension < 0 || in.modeExtension > 3 ||
        (settings_.channelMode != 1 && in.modeExtension != 0) || in.ancillaryBytes < 0 ||
        (in.ancillaryBytes > 0 && in.ancillary == nullptr) || in.sbr.dataBits < 0 ||
        (in.sbr.present && in.sbr.dataBits > 0 && in.sbr.data == nullptr))
        return FrameStatus::kInvalidInput;
    if (settings_.sbrContainer && in.sbr.present &&
        SizeOf(1 + in.sbr.dataBits).bytes > kMaxContainerBytes)
        return FrameStatus::kInvalidInput;

    r.frameBits = FrameBits(in.bitrateIndex, in.padding);
    r.headerSideBits = HeaderSideBits();
    const int maxBack = MaxBackPointer(r.frameBits);
    r.mainDataBegin = std::min(reservoir_, maxBack);

    int used = 0;  // o: scale factors and Huffman data of all granules, container, ancillary
    for (int gr = 0; gr < granules_; ++gr) {
        for (int ch = 0; ch < channels_; ++ch) {
            const QuantisedGranule* g = in.granule[gr][ch];
            if (g == nullptr || g->blockType < kBlockLong || g->blockType > kBlockStop ||
                g->globalGain < 0 || g->globalGain > 255 || (g->scalefacScale & ~1) != 0 ||
                (g->preflag & ~1) != 0 || (g->intensityScale & ~1) != 0)
                return FrameStatus::kInvalidInput;
            for (int w = 0; w < kShortWindows; ++w)
                if (g->subblockGain[w] < 0 || g->subblockGain[w] > 7)
                    return FrameStatus::kInvalidInput;
            const bool intensity = IntensityChannel(in.modeExtension, ch);
            if (settings_.version != 0 && g->intensityChannel != intensity)
                return FrameStatus::kInvalidInput;
            if (!ChooseScalefactors(*g, settings_.version, intensity, r.scalefactors[gr][ch]))
                return FrameStatus::kUncodableScalefactors;
            if (!spectrum_.Plan(g->values, g->blockType, r.plan[gr][ch]))
                return FrameStatus::kUncodableSpectrum;
            const int length = r.scalefactors[gr][ch].scalefactorBits + r.plan[gr][ch].bits;
            if (length > kMaxGranuleBits) return FrameStatus::kGranuleTooLong;
            r.granuleBits[gr][ch] = length;
            used += length;
        }
    }
    r.sbrBits = settings_.sbrContainer ? SbrContainerBits(in.sbr) : 0;
    used += r.sbrBits + 8 * in.ancillaryBytes;
    if (used > r.frameBits - r.headerSideBits + 8 * r.mainDataBegin)
        return FrameStatus::kFrameTooSmall;

    // Bits beyond what keeps the reservoir at its limit go into the granules as stuffing.
    int excess = r.frameBits - 8 * maxBack + 8 * r.mainDataBegin - used - r.headerSideBits;
    if (excess < 1) {
        excess = (8 - used % 8) % 8;
    } else {
        for (int gr = 0; gr < granules_; ++gr) {
            for (int ch = 0; ch < channels_; ++ch) {
                const int length = r.granuleBits[gr][ch];
                int grow = std::min({excess, kMaxStuffedLength - length,
                                     kMaxFrameAndReservoirBits - r.headerSideBits - length});
                grow = std::max(grow, 0) & ~3;
                r.granuleBits[gr][ch] += grow;
                r.stuffingBits[gr][ch] = grow;
                excess -= grow;
                used += grow;
            }
        }
    }
    r.fillerBits = excess;
    r.mainDataBits = used + excess;
    r.reservoirAfter = r.mainDataBegin + (r.frameBits - r.headerSideBits) / 8 - r.mainDataBits / 8;
    return FrameStatus::kOk;
}

void FrameWriter::WriteHeaderSide(const FrameInput& in, const FrameReport& r,
                                  BitWriter& out) const {
    const bool mpeg1 = settings_.version == 0;
    out.Put(settings_.version == 2 ? 0xFFEu : 0xFFFu, 12);
    out.Put(mpeg1 ? 1u : 0u, 1);
    out.Put(1, 2);  // Layer III
    out.Put(settings_.crc ? 0u : 1u, 1);
    out.Put(static_cast<uint32_t>(in.bitrateIndex), 4);
    out.Put(static_cast<uint32_t>(settings_.samplingIndex), 2);
    out.Put(static_cast<uint32_t>(in.padding), 1);
    out.Put(settings_.privateBit ? 1u : 0u, 1);
    out.Put(static_cast<uint32_t>(settings_.channelMode), 2);
    out.Put(static_cast<uint32_t>(in.modeExtension), 2);
    out.Put(settings_.copyright ? 1u : 0u, 1);
    out.Put(settings_.original ? 1u : 0u, 1);
    out.Put(0, 2);                      // no emphasis
    if (settings_.crc) out.Put(0, 16);  // filled in once the side information is written

    out.Put(static_cast<uint32_t>(r.mainDataBegin), mpeg1 ? 9 : 8);
    out.Put(0, mpeg1 ? (channels_ == 1 ? 5 : 3) : (channels_ == 1 ? 1 : 2));  // private bits
    if (mpeg1) out.Put(0, 4 * channels_);  // scfsi: granules never share scale factors
    for (int gr = 0; gr < granules_; ++gr) {
        for (int ch = 0; ch < channels_; ++ch) {
            const QuantisedGranule& g = *in.granule[gr][ch];
            const SpectrumPlan& plan = r.plan[gr][ch];
            out.Put(static_cast<uint32_t>(r.granuleBits[gr][ch]), 12);
            out.Put(static_cast<uint32_t>(plan.bigValues), 9);
            out.Put(static_cast<uint32_t>(g.globalGain), 8);
            out.Put(static_cast<uint32_t>(r.scalefactors[gr][ch].scalefacCompress), mpeg1 ? 4 : 9);
            if (g.blockType != kBlockLong) {
                out.Put(1, 1);  // window switching
                out.Put(static_cast<uint32_t>(g.blockType), 2);
                out.Put(0, 1);  // mixed blocks are never used
                out.Put(static_cast<uint32_t>(plan.tableSelect[0]), 5);
                out.Put(static_cast<uint32_t>(plan.tableSelect[1]), 5);
                // Only short windows have gains; start and stop blocks carry zeros, which some
                // decoders would otherwise apply.
                for (int w = 0; w < kShortWindows; ++w)
                    out.Put(
                        g.blockType == kBlockShort ? static_cast<uint32_t>(g.subblockGain[w]) : 0u,
                        3);
            } else {
                out.Put(0, 1);
                for (int k = 0; k < 3; ++k) out.Put(static_cast<uint32_t>(plan.tableSelect[k]), 5);
                out.Put(static_cast<uint32_t>(plan.region0Count), 4);
                out.Put(static_cast<uint32_t>(plan.region1Count), 3);
            }
            if (mpeg1) out.Put(static_cast<uint32_t>(g.preflag), 1);
            out.Put(static_cast<uint32_t>(g.scalefacScale), 1);
            out.Put(static_cast<uint32_t>(plan.count1Table), 1);
        }
    }
}

void FrameWriter::WriteFiller(int bits, BitWriter& out) {
    for (int i = 0; i < bits; ++i) {
        const int byte = fillerPosition_ >> 3;
        out.Put(static_cast<uint32_t>(kFillerPattern[byte] >> (7 - (fillerPosition_ & 7))) & 1u, 1);
        fillerPosition_ = fillerPosition_ + 1 == kFillerPatternBits ? 0 : fillerPosition_ + 1;
    }
}

void FrameWriter::WriteContainer(const SbrContainerData& sbr, BitWriter& out) const {
    const uint32_t marker = 0xCu | (sbr.present && sbr.header ? 0x2u : 0u) | (channels_ == 1 ? 0x1u : 0u);
    const int dataBits = sbr.present ? sbr.dataBits : 0;
    const ContainerSize size = SizeOf(1 + dataBits);
    out.Put(marker, 4);
    if (size.bytes < 255) {
        out.Put(static_cast<uint32_t>(size.bytes), 8);
    } else {
        out.Put(255, 8);
        out.Put(static_cast<uint32_t>(size.bytes - 255), 8);
    }
    out.Put(sbr.present && sbr.optionalFields ? 1u : 0u, 1);
    for (int i = 0; i < dataBits / 8; ++i) out.Put(sbr.data[i], 8);
    if (dataBits % 8 != 0)
        out.Put(static_cast<uint32_t>(sbr.data[dataBits / 8] >> (8 - dataBits % 8)), dataBits % 8);
    out.PutZeros(size.bodyBits - 1 - dataBits);
}

FrameStatus FrameWriter::Write(const FrameInput& in, FrameReport* report) {
    FrameReport& r = scratch_;
    const FrameStatus status = Plan(in, r);
    if (status != FrameStatus::kOk) return status;
    if (assembler_.PendingFrames() >= FrameAssembler::kMaxPendingFrames)
        return FrameStatus::kAssemblerFull;

    BitWriter side(headerSide_, sizeof(headerSide_));
    WriteHeaderSide(in, r, side);
    const int headerSideBytes = side.Sync();
    if (settings_.crc) {
        // The checksum covers the header's last 16 bits and the side information.
        uint16_t crc = Crc16Bytes(kCrc16Initial, headerSide_ + 2, 2);
        crc = Crc16Bytes(crc, headerSide_ + 6, headerSideBytes - 6);
        headerSide_[4] = static_cast<uint8_t>(crc >> 8);
        headerSide_[5] = static_cast<uint8_t>(crc & 0xFF);
    }

    BitWriter main(mainData_, sizeof(mainData_));
    const int fillerPosition = fillerPosition_;
    for (int gr = 0; gr < granules_; ++gr) {
        for (int ch = 0; ch < channels_; ++ch) {
            const QuantisedGranule& g = *in.granule[gr][ch];
            WriteScalefactors(g, settings_.version, r.scalefactors[gr][ch], main);
            spectrum_.Write(g.values, r.plan[gr][ch], main);
            main.PutOnes(r.stuffingBits[gr][ch]);
        }
    }
    // The container sits at the first byte boundary after the granules, where a decoder
    // looks for it; filler beyond that boundary (only when the granules cannot take all the
    // stuffing) follows the ancillary bytes.
    const int fillerFirst = r.fillerBits < 8 ? r.fillerBits : r.fillerBits % 8;
    WriteFiller(fillerFirst, main);
    if (settings_.sbrContainer) WriteContainer(in.sbr, main);
    for (int i = 0; i < in.ancillaryBytes; ++i) main.Put(in.ancillary[i], 8);
    WriteFiller(r.fillerBits - fillerFirst, main);
    main.AlignWithZeros();
    const int mainBytes = main.Sync();
    // The counts decided the side information: writing must have come out the same.
    if (main.Overflow() || main.Position() != r.mainDataBits) {
        fillerPosition_ = fillerPosition;
        return FrameStatus::kInternalError;
    }
    if (!assembler_.Push(headerSide_, headerSideBytes, r.frameBits / 8, r.mainDataBegin, mainData_,
                         mainBytes)) {
        fillerPosition_ = fillerPosition;
        return FrameStatus::kAssemblerFull;
    }
    reservoir_ = r.reservoirAfter;
    if (report != nullptr) *report = r;
    return FrameStatus::kOk;
}

}  // namespace velora::enc
