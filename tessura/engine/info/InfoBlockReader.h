#pragma once
// The reading side of the information block, for other programs and checks: opens the block
// read-only, copies and decodes its fields, and waits on its event. Nothing here writes.
#include "InfoLayout.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <semaphore.h>
#include <span>
#include <string>

namespace tessura::info {

struct Snapshot {
    uint32_t magic = 0;  // kRunningMagic while the player runs
    uint32_t state = 0;  // a PlayState value
    int32_t length = 0;
    int32_t position = 0;
    std::string title;
    std::string author;
    std::array<uint32_t, kColourCount> colours{};
    std::string skinName;
    std::string visName;
    std::string fileName;
};

// Decodes one copy of the block; a text ends at its first zero or at its field's end, so a
// block with unterminated fields is read without going past them.
Snapshot decodeBlock(std::span<const unsigned char, kBlockSize> block);

class InfoBlockReader {
  public:
    explicit InfoBlockReader(Names names = Names::standard());
    ~InfoBlockReader();
    InfoBlockReader(const InfoBlockReader&) = delete;
    InfoBlockReader& operator=(const InfoBlockReader&) = delete;

    // Maps the block read-only (it must be at least the block's size) and opens the event
    // when it exists. False when there is no block.
    bool open();
    bool hasEvent() const { return event_ != nullptr; }

    // A copy of the fields as they are now; empty when not open.
    std::optional<Snapshot> read() const;

    // The event's pending count (0 or 1 for a well-behaved player), -1 without an event.
    int eventValue() const;
    // Takes a pending signal without waiting.
    bool takeEvent();
    // Waits up to `timeout` for a signal.
    bool waitEvent(std::chrono::milliseconds timeout);

  private:
    Names names_;
    const unsigned char* view_ = nullptr;
    sem_t* event_ = nullptr;
};

// Opens, copies and closes: the fields at this moment, or empty when there is no block.
std::optional<Snapshot> readBlockOnce(const Names& names = Names::standard());

}  // namespace tessura::info
