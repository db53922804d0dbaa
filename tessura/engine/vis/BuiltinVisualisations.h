#pragma once
// The built-in pictures: waveform, spectrum, level sweep, spectrum bars, and the empty one
// that draws nothing. Each applies the background effects before it draws.
#include "VisSettings.h"
#include "Visualisation.h"

#include <memory>
#include <string>

namespace tessura {

// The skin's three visualisation colours (0xAARRGGBB).
struct VisColours {
    uint32_t left = 0xff0000ff, right = 0xffff0000, blend = 0xff00ff00;
};

// What every built-in entry reads at each frame; owned by the list.
struct BuiltinContext {
    const VisSettings& settings;
    const VisColours& colours;
};

enum class BuiltinKind { Waveform, Spectrum, Sweep, Spectrum2, NoVisual };

class BuiltinVisualisation : public Visualisation {
  public:
    // `name`: the translation of the entry's language key.
    BuiltinVisualisation(std::string name, BuiltinContext context) : name_(std::move(name)), context_(context) {}
    std::string Name() const override { return name_; }
    int32_t Message(uint32_t) override { return 1; }
    int32_t Configure(const std::string&) override { return 1; }
    int32_t Render(const VisFrame& frame) override;

  protected:
    virtual void draw(const VisFrame& frame) = 0;
    const VisSettings& settings() const { return context_.settings; }
    const VisColours& colours() const { return context_.colours; }

  private:
    std::string name_;
    BuiltinContext context_;
};

// The language key of a built-in entry ("vis/waveform" ...).
const char* builtinKey(BuiltinKind kind);
std::unique_ptr<Visualisation> makeBuiltin(BuiltinKind kind, std::string name, BuiltinContext context);

// The waveform's fixed-point step through the 508 starting samples for `columns` columns
// (width - 10); 0 when there is no room to draw.
int32_t waveformStep(int columns);

}  // namespace tessura
