// Writes SBR payloads in the form the mp3 core hands them to the decoder: header, time grid
// and element data field by field from the decoder's own records, code words from the same
// codebook trees, the CRC, padding to whole bytes.
#pragma once

#include <cstdint>

#include "SbrData.h"
#include "SbrHandoff.h"
#include "SbrHuffman.h"

namespace velora::sbr {

// Code word of every symbol of one codebook, found by walking its tree.
struct SbrHuffmanCodeTable {
    static constexpr int kMaxSymbols = 128;
    int32_t symbolMin = 0;
    int32_t symbolMax = -1;
    uint32_t bits[kMaxSymbols] = {};   // code word, first bit in the most significant position used
    int32_t length[kMaxSymbols] = {};  // 0 = symbol has no code

    // False when the tree is malformed (a cycle, an index outside it, a symbol out of range,
    // a code word longer than 32 bits).
    bool Build(const SbrHuffmanTree& tree);
    bool Has(int symbol) const {
        return symbol >= symbolMin && symbol <= symbolMax && length[symbol - symbolMin] > 0;
    }
};

struct SbrWriteOptions {
    bool writeHeader = false;   // kind 13
    bool extra1 = true;         // header group freq_scale, alter_scale, noise_bands
    bool extra2 = true;         // header group limiter, interpolation, smoothing
    bool stereo = false;        // channel-pair element
    bool coupled = false;       // channel pair: second channel carries balance values
    int32_t streamFlag = 1;
    int32_t outputMode = 0;     // single-channel element: 1 = output as pseudo stereo
    bool extension = false;
    int32_t extensionBytes = 0;  // 0..270
    const uint8_t* extensionData = nullptr;  // extensionBytes bytes, or null for zeros
    bool corruptCrc = false;    // write a wrong CRC (for tests of the decoder)
};

class SbrPayloadWriter {
public:
    SbrPayloadWriter();

    // `header` gives amp_res and flag A and is written when options.writeHeader; channels
    // holds one record (two for a pair); envelope and noise values as the parser leaves them
    // (balance values doubled). Fills out.payload/length/kind/stereo/present. False when a
    // value cannot be coded or the payload would exceed 511 bytes.
    bool Write(const SbrHeader& header, const SbrWriteOptions& options, const SbrChannelData* channels,
               const SbrFreqData& freq, velora::SbrFrame& out) const;

    bool Ready() const { return ready_; }
    const SbrHuffmanCodeTable& Codes(SbrCodebook book) const { return codes_[static_cast<int>(book)]; }

private:
    SbrHuffmanCodeTable codes_[kSbrCodebookCount];
    bool ready_ = false;
};

}  // namespace velora::sbr
