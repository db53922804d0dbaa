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
    // The payload passed every check it could be put to: CRC, header, element and length
    // (before the first header only the CRC).
    bool payloadValid = false;
};

// Sets the defaults for a decoder at `outputRate` Hz and builds the frequency tables of the
// default header (with `tiltDb` of spectral tilt). False when those tables cannot be built.
bool InitParserState(SbrParserState& state, int outputRate, float tiltDb = 0.0f);

// Parses one payload. Returns kSbrOk, kSbrErrElement, kSbrErrReinit or kSbrErrUnusable.
int ParsePayload(SbrParserState& state, const velora::SbrFrame& frame);

// Whether the payloads of a stream's first frames are SBR payloads, judged before any SBR
// decoder exists. Each payload must pass every check the format offers: marker, CRC flag
// and CRC, header version and frequency tables, element syntax and the length. The element
// and table checks need the tables of the output rate: for a core the enhancement does not
// take (above kMaxProbeCoreRate) only the CRC and the header version are checked.
constexpr int kMaxProbeCoreRate = 24000;

struct SbrPayloadProbe {
    SbrParserState parser;
    bool elementChecks = false;
    bool failed = false;
    int passed = 0;  // payloads that passed
};

// Starts a probe for a core at `coreRate` Hz (output at twice that rate), with the spectral
// tilt the decoder's tables will have.
void BeginPayloadProbe(SbrPayloadProbe& probe, int coreRate, float tiltDb);
// Checks the next frame's payload (`frame.present` 0: the frame carried none, which fails).
// False when this payload or an earlier one failed.
bool ProbePayload(SbrPayloadProbe& probe, const velora::SbrFrame& frame);

// Building blocks, also used by tests.
// Reads the header fields after the payload's CRC into `header` (fields of absent extra
// groups keep their values). The pseudo-stereo width is present in single-channel headers.
void ParseSbrHeader(SbrBitReader& reader, bool stereo, SbrHeader& header);
// Reads a time grid and checks it; false when it is invalid.
bool ParseSbrGrid(SbrBitReader& reader, SbrFrameInfo& grid);
bool CheckSbrGrid(const SbrFrameInfo& grid);

}  // namespace velora::sbr
