// The position and volume controls' logic: a value 0..100 or "idle" (242: no knob, no input),
// the value a knob position gives, and when a drag reports to the owner.
#pragma once

#include <optional>

namespace veloraplay {

class SliderModel {
  public:
    static constexpr int kIdle = 242;
    static constexpr int kMargin = 2;  // pixels at each end of the track

    // `postWhileDragging`: the volume reports every tenth value while the knob moves.
    SliderModel(int trackPixels, int knobPixels, bool postWhileDragging)
        : track_(trackPixels), knob_(knobPixels), postWhileDragging_(postWhileDragging) {}

    int value() const { return value_; }
    bool dragging() const { return dragging_; }
    // A value from the owner; ignored while the user drags the knob.
    bool set(int value);

    // A press: grabs the knob unless idle. Returns whether it did.
    bool press(int x);
    // A move while grabbed; returns the value to post now, if any.
    std::optional<int> move(int x);
    // The release; returns the final value to post.
    std::optional<int> release(int x);

    // The knob's left edge in pixels for the current value (the value when idle: none).
    std::optional<int> knobX() const;
    // The value at `x` pixels.
    int valueAt(int x) const;

  private:
    int track_;
    int knob_;
    bool postWhileDragging_;
    int value_ = kIdle;
    bool dragging_ = false;
};

}  // namespace veloraplay
