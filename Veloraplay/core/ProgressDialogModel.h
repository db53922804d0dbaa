#pragma once
// What the decode-to-file progress dialog shows and does, without widgets: the paths, the frame
// reached and the stream kind, from the worker's progress messages; when it ends, whether the
// player window is to be enabled again. Closing it by hand stops the decode through the player
// window's queue, as its Stop command does.
#include "MessageQueue.h"

#include <cstdint>
#include <string>

namespace veloraplay {

// The player window's Stop command id.
inline constexpr uintptr_t kProgressStopCommand = 1001;

// What the view has to do after a message or the user's close.
struct ProgressReaction {
    bool refresh = false;      // the frame or the stream label changed
    bool enableOwner = false;  // enable the player window again
    bool destroy = false;      // take the dialog down
    bool operator==(const ProgressReaction&) const = default;
};

class ProgressDialogModel {
  public:
    // `ownerEnabled`: the player window was enabled when the dialog opened (the dialog
    // disables it while open, and gives back only what it took).
    ProgressDialogModel(std::string source, std::string destination, bool ownerEnabled);

    // ProgressFrame and ProgressClose; anything else, or anything once closed, is ignored.
    ProgressReaction handle(const Message& message);
    // The user closed the dialog: the decode is stopped through `playerQueue`.
    ProgressReaction cancel(MessageQueue& playerQueue);

    const std::string& source() const { return source_; }
    const std::string& destination() const { return destination_; }
    long long frame() const { return frame_; }
    const std::string& streamLabel() const { return streamLabel_; }
    bool ownerEnabled() const { return ownerEnabled_; }
    bool closed() const { return closed_; }
    bool cancelled() const { return cancelled_; }

    // "Decoding to file:  Frame #N".
    std::string frameText() const;

  private:
    ProgressReaction finish();

    std::string source_;
    std::string destination_;
    long long frame_ = 0;
    std::string streamLabel_;
    bool ownerEnabled_ = true;
    bool closed_ = false;
    bool cancelled_ = false;
};

}  // namespace veloraplay
