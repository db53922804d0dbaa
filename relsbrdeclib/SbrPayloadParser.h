// Parsing of one SBR payload (the SbrFrame handed over by the mp3 core) into the stored
// header and the per-channel element data, with the CRC, length and grid checks and the
// concealment bookkeeping (frame error, error state).
#pragma once

#include <cstdint>

#include "SbrBitReader.h"
#include "SbrData.h"
#include "SbrHandoff.h"

namespace velora::sbr {

// Everything the parser keeps from frame to frame; owned by the SBR decoder.
struct SbrParserState {
    SbrHeader header;             // stored header (defaults until the first one)
    int32_t outputRate = 0;       // SBR output rate, for the frequency tables
    float tiltDb = 0.0f;          // spectral tilt of the frequency tables
    int32_t defaultStreamFlag = 1;
    bool validFrameSeen = false;  // a frame without errors has been parsed
    SbrChannelData channel[2];    // last good element (or marked for concealment)
    SbrFreqData freq[2];
    SbrChannelData scratch[2];    // element being parsed; replaces channel[] when good
    // Report of the last ParsePayload call.
    bool tablesChanged = false;   // start_freq, stop_freq, freq_scale or alter_scale changed
    bool headerReset = false;     // the channels were re-initialised
    int32_t elementChannels = 0;  // 1 single-channel, 2 channel pair, 0 no element data
};

// Sets the defaults for a decoder at `outputRate` Hz and builds the frequency tables of the
// default header (with `tiltDb` of spectral tilt). False when those tables cannot be built.
bool InitParserState(SbrParserState& state, int outputRate, float tiltDb = 0.0f);

// Parses one payload. Returns kSbrOk, kSbrErrElement, kSbrErrReinit or kSbrErrUnusable.
int ParsePayload(SbrParserState& state, const velora::SbrFrame& frame);

// Building blocks, also used by tests.
// Reads the header fields after the payload's CRC into `header` (fields of absent extra
// groups keep their values). The pseudo-stereo width is present in single-channel headers.
void ParseSbrHeader(SbrBitReader& reader, bool stereo, SbrHeader& header);
// Reads a time grid and checks it; false when it is invalid.
bool ParseSbrGrid(SbrBitReader& reader, SbrFrameInfo& grid);
bool CheckSbrGrid(const SbrFrameInfo& grid);

}  // namespace velora::sbr
