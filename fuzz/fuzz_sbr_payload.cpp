// Feeds arbitrary bytes to the SBR payload parser as a sequence of SbrFrame payloads on one
// parser state, the way the decoder hands them over frame after frame, and checks what the
// later stages rely on: known result codes only, grids and value counts inside the records.
//
// Input: pieces of [control byte][length byte][payload bytes...]. Control bits 0-1 choose
// the kind (12, 13, or another value), bit 2 stereo, bit 3 present, bit 4 a fresh state,
// bit 5 a correct CRC (written into the payload, so that the fuzzer gets past the check).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "SbrCrc.h"
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
    size_t at = 0;
    while (at + 2 <= size) {
        const uint8_t control = data[at];
        const size_t wanted = data[at + 1] * 2u;
        at += 2;
        const size_t length = wanted < size - at ? wanted : size - at;
        std::memset(&frame, 0xEE, sizeof frame);
        const int kinds[4] = {12, 13, 13, 7};
        frame.kind = kinds[control & 3];
        frame.stereo = (control >> 2) & 1;
        frame.present = ((control >> 3) & 1) ^ 1;
        frame.length = static_cast<int32_t>(length);
        std::memcpy(frame.payload, data + at, length);
        at += length;
        if ((control & 0x20) && length >= 2) {
            const uint32_t crc = SbrCrc(frame.payload, frame.length, kSbrCrcStartBit,
                                        SbrCrcBits(frame.stereo != 0, frame.kind == 13)) & 0x7Fu;
            frame.payload[0] = static_cast<uint8_t>((frame.payload[0] & 0xF8u) | (crc >> 4));
            frame.payload[1] = static_cast<uint8_t>((frame.payload[1] & 0x0Fu) | ((crc & 0x0Fu) << 4));
        }
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
