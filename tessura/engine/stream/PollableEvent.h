#pragma once
// An event that poll() can wait on (an eventfd), so that a wait can end on either of two
// events — the ring's data or space and the stream's cancel event — and so that the cancel
// event can be handed to the streaming library as a descriptor. Manual-reset events stay set
// until reset; automatic ones release one waiter and clear themselves.
namespace tessura {

class PollableEvent {
  public:
    enum class Reset { Manual, Automatic };
    enum class Woken { Event, Other, TimedOut };

    explicit PollableEvent(Reset reset);
    ~PollableEvent();
    PollableEvent(const PollableEvent&) = delete;
    PollableEvent& operator=(const PollableEvent&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void set();
    void reset();
    bool isSet() const;

    // Waits until this event is set (consuming it when automatic), or `other` is set (never
    // consumed: a manual cancel event), or `timeoutMs` passes (-1 waits without limit).
    Woken wait(const PollableEvent* other = nullptr, int timeoutMs = -1);

  private:
    bool consume();
    const bool manual_;
    int fd_;
};

}  // namespace tessura
