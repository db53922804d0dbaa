// What the player's status display shows, driven by the controller's PlayerNotify codes: item
// number, state, elapsed time (counted by a one-second tick while playing), channels, sample
// rate and bit rate, each as the text or glyph choice the display draws.
#pragma once

#include <cstdint>
#include <string>

namespace veloraplay {

class StatusDisplayModel {
  public:
    enum class State { Stopped = 0, Playing = 1, Paused = 2 };

    // A PlayerNotify code and value; true when the display changed.
    bool notify(uintptr_t code, intptr_t value);
    // The one-second tick (runs only while playing): one more second.
    void tick();
    bool ticking() const { return state_ == State::Playing; }

    State state() const { return state_; }
    int item() const { return item_; }
    int elapsed() const { return elapsed_; }
    int channels() const { return channels_; }
    int sampleRate() const { return rate_; }
    int bitrate() const { return bitrate_; }

    // Two digits of the item number; blank when 0, the tens blank below 10.
    std::string itemText() const;
    // "M:SS" with a blank leading minute digit below 10 minutes ("MM:SS" up to 99 minutes);
    // blank unless playing or paused, or when the time is unknown (-1).
    std::string elapsedText() const;
    // The rate in kHz, truncated, two digits ("44", " 8"); blank when unknown.
    std::string rateText() const;
    // The bit rate in kbit/s, three digits with leading blanks; "PCM" for WAVE input;
    // blank when 0 or unknown.
    std::string bitrateText() const;
    // Which channel glyph: 0 (other), 1 (two channels), 2 (three).
    int channelGlyph() const;

  private:
    State state_ = State::Stopped;
    int item_ = 0;
    int elapsed_ = -1;
    int channels_ = 0;
    int rate_ = -1;
    int bitrate_ = -1;
};

}  // namespace veloraplay
