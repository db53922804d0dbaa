#include "Layer3Decoder.h"

#include <algorithm>
#include <cstring>

#include "Crc16.h"
#include "HybridFilter.h"
#include "Layer3Tables.h"
#include "SpectrumDecoder.h"
#include "Stereo.h"

namespace velora {
namespace {

constexpr int kMaxAncillaryBytes = 510;
constexpr int kMaxTextItems = 2;

}  // namespace

Layer3Decoder::Layer3Decoder() {
    reservoir_.Init(reservoirStorage_, kReservoirSize);
    Reset(true);
}

void Layer3Decoder::Reset(bool full) {
    reservoir_.Clear();
    ancillaryBits_ = 0;
    previousSbrBytes_ = 0;
    sbrLength_ = 0;
    if (!full) return;
    // A granule whose part2_3_length runs past the main data reads on into the storage
    // behind it; clearing it keeps that read off uninitialised memory and earlier streams.
    std::memset(reservoirStorage_, 0, sizeof(reservoirStorage_));
    std::memset(overlap_, 0, sizeof(overlap_));
    std::memset(hybrid_, 0, sizeof(hybrid_));
    std::memset(spectrum_, 0, sizeof(spectrum_));
    for (Synthesis& s : synthesis_) s.Reset();
    concealment_.Reset();
}

bool Layer3Decoder::CheckCrc(BitBuffer& input) {
    // The CRC covers the last 16 header bits and the side information.
    input.Skip(-32);
    uint16_t crc = Crc16Update(kCrc16Initial, input, 16);
    const uint32_t stored = input.Read(16);
    crc = Crc16Update(crc, input, frame_.sideInfoBytes * 8);
    input.Skip(-frame_.sideInfoBytes * 8);
    return crc == stored;
}

bool Layer3Decoder::FillReservoir(MpegStream& stream) {
    const int expected = (frame_.frameBits - frame_.headerBits) / 8 - frame_.sideInfoBytes;
    const int free = reservoir_.Free();
    if (free < expected) reservoir_.Skip((expected - free) * 8);  // drop the oldest bytes
    keptBits_ = reservoir_.UnreadBits();
    const int held = std::max(reservoir_.UnreadBits(), 0) / 8;
    const int moved = reservoir_.MoveBytes(stream.Buffer(), std::max(expected, 0));
    if (moved < expected || held < side_.main_data_begin) return false;
    reservoir_.Skip(reservoir_.UnreadBits());
    reservoir_.Skip(-(side_.main_data_begin + moved) * 8);
    return true;
}

void Layer3Decoder::ScanAncillaryText(char* text, int* textLength) {
    // The previous frame's ancillary data runs from behind its SBR payload to the start of
    // this frame's main data. Distances are counted back from the end of the previous
    // frame's bytes; the reader stands at this frame's main data.
    const int previousEnd = ancillaryBits_;
    const int start = std::min(previousEnd - (previousEnd & 7) - previousSbrBytes_ * 8,
                               keptBits_ - (keptBits_ & 7));
    const int bytes = (start - side_.main_data_begin * 8) / 8;
    if (bytes <= 0) return;

    reservoir_.Skip(-bytes * 8);
    int i = 0;  // next byte of the range under the reader
    auto seek = [&](int index) {
        reservoir_.Skip((index - i) * 8);
        i = index;
    };
    auto next = [&]() {
        ++i;
        return reservoir_.Read(8);
    };

    int used = 0;
    int items = 0;
    while (i < bytes && items < kMaxTextItems) {
        const int at = i;
        const uint32_t byte = next();
        if ((byte & 0xF0) == 0xA0) {
            int count = static_cast<int>(byte & 0x0F);
            if (count == 0x0F && i < bytes) count += static_cast<int>(next());
            if (count > bytes - i || used + count + 1 > kAncillaryTextCapacity) {
                seek(bytes);
                break;
            }
            for (int c = 0; c < count; ++c) text[used++] = static_cast<char>(next());
            text[used] = '\0';
            *textLength = used;
            ++items;
        } else if (byte == 'V' && bytes - i >= 3) {
            uint32_t tag = next() << 16;
            tag |= next() << 8;
            tag |= next();
            if (tag != 0x425249u) {  // not "VBRI"
                seek(at + 1);
                continue;
            }
            // An information header of 26 bytes followed by its seek table.
            if (bytes - (at + 1) < 25) {
                seek(bytes);
                break;
            }
            seek(at + 18);
            int entries = static_cast<int>(next() << 8);
            entries |= static_cast<int>(next());
            seek(at + 22);
            int entrySize = static_cast<int>(next() << 8);
            entrySize |= static_cast<int>(next());
            // Up to 65535 x 65535 bytes: counted in 64 bits, then limited to the range.
            const long long tableEnd = at + 26 + static_cast<long long>(entries) * entrySize;
            seek(static_cast<int>(std::min<long long>(bytes, tableEnd)));
        }
    }
    seek(bytes);
}

void Layer3Decoder::FindSbrPayload(int mainDataStartUnread) {
    sbrLength_ = 0;
    const int unread = reservoir_.UnreadBits();
    const int available = std::min(std::max(unread, 0) / 8, kMaxAncillaryBytes);
    previousSbrBytes_ = 0;
    if (available <= 0) return;
    reservoir_.ClearConsumed();
    const int usedBits = mainDataStartUnread - unread;
    reservoir_.Skip((8 - (usedBits & 7)) & 7);
    if (available >= 2) {
        const uint32_t marker = reservoir_.Read(4);
        int length = static_cast<int>(reservoir_.Read(8));
        int wrapper = 2;
        if (length == 255) {
            length += static_cast<int>(reservoir_.Read(8));
            wrapper = 3;
        }
        const bool stereoMarker = marker == 0xC || marker == 0xE;
        const bool monoMarker = marker == 0xD || marker == 0xF;
        const bool markerFits = frame_.channels == 2 ? stereoMarker : monoMarker;
        if (markerFits && wrapper <= available && length <= available - wrapper) {
            const uint32_t nibble = reservoir_.Read(4);
            if (nibble & 8) {
                sbrPayload_[0] = static_cast<uint8_t>(marker * 16 + nibble);
                for (int i = 0; i < length; ++i) {
                    sbrPayload_[1 + i] = static_cast<uint8_t>(reservoir_.Read(8));
                }
                sbrLength_ = length + 1;
                previousSbrBytes_ = length + wrapper;
            }
        }
    }
    // The payload bytes stay unread: they may also be main data of later frames.
    reservoir_.Skip(-reservoir_.Consumed());
}

void Layer3Decoder::DecodeGranule(int gr, bool conceal, float* output, int shift, bool mono) {
    const int channels = frame_.channels;
    const ScaleFactorBands& bands = kScaleFactorBands[frame_.version][frame_.samplingIndex];
    const bool intensity = frame_.mode == 1 && (frame_.modeExtension & 1) != 0;

    for (int ch = 0; ch < channels; ++ch) {
        GranuleInfo& info = granule_[ch];
        info = side_.granule[gr][ch];
        if (conceal) {
            std::memset(spectrum_[ch], 0, sizeof(spectrum_[ch]));
            info.nonzeroLines = 0;
            continue;
        }
        reservoir_.ClearConsumed();
        if (frame_.mpeg1) {
            ReadScaleFactorsMpeg1(reservoir_, info, side_.scfsi[ch], gr, scaleFactors_[ch]);
        } else {
            ReadScaleFactorsMpeg2(reservoir_, info, intensity && ch == 1, scaleFactors_[ch]);
        }
        info.nonzeroLines = DecodePowered(reservoir_, info, bands, frame_.version, powered_);
        Requantise(powered_, info, scaleFactors_[ch], bands, frame_.version, spectrum_[ch]);
        // The next granule starts where this one's length says, whatever was read.
        reservoir_.Skip(info.part2_3_length - reservoir_.Consumed());
    }

    if (channels == 2 && !conceal) {
        const StereoFrame stereo{frame_.mode, frame_.modeExtension, frame_.version};
        ProcessStereo(stereo, bands, scaleFactors_[1], granule_, spectrum_, mono);
    }

    const int outChannels = outputChannels_;
    const int maxSubbands = 32 >> shift;
    const bool lowRate8k = frame_.version == 2 && frame_.samplingIndex == 2;
    const int mixedLong = lowRate8k ? 4 : 2;
    const int samples = 18 * maxSubbands;
    for (int ch = 0; ch < outChannels; ++ch) {
        GranuleInfo& info = granule_[ch];
        float* spectrum = spectrum_[ch];
        if (conceal) {
            concealment_.Conceal(ch, bands, spectrum, info);
        } else {
            ReorderShortBlocks(info, bands, spectrum);
            ReduceAliasing(info, mixedLong, maxSubbands, spectrum);
            concealment_.Store(ch, spectrum, info);
        }
        const int active = ActiveSubbands(info, bands);
        const int subbands = std::min(maxSubbands, active + 1);
        InverseMdct(info, mixedLong, subbands, spectrum, overlap_[ch], hybrid_[ch]);
        synthesis_[ch].RunGranule(hybrid_[ch], shift, output + gr * samples * outChannels + ch,
                                  outChannels);
    }
}

Mp3Ssc Layer3Decoder::DecodeFrame(MpegStream& stream, float* output, int destinationSize,
                                  int* coreBytes, char* text, int* textLength, int shift,
                                  bool mono) {
    const MpegHeader& header = stream.Header();
    *coreBytes = 0;
    outputChannels_ = mono ? 1 : header.channels;
    if (header.layer != 3) return kSscErrLayer;
    const int frameCoreBytes = (header.SamplesPerFrame() * outputChannels_ * 2) >> shift;
    if (destinationSize < frameCoreBytes) return kSscErrBufferSize;

    BitBuffer& input = stream.Buffer();
    input.ClearConsumed();
    input.Skip(header.headerBits);
    frame_ = FrameLayout{header.channels,  header.samplingIndex, header.frameBits,
                         header.mode,      header.modeExtension, header.headerBits,
                         header.version == 0, header.version,    header.crcPresent,
                         header.SideInfoBytes()};

    bool crcFailed = false;
    if (frame_.crcPresent && !CheckCrc(input)) {
        crcFailed = true;
        side_ = SideInfo{};
        input.Skip(frame_.sideInfoBytes * 8);
    } else {
        ReadSideInfo(input, frame_.mpeg1, frame_.channels, side_);
    }

    const bool haveMainData = FillReservoir(stream);
    Mp3Ssc status = kSscSuccess;
    if (haveMainData) {
        if (text != nullptr && textLength != nullptr) ScanAncillaryText(text, textLength);
        const int mainDataStart = reservoir_.UnreadBits();
        const int granules = frame_.mpeg1 ? 2 : 1;
        for (int gr = 0; gr < granules; ++gr) DecodeGranule(gr, crcFailed, output, shift, mono);
        FindSbrPayload(mainDataStart);
        ancillaryBits_ = reservoir_.UnreadBits();
    } else if (stream.ConfirmationCount() > 0) {
        stream.ExtendConfirmation();
        status = kSscSyncNeedData;
        sbrLength_ = 0;
        ancillaryBits_ = reservoir_.UnreadBits();
    } else {
        const int granules = frame_.mpeg1 ? 2 : 1;
        for (int gr = 0; gr < granules; ++gr) DecodeGranule(gr, true, output, shift, mono);
        status = kSscInfoNoMainData;
        sbrLength_ = 0;
        ancillaryBits_ = reservoir_.UnreadBits();
    }

    input.Skip(frame_.frameBits - input.Consumed());

    if (SscSucceeded(status)) *coreBytes = frameCoreBytes;
    if (crcFailed) {
        reservoir_.Clear();
        ancillaryBits_ = 0;
        previousSbrBytes_ = 0;
        if (SscSucceeded(status)) status = kSscInfoCrc;
    }
    return status;
}

}  // namespace velora
