// Test support: turns a plain Layer III stream into a Velora stream by writing an SBR payload
// into the spare bytes behind each frame's main data. Meant for streams made without the bit
// reservoir (lame --nores), where every frame's main data lies in the frame and its tail is
// free; a frame whose tail the next frame's main data reaches back into only gets the part
// it does not use.
//
// In the frame, a payload sits at the first byte boundary after the main data (counted from
// the start of the frame's main data) as the core's payload search reads it: the marker
// nibble (high nibble of payload byte 0), the count of payload bytes after byte 0 in 8 bits
// (255 and an extension byte from 255 on), the low nibble of payload byte 0, then payload
// bytes 1 .. length-1.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "FrameBuilder.h"
#include "FrameWalker.h"
#include "MpegHeader.h"
#include "MpegStream.h"
#include "SbrHandoff.h"
#include "SideInfo.h"

namespace velora::test {

// The core looks at no more than this many bytes behind the main data.
constexpr int kMaxAncillarySearch = 510;

// Where one frame of the input keeps its main data.
struct VeloraFrameLayout {
    std::size_t offset = 0;  // first byte of the header in the input
    int bytes = 0;           // whole frame
    int channels = 0;
    int areaStart = 0;      // first main-data byte, from the frame start
    int mainDataBegin = 0;  // bytes of this frame's main data in earlier frames
    int mainDataBits = 0;   // sum of part2_3_length
    bool tagFrame = false;  // the encoder's Xing/Info frame
};

struct VeloraBuildReport {
    bool ok = false;  // the input walked to its end without losing sync
    int frames = 0;   // frames in the output
    int withPayload = 0;
    int withoutRoom = 0;       // a payload was asked for but did not fit
    int droppedTagFrames = 0;  // a leading Xing/Info frame is left out
    int smallestRoom = -1;     // fewest spare bytes behind the main data of a frame
    int largestRoom = -1;
    std::vector<int> room;  // spare bytes of each output frame
};

// Frame index in the output stream -> the payload to carry, or none.
using VeloraPayloadSource = std::function<std::optional<SbrFrame>(int frameIndex)>;

// Bytes the wrapped payload takes in the frame.
inline int WrappedPayloadBytes(const SbrFrame& f) {
    const int after = f.length - 1;
    return f.length + (after >= 255 ? 2 : 1);
}

inline std::vector<uint8_t> WrapPayload(const SbrFrame& f) {
    BitWriter w;
    const int after = f.length - 1;
    w.Put(static_cast<uint32_t>(f.payload[0] >> 4), 4);
    if (after >= 255) {
        w.Put(255, 8);
        w.Put(static_cast<uint32_t>(after - 255), 8);
    } else {
        w.Put(static_cast<uint32_t>(after), 8);
    }
    w.Put(static_cast<uint32_t>(f.payload[0] & 0x0F), 4);
    for (int i = 1; i < f.length; ++i) w.Put(f.payload[i], 8);
    return w.Bytes();
}

// Every frame of `stream` with its main-data layout, read by the decoder's own header and
// side-information parsing (so that main data ends where the core will find it ending).
inline std::vector<VeloraFrameLayout> ListFrameLayouts(const std::vector<uint8_t>& stream,
                                                       bool* walkedToEnd = nullptr) {
    std::vector<VeloraFrameLayout> frames;
    bool aligned = true;
    const WalkResult walk = WalkFrames(stream, [&](MpegStream& s, long long bitOffset) {
        const MpegHeader& h = s.Header();
        if (bitOffset % 8 != 0) aligned = false;
        VeloraFrameLayout f;
        f.offset = static_cast<std::size_t>(bitOffset / 8);
        f.bytes = h.frameBits / 8;
        f.channels = h.channels;
        f.areaStart = h.headerBits / 8 + h.SideInfoBytes();
        BitBuffer& b = s.Buffer();
        b.ClearConsumed();
        b.Skip(h.headerBits);
        SideInfo side;
        ReadSideInfo(b, h.version == 0, h.channels, side);
        b.Skip(-b.Consumed());
        f.mainDataBegin = side.main_data_begin;
        for (int gr = 0; gr < (h.version == 0 ? 2 : 1); ++gr) {
            for (int ch = 0; ch < h.channels; ++ch)
                f.mainDataBits += side.granule[gr][ch].part2_3_length;
        }
        const std::size_t tag = f.offset + static_cast<std::size_t>(f.areaStart);
        if (f.mainDataBits == 0 && tag + 4 <= stream.size()) {
            const auto at = [&](std::size_t i) { return static_cast<char>(stream[tag + i]); };
            const bool xing = at(0) == 'X' && at(1) == 'i' && at(2) == 'n' && at(3) == 'g';
            const bool info = at(0) == 'I' && at(1) == 'n' && at(2) == 'f' && at(3) == 'o';
            f.tagFrame = xing || info;
        }
        frames.push_back(f);
    });
    if (walkedToEnd != nullptr) {
        *walkedToEnd = aligned && !walk.capped && !walk.unexpected && walk.lost == 0 &&
                       walk.last == kSscSyncEof;
    }
    return frames;
}

// Byte offset in frame `f` where a payload starts, and the bytes free from there (limited to
// what the core searches). -1 and 0 when the main data does not end inside the frame.
inline int PayloadStart(const VeloraFrameLayout& f) {
    const int end = f.areaStart - f.mainDataBegin + (f.mainDataBits + 7) / 8;
    return end >= f.areaStart && end <= f.bytes ? end : -1;
}

inline int SpareBytes(const VeloraFrameLayout& f, int nextMainDataBegin) {
    const int start = PayloadStart(f);
    if (start < 0) return 0;
    return std::max(0, std::min(f.bytes - start - nextMainDataBegin, kMaxAncillarySearch));
}

// `mp3` with every frame rewritten at `kbps` (same version, rate and mode, no padding): the
// side information and main data unchanged, zeros after them, so that each frame gains spare
// bytes the way an encoder would keep them for the payload. Needs every frame's main data in
// the frame itself (main_data_begin 0); empty when a frame does not allow it or `kbps` is no
// bit rate of the stream's version, or would make a frame shorter.
inline std::vector<uint8_t> WidenFrames(const std::vector<uint8_t>& mp3, int kbps) {
    bool ok = false;
    const std::vector<VeloraFrameLayout> frames = ListFrameLayouts(mp3, &ok);
    if (!ok || frames.empty()) return {};
    std::vector<uint8_t> out;
    std::size_t copied = 0;  // input bytes handled so far
    for (const VeloraFrameLayout& f : frames) {
        out.insert(out.end(), mp3.begin() + static_cast<std::ptrdiff_t>(copied),
                   mp3.begin() + static_cast<std::ptrdiff_t>(f.offset));
        const uint8_t* frame = mp3.data() + f.offset;
        const uint32_t word = uint32_t{frame[0]} << 24 | uint32_t{frame[1]} << 16 |
                              uint32_t{frame[2]} << 8 | frame[3];
        MpegHeader old;
        if (f.mainDataBegin != 0 || !old.Parse(word)) return {};
        int index = 0;
        for (int i = 1; i < 15; ++i) {
            if (kTestBitrates[old.version == 0 ? 0 : 1][i] == kbps) index = i;
        }
        MpegHeader wide;
        const uint32_t wideWord = (word & ~0xF200u) | static_cast<uint32_t>(index) << 12;
        if (index == 0 || !wide.Parse(wideWord) || wide.frameBits / 8 < f.bytes) return {};
        const std::size_t at = out.size();
        out.insert(out.end(), frame, frame + f.bytes);
        out.resize(at + static_cast<std::size_t>(wide.frameBits / 8), 0);
        for (int i = 0; i < 4; ++i)
            out[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(wideWord >> (24 - 8 * i));
        if (wide.crcPresent) {
            const uint16_t crc = FrameCrc(out.data() + at, wide.SideInfoBytes());
            out[at + 4] = static_cast<uint8_t>(crc >> 8);
            out[at + 5] = static_cast<uint8_t>(crc & 0xFF);
        }
        copied = f.offset + static_cast<std::size_t>(f.bytes);
    }
    out.insert(out.end(), mp3.begin() + static_cast<std::ptrdiff_t>(copied), mp3.end());
    return out;
}

// The Velora stream: `mp3` with payloads where `payloadFor` asks for them and they fit. A
// leading Xing/Info frame is dropped (it would be the first decoded frame and carries no
// payload, so the stream would not count as Velora). Bytes between frames are kept.
inline std::vector<uint8_t> BuildVeloraStream(const std::vector<uint8_t>& mp3,
                                              const VeloraPayloadSource& payloadFor,
                                              VeloraBuildReport* report = nullptr) {
    VeloraBuildReport r;
    const std::vector<VeloraFrameLayout> frames = ListFrameLayouts(mp3, &r.ok);
    std::vector<uint8_t> out = mp3;
    std::size_t dropFrom = 0;
    std::size_t dropBytes = 0;
    int index = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const VeloraFrameLayout& f = frames[i];
        if (i == 0 && f.tagFrame) {
            dropFrom = f.offset;
            dropBytes = static_cast<std::size_t>(f.bytes);
            ++r.droppedTagFrames;
            continue;
        }
        const int nextBegin = i + 1 < frames.size() ? frames[i + 1].mainDataBegin : 0;
        const int spare = SpareBytes(f, nextBegin);
        r.room.push_back(spare);
        r.smallestRoom = r.smallestRoom < 0 ? spare : std::min(r.smallestRoom, spare);
        r.largestRoom = std::max(r.largestRoom, spare);
        const std::optional<SbrFrame> payload = payloadFor ? payloadFor(index) : std::nullopt;
        ++index;
        if (!payload.has_value()) continue;
        if (payload->length < 1 || payload->length > 511 || WrappedPayloadBytes(*payload) > spare) {
            ++r.withoutRoom;
            continue;
        }
        const std::vector<uint8_t> wrapped = WrapPayload(*payload);
        std::copy(wrapped.begin(), wrapped.end(),
                  out.begin() + static_cast<std::ptrdiff_t>(f.offset) + PayloadStart(f));
        ++r.withPayload;
    }
    if (dropBytes > 0) {
        out.erase(out.begin() + static_cast<std::ptrdiff_t>(dropFrom),
                  out.begin() + static_cast<std::ptrdiff_t>(dropFrom + dropBytes));
    }
    r.frames = index;
    if (report != nullptr) *report = r;
    return out;
}

}  // namespace velora::test
