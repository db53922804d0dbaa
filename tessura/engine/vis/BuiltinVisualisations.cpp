#include "BuiltinVisualisations.h"

#include "BackgroundEffects.h"

#include <algorithm>

namespace tessura {

namespace {

constexpr int kWaveMargin = 5;

// The bin shown at `x` of `width` columns: the axis grows with the square, so the low bins,
// where music has most of its energy, get most of the room.
int binAt(int x, int width) {
    const int64_t bins = TESSURA_VIS_SPECTRUM_BINS;
    return static_cast<int>(std::min<int64_t>(int64_t{x} * x * bins / (int64_t{width} * width), bins - 1));
}

class Waveform : public BuiltinVisualisation {
  public:
    using BuiltinVisualisation::BuiltinVisualisation;

  protected:
    void draw(const VisFrame& frame) override {
        const int h = frame.height, seventh = h / 7;
        const int upper = h / 2 - seventh, lower = h / 2 + seventh;
        if (settings().smoke && settings().fxLevel > 0)
            frame.surface->fade({0, upper, frame.width, lower - upper}, 2);
        const int columns = frame.width - 2 * kWaveMargin;
        const int32_t step = waveformStep(columns);
        if (step == 0) return;
        const VisBlock& block = frame.newest();
        drawChannel(frame, block, false, upper, step, columns, colours().left);
        drawChannel(frame, block, true, lower, step, columns, colours().right);
    }

  private:
    static void drawChannel(const VisFrame& frame, const VisBlock& block, bool right, int line, int32_t step,
                            int columns, uint32_t colour) {
        // A halved sum of four samples spans -256..254; it is drawn within a seventh of the
        // height around the channel's line.
        const int reach = std::max(frame.height / 7, 1);
        int32_t position = 0;
        int previousX = 0, previousY = 0;
        for (int column = 0; column < columns; ++column, position += step) {
            const int first = std::min(position >> 16, TESSURA_VIS_SAMPLES - 4);
            int sum = 0;
            for (int i = 0; i < 4; ++i) sum += right ? block.right(first + i) : block.left(first + i);
            const int x = kWaveMargin + column;
            const int y = line - (sum / 2) * reach / 256;
            if (column > 0) frame.surface->line(previousX, previousY, x, y, colour);
            else frame.surface->line(x, y, x, y, colour);
            previousX = x;
            previousY = y;
        }
    }
};

// Both channels' spectra as a line: the left one rising from the middle, the right falling.
class Spectrum : public BuiltinVisualisation {
  public:
    using BuiltinVisualisation::BuiltinVisualisation;

  protected:
    void draw(const VisFrame& frame) override {
        const VisBlock& block = frame.newest();
        const int middle = frame.height / 2, reach = std::max(frame.height / 2, 1);
        for (int x = 0; x < frame.width; ++x) {
            const int bin = binAt(x, frame.width);
            const int up = block.leftBin(bin) * reach / 256, down = block.rightBin(bin) * reach / 256;
            frame.surface->line(x, middle, x, middle - up, colours().left);
            frame.surface->line(x, middle, x, middle + down, colours().right);
        }
    }
};

// A cursor sweeping across the picture, drawing each frame's level of both channels as one
// column: the left channel above the middle, the right below.
class Sweep : public BuiltinVisualisation {
  public:
    using BuiltinVisualisation::BuiltinVisualisation;

  protected:
    void draw(const VisFrame& frame) override {
        if (frame.width < 1) return;
        const VisBlock& block = frame.newest();
        int peakLeft = 0, peakRight = 0;
        for (int i = 0; i < TESSURA_VIS_SAMPLES; ++i) {
            peakLeft = std::max(peakLeft, std::abs(int{block.left(i)}));
            peakRight = std::max(peakRight, std::abs(int{block.right(i)}));
        }
        cursor_ %= frame.width;
        const int middle = frame.height / 2, reach = std::max(frame.height / 2, 1);
        frame.surface->line(cursor_, middle, cursor_, middle - peakLeft * reach / 128, colours().left);
        frame.surface->line(cursor_, middle, cursor_, middle + peakRight * reach / 128, colours().right);
        cursor_ = (cursor_ + 1) % frame.width;
        frame.surface->line(cursor_, 0, cursor_, frame.height - 1, colours().blend);
    }

  private:
    int cursor_ = 0;
};

// Sixteen bars of the spectrum (both channels together, on the same axis) rising from the bottom.
class Spectrum2 : public BuiltinVisualisation {
  public:
    using BuiltinVisualisation::BuiltinVisualisation;

  protected:
    void draw(const VisFrame& frame) override {
        constexpr int kBars = 16;
        const VisBlock& block = frame.newest();
        for (int bar = 0; bar < kBars; ++bar) {
            int peak = 0;
            const int first = binAt(bar, kBars), last = std::max(first, binAt(bar + 1, kBars) - 1);
            for (int bin = first; bin <= last; ++bin)
                peak = std::max({peak, int{block.leftBin(bin)}, int{block.rightBin(bin)}});
            const int left = bar * frame.width / kBars, right = (bar + 1) * frame.width / kBars - 1;
            const int top = frame.height - peak * frame.height / 256;
            if (right - left >= 1)
                frame.surface->fill({left, top, right - left, frame.height - top}, bar % 2 ? colours().blend : colours().left);
        }
    }
};

class NoVisual : public BuiltinVisualisation {
  public:
    using BuiltinVisualisation::BuiltinVisualisation;
    int32_t Render(const VisFrame&) override { return crashed_ ? 0 : 1; }

  protected:
    void draw(const VisFrame&) override {}
};

}  // namespace

int32_t BuiltinVisualisation::Render(const VisFrame& frame) {
    if (crashed_) return 0;
    if (frame.surface == nullptr || frame.width < 1 || frame.height < 1) return 0;
    ApplyEffects(frame, settings());
    draw(frame);
    return 1;
}

int32_t waveformStep(int columns) {
    return columns > 0 ? 0x1FC0000 / columns : 0;
}

const char* builtinKey(BuiltinKind kind) {
    switch (kind) {
        case BuiltinKind::Waveform: return "vis/waveform";
        case BuiltinKind::Spectrum: return "vis/spectrum";
        case BuiltinKind::Sweep: return "vis/sweep";
        case BuiltinKind::Spectrum2: return "vis/spectrum2";
        case BuiltinKind::NoVisual: break;
    }
    return "vis/novisual";
}

std::unique_ptr<Visualisation> makeBuiltin(BuiltinKind kind, std::string name, BuiltinContext context) {
    switch (kind) {
        case BuiltinKind::Waveform: return std::make_unique<Waveform>(std::move(name), context);
        case BuiltinKind::Spectrum: return std::make_unique<Spectrum>(std::move(name), context);
        case BuiltinKind::Sweep: return std::make_unique<Sweep>(std::move(name), context);
        case BuiltinKind::Spectrum2: return std::make_unique<Spectrum2>(std::move(name), context);
        case BuiltinKind::NoVisual: break;
    }
    return std::make_unique<NoVisual>(std::move(name), context);
}

}  // namespace tessura
