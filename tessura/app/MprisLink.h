#pragma once
// The player on the desktop's remote-control bus: the model controllers read, the bus on a
// thread of its own, and the player behind the commands. Commands arrive as thread messages and
// run on the main thread; the player's news and each frame's position and volume go to the model.
// Without a session bus the player simply runs without it.
#include "MprisBus.h"
#include "MprisBusThread.h"
#include "MprisModel.h"
#include "PlayerAssembly.h"

#include <memory>

namespace tessura {

class MprisLink final : public remote::MprisTarget {
  public:
    MprisLink(PlayerAssembly& player, ThreadMessageQueue& messages, bool window);
    ~MprisLink() override;  // the bus thread first, then the bus
    MprisLink(const MprisLink&) = delete;
    MprisLink& operator=(const MprisLink&) = delete;

    bool connected() const { return bus_ != nullptr; }
    // A controller's command: true when `message` was one (and ran).
    bool handle(const ThreadMessage& message);
    // Once per frame of the main loop.
    void tick();
    remote::MprisModel& model() { return model_; }
    // The player's news for the model.
    EngineEvents& news() { return news_; }

    // MprisTarget.
    void play() override { player_.play(); }
    void togglePause() override { player_.togglePause(); }
    void stop() override { player_.stop(); }
    void next() override { player_.dispatcher().DispatchCommands("-playnext", false); }
    void previous() override { player_.dispatcher().DispatchCommands("-playprev", false); }
    void seekTo(int32_t ms) override { player_.seek(ms); }
    void openUri(const std::string& entry) override;
    void raise() override;
    void quit() override { messages_.post(thread_message::kQuit); }
    void setVolume(uint32_t level) override { player_.setVolume(level); }
    void setRepeatMode(int mode) override;
    void setShuffle(bool on) override { player_.playlist().SetShuffle(on); }
    int32_t positionMs() override { return player_.position(); }
    uint32_t volume() override { return player_.volume(); }

  private:
    class News final : public EngineEvents {
      public:
        explicit News(remote::MprisModel& model) : model_(model) {}
        void playState(int state) override { model_.playState(state); }
        void trackStarted(const std::string& file, int32_t lengthMs, int32_t positionMs) override {
            model_.trackStarted(file, lengthMs, positionMs);
        }
        void trackInfo(const std::string& title, const std::string& second) override {
            model_.trackInfo(title, second);
        }

      private:
        remote::MprisModel& model_;
    };

    PlayerAssembly& player_;
    ThreadMessageQueue& messages_;
    remote::MprisModel model_;
    News news_{model_};
    std::unique_ptr<remote::MprisBus> bus_;
    std::unique_ptr<remote::MprisBusThread> thread_;
};

}  // namespace tessura
