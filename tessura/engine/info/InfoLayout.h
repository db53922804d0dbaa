#pragma once
// The information block other programs read while tessura runs: a named shared-memory block of
// fixed layout (little-endian) and a named semaphore that stands in for an auto-reset event,
// posted when a text or the state changes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessura::info {

inline constexpr std::size_t kBlockSize = 1317;
inline constexpr uint32_t kRunningMagic = 1316;  // at kMagic while the player runs; 0 after

// Offsets from the start of the block.
inline constexpr std::size_t kMagic = 0;
inline constexpr std::size_t kState = 4;
inline constexpr std::size_t kLength = 8;     // song length, ms
inline constexpr std::size_t kPosition = 12;  // playing position, ms
inline constexpr std::size_t kTitle = 16;
inline constexpr std::size_t kAuthor = 272;   // the second text: author or a stream's title
inline constexpr std::size_t kColours = 528;  // four 32-bit colours
inline constexpr std::size_t kSkinName = 544;
inline constexpr std::size_t kVisName = 800;
inline constexpr std::size_t kFileName = 1056;

inline constexpr std::size_t kTextField = 256;
inline constexpr std::size_t kFileNameField = 260;
inline constexpr std::size_t kColourCount = 4;

// Colour slots: [0] SystemColor_2, [1] SystemColor_1, [2] SystemColor_3, [3] BorderColor.
inline constexpr uint32_t kOpaque = 0xFF000000u;

inline constexpr const char* kDefaultSkinName = "original_default";

enum class PlayState : uint32_t { Playing = 1, Stopped = 2, Paused = 3 };

// The shared-memory and semaphore names. The standard ones are "/TessuraInformation" and
// "/TessuraInformationEvent"; when TESSURA_INFO_SUFFIX is set (without '/'), it is appended
// to both, so tests and a second test player never touch the block of a running player.
struct Names {
    std::string memory;
    std::string event;

    static Names standard();
    static Names withSuffix(std::string_view suffix);
};

// The longest start of `text` that fits a field of `fieldSize` bytes with its terminator, cut
// so that no UTF-8 sequence is split (text after an embedded NUL is never looked at).
std::string_view fitToField(std::string_view text, std::size_t fieldSize);

}  // namespace tessura::info
