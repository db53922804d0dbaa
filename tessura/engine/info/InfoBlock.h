#pragma once
// The player's side of the information block: it creates the block and the event, writes the
// fields, and takes them away again at exit. Every writer reports false and does nothing while
// the block is unavailable, so playback never depends on it.
//
// The block is made 0600 and checked (our own, the right size) before it is mapped. Each
// player holds a shared flock() on it while open: a block of ours that nobody holds was left
// by a player that crashed and is made afresh, and the last player to close removes the names.
#include "InfoLayout.h"

#include <cstdint>
#include <mutex>
#include <semaphore.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace tessura::info {

// Whether an existing shared-memory object may be used: a regular object owned by `ownUid`.
// `requireSize` also asks for exactly the block's size (a block another player uses).
bool blockIsOurs(const struct stat& object, uid_t ownUid, bool requireSize);

class InfoBlock {
  public:
    explicit InfoBlock(Names names = Names::standard());
    ~InfoBlock();  // closes when still open
    InfoBlock(const InfoBlock&) = delete;
    InfoBlock& operator=(const InfoBlock&) = delete;

    // Creates (or joins) the block and the event and writes the running mark. False when the
    // block cannot be made or mapped; the player then runs on without it. A missing event
    // leaves the block usable; nothing is signalled then.
    bool Open();
    // Writes 0 at the mark, signals readers, unmaps; false when the block was not open.
    bool Close();
    bool isOpen() const;

    // Each writer signals the event after writing, except SetPosition and SetColours.
    bool SetState(PlayState state);
    bool SetLength(int32_t milliseconds);
    bool SetPosition(int32_t milliseconds);
    bool SetTitle(std::string_view title);    // empty clears the field to zeros
    bool SetAuthor(std::string_view author);  // empty clears the field to zeros
    bool SetColours(std::size_t index, uint32_t colour);  // index 0..3, top byte forced to 0xFF
    bool SetSkinName(std::string_view name);  // empty gives "original_default"
    bool SetVisName(std::string_view name);
    bool SetFileName(std::string_view name);

    const Names& names() const { return names_; }

  private:
    bool openMemory(bool& fresh);
    void openEvent(bool fresh);
    bool writeNumber(std::size_t offset, uint32_t value, bool signal);
    bool writeText(std::size_t offset, std::size_t fieldSize, std::string_view text);
    void signalLocked();
    void removeNamesIfLast();

    const Names names_;
    mutable std::mutex mutex_;  // guards every member below and the writes into the view
    int fd_ = -1;
    unsigned char* view_ = nullptr;  // the write pointer: null while unavailable
    sem_t* event_ = nullptr;
};

}  // namespace tessura::info
