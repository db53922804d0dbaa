#include "MpegHeader.h"

#include "Layer3Tables.h"

namespace velora {

bool MpegHeader::Parse(uint32_t headerWord) {
    *this = MpegHeader{};
    if (headerWord < 0xFFE00000u) return false;
    const int ext = static_cast<int>((headerWord >> 20) & 1);
    const int idBit = static_cast<int>((headerWord >> 19) & 1);
    const int layerCode = static_cast<int>((headerWord >> 17) & 3);
    const int rateIndex = static_cast<int>((headerWord >> 12) & 15);
    const int freqIndex = static_cast<int>((headerWord >> 10) & 3);
    if (ext == 0 && idBit == 1) return false;
    if (layerCode != 1) return false;
    if (rateIndex == 0 || rateIndex == 15) return false;
    if (freqIndex == 3) return false;

    word = headerWord;
    extensionBit = ext;
    id = idBit;
    layer = 4 - layerCode;
    protectionBit = static_cast<int>((headerWord >> 16) & 1);
    bitrateIndex = rateIndex;
    samplingIndex = freqIndex;
    padding = static_cast<int>((headerWord >> 9) & 1);
    privateBit = static_cast<int>((headerWord >> 8) & 1);
    mode = static_cast<int>((headerWord >> 6) & 3);
    modeExtension = static_cast<int>((headerWord >> 4) & 3);
    copyright = static_cast<int>((headerWord >> 3) & 1);
    original = static_cast<int>((headerWord >> 2) & 1);
    emphasis = static_cast<int>(headerWord & 3);

    version = id == 1 ? 0 : (extensionBit == 1 ? 1 : 2);
    channels = mode == 3 ? 1 : 2;
    samplingRate = kSamplingRates[version][samplingIndex];
    bitrate = kBitratesKbps[version == 0 ? 0 : 1][bitrateIndex] * 1000;
    const int samples = SamplesPerFrame();
    frameBits = 8 * (samples * (bitrate / 8) / samplingRate + padding);
    crcPresent = protectionBit == 0;
    headerBits = crcPresent ? 48 : 32;
    frameDurationMs = static_cast<float>(samples) * 1000.0f / static_cast<float>(samplingRate);
    return true;
}

int MpegHeader::SideInfoBytes() const {
    if (version == 0) return channels == 1 ? 17 : 32;
    return channels == 1 ? 9 : 17;
}

}  // namespace velora
