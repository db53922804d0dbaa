// Feeds arbitrary bytes to the SBR payload parser as a sequence of SbrFrame payloads on one
// parser state, the way the decoder hands them over frame after frame, and checks what the
// later stages rely on: known result codes only, grids and value counts inside the records.
//
// Input: pieces of [control byte][length byte][payload bytes...] (SbrFuzzFrames.h); control
// bit 4 starts a fresh state.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "SbrFuzzFrames.h"
#include "SbrPayloadParser.h"

namespace {

using namespace velora::sbr;

[[noreturn]] void Fail(const char* what, long long detail) {
    std::fprintf(stderr, "fuzz_sbr_payload: %s (%lld)\n", what, detail);
    std::abort();
}

void CheckChannel(const SbrChannelData& c) {
    if (!c.valid) return;
    const SbrFrameInfo& g = c.grid;
    if (!CheckSbrGrid(g)) Fail("stored grid fails its own checks", g.frameClass);
    if (c.waveformGroups < 0 || c.waveformGroups > kMaxWaveformGroups) Fail("waveform groups", c.waveformGroups);
    for (int w = 0; w < c.waveformGroups; ++w) {
        const SbrWaveformGroup& group = c.waveform[w];
        if (group.bands < 1 || group.bands > kMaxWaveformBands) Fail("waveform bands", group.bands);
        if (group.timeRange < 1 || group.timeRange > 3) Fail("waveform time range", group.timeRange);
    }
}

std::unique_ptr<SbrParserState> g_state;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!g_state) g_state = std::make_unique<SbrParserState>();
    if (!InitParserState(*g_state, 44100)) Fail("default tables", 0);
    static velora::SbrFrame frame;
    SbrFuzzFrames frames(data, size);
    uint8_t control = 0;
    while (frames.Next(frame, control)) {
        if (control & 0x10) {
            if (!InitParserState(*g_state, 44100)) Fail("default tables", 1);
        }
        const int result = ParsePayload(*g_state, frame);
        if (result != kSbrOk && result != kSbrErrElement && result != kSbrErrReinit && result != kSbrErrUnusable)
            Fail("unknown result", result);
        if (result == kSbrErrElement && (frame.kind == 12 || frame.kind == 13)) Fail("kind refused", frame.kind);
        if (result != kSbrOk) {
            // The decoder is released; a new stream starts afresh.
            if (!InitParserState(*g_state, 44100)) Fail("default tables", 2);
            continue;
        }
        if (g_state->elementChannels < 0 || g_state->elementChannels > 2) Fail("channels", g_state->elementChannels);
        CheckChannel(g_state->channel[0]);
        CheckChannel(g_state->channel[1]);
        if (g_state->header.received && !g_state->validFrameSeen && g_state->channel[0].valid)
            Fail("valid channel without a valid frame", 0);
    }
    return 0;
}
