#pragma once
// One entry of the visualisation list: a built-in picture or a visualisation plug-in. The
// operations keep the order of the entry's table of functions.
#include "VisFrame.h"

#include <cstdint>
#include <string>

namespace tessura {

class Visualisation {
  public:
    // `unguarded`: plug-in calls are made without catching their faults.
    explicit Visualisation(bool unguarded = false) : unguarded_(unguarded) {}
    virtual ~Visualisation() = default;  // a plug-in entry releases its library
    Visualisation(const Visualisation&) = delete;
    Visualisation& operator=(const Visualisation&) = delete;

    virtual std::string Name() const = 0;
    virtual int32_t Message(uint32_t message) = 0;
    virtual int32_t Configure(const std::string& visIniPath) = 0;
    // Draws one frame; a crashed entry returns 0 at once.
    virtual int32_t Render(const VisFrame& frame) = 0;
    virtual int32_t Query() { return 0; }
    virtual void MarkCrashed() { crashed_ = true; }

    bool crashed() const { return crashed_; }
    bool unguarded() const { return unguarded_; }

  protected:
    bool crashed_ = false;

  private:
    bool unguarded_;
};

}  // namespace tessura
