// Test support: drives an MpegStream over a byte stream the way a player does (feed a
// piece whenever the stream asks for data, end of data after the last byte) and reports
// what it found.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "Mp3Ssc.h"
#include "MpegStream.h"

namespace velora::test {

inline std::string ConformanceDir() { return VELORA_SOURCE_DIR "/Veloradec/tests/conformance/"; }

inline std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

// Regular files in `dir` whose name ends with `suffix` (all when empty), sorted by name.
inline std::vector<std::filesystem::path> FilesIn(const std::string& dir,
                                                  const std::string& suffix) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().filename().string();
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

struct WalkResult {
    int frames = 0;
    long long samples = 0;  // sum of samples per frame x channels
    int lost = 0;
    long long calls = 0;
    bool capped = false;      // gave up: NextFrame did not finish within the call budget
    bool unexpected = false;  // NextFrame returned a code outside the sync family
    Mp3Ssc last = kSscSuccess;
    std::vector<Mp3Ssc> trace;  // every status returned, in order
};

// Called on each kSscSuccess before the frame is skipped. `bitOffset` is the position of
// the frame header in the input, in bits.
using FrameVisitor = std::function<void(MpegStream& stream, long long bitOffset)>;

constexpr int kWalkBufferSize = 8192;

// `piece` bytes are fed at a time. The call budget is generous (a few calls per input
// byte) but finite, so a stream that stops making progress fails instead of hanging.
inline WalkResult WalkFrames(const uint8_t* data, std::size_t size, const FrameVisitor& visit = {},
                             int piece = 4096) {
    std::array<uint8_t, kWalkBufferSize> storage{};
    MpegStream stream;
    stream.Init(storage.data(), kWalkBufferSize);

    WalkResult result;
    std::size_t fed = 0;
    const auto feed = [&] {
        if (fed < size) {
            const std::size_t chunk = std::min(static_cast<std::size_t>(piece), size - fed);
            fed += static_cast<std::size_t>(stream.Feed(data + fed, static_cast<int>(chunk)));
        }
        if (fed == size && !stream.Buffer().EndOfData()) stream.SetEndOfData();
    };
    feed();

    const long long budget = 1000 + 4 * static_cast<long long>(size);
    for (;;) {
        if (++result.calls > budget) {
            result.capped = true;
            return result;
        }
        const Mp3Ssc status = stream.NextFrame();
        result.last = status;
        result.trace.push_back(status);
        switch (status) {
            case kSscSuccess: {
                const MpegHeader& header = stream.Header();
                const long long offset =
                    static_cast<long long>(fed) * 8 - stream.Buffer().UnreadBits();
                if (visit) visit(stream, offset);
                ++result.frames;
                result.samples += header.SamplesPerFrame() * header.channels;
                stream.Buffer().Skip(header.frameBits);
                break;
            }
            case kSscSyncSearched:
            case kSscSyncNeedData:
                feed();
                break;
            case kSscSyncLost:
                ++result.lost;
                break;
            case kSscSyncEof:
                return result;
            default:
                result.unexpected = true;
                return result;
        }
    }
}

inline WalkResult WalkFrames(const std::vector<uint8_t>& bytes, const FrameVisitor& visit = {},
                             int piece = 4096) {
    return WalkFrames(bytes.data(), bytes.size(), visit, piece);
}

}  // namespace velora::test
