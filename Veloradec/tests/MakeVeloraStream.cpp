// Test tool: a Velora stream from a plain Layer III stream made without the bit reservoir
// (lame --nores). Every frame is widened to KBPS and carries a payload of the test payload
// maker, with a header every eighth frame. bench/decode makes its Velora stream with it.
//
//   velora_make_stream IN.mp3 KBPS OUT.mp3
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "LameStreams.h"
#include "VeloraPayloads.h"
#include "VeloraStreamBuilder.h"

int main(int argc, char** argv) {
    namespace vt = velora::test;
    if (argc != 4) {
        std::fprintf(stderr, "usage: velora_make_stream IN.mp3 KBPS OUT.mp3\n");
        return 2;
    }
    const std::vector<uint8_t> input = vt::ReadAll(argv[1]);
    const std::vector<uint8_t> wide = vt::WidenFrames(input, std::atoi(argv[2]));
    const std::vector<vt::VeloraFrameLayout> frames = vt::ListFrameLayouts(wide);
    if (wide.empty() || frames.empty()) {
        std::fprintf(stderr,
                     "velora_make_stream: %s: cannot widen the frames to %s kbit/s "
                     "(made without --nores?)\n",
                     argv[1], argv[2]);
        return 1;
    }
    velora::MpegHeader header;
    const std::size_t at = frames[0].offset;
    header.Parse(uint32_t{wide[at]} << 24 | uint32_t{wide[at + 1]} << 16 |
                 uint32_t{wide[at + 2]} << 8 | wide[at + 3]);
    vt::VeloraPayloadPlan plan;
    plan.outputRate = 2 * header.samplingRate;
    plan.stereo = header.channels == 2;
    const vt::VeloraPayloadMaker maker(plan);
    if (!maker.Ready()) {
        std::fprintf(stderr, "velora_make_stream: no payloads for a %d Hz core\n",
                     header.samplingRate);
        return 1;
    }
    vt::VeloraBuildReport report;
    const std::vector<uint8_t> out = vt::BuildVeloraStream(
        wide, [&](int i) { return maker(i); }, &report);
    if (!report.ok || !vt::WriteAll(argv[3], out)) {
        std::fprintf(stderr, "velora_make_stream: cannot write %s\n", argv[3]);
        return 1;
    }
    std::fprintf(stderr, "velora_make_stream: %d frames, %d with a payload, %d without room\n",
                 report.frames, report.withPayload, report.withoutRoom);
    return report.withPayload > 0 ? 0 : 1;
}
