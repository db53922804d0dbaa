// Oscilloscope rings: the project's own visualisation plug-in. Each frame draws the left
// channel's 512 samples as a closed ring around the picture's centre (the radius follows the
// sample) and the right channel as a second, smaller ring, in the skin's visualisation
// colours when the host tells them. The host's background effects leave the older rings
// fading behind.
#include "TessuraVisAbi.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kPoints = TESSURA_VIS_SAMPLES;
uint32_t gLeftColour = 0xff40c0ffu, gRightColour = 0xffffa040u;
float gCos[kPoints], gSin[kPoints];

int32_t initialise() {
    for (int i = 0; i < kPoints; ++i) {
        const double angle = 2.0 * M_PI * i / kPoints;
        gCos[i] = static_cast<float>(std::cos(angle));
        gSin[i] = static_cast<float>(std::sin(angle));
    }
    return 0;
}

void plot(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, int x, int y, uint32_t colour) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(pitch) + static_cast<std::size_t>(x)] = colour;
}

// A straight segment by stepping along its longer side.
void segment(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, int x0, int y0, int x1, int y1,
             uint32_t colour) {
    const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
    for (int s = 0; s <= steps; ++s) {
        const int x = steps == 0 ? x0 : x0 + (x1 - x0) * s / steps;
        const int y = steps == 0 ? y0 : y0 + (y1 - y0) * s / steps;
        plot(pixels, width, height, pitch, x, y, colour);
    }
}

void ring(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, const uint8_t* samples, float base,
          float swing, uint32_t colour) {
    const float cx = static_cast<float>(width) / 2.0f, cy = static_cast<float>(height) / 2.0f;
    int firstX = 0, firstY = 0, lastX = 0, lastY = 0;
    for (int i = 0; i < kPoints; ++i) {
        const float radius = base + swing * static_cast<float>(static_cast<int8_t>(samples[i])) / 128.0f;
        const int x = static_cast<int>(std::lround(cx + radius * gCos[i]));
        const int y = static_cast<int>(std::lround(cy + radius * gSin[i]));
        if (i == 0) {
            firstX = x;
            firstY = y;
        } else {
            segment(pixels, width, height, pitch, lastX, lastY, x, y, colour);
        }
        lastX = x;
        lastY = y;
    }
    segment(pixels, width, height, pitch, lastX, lastY, firstX, firstY, colour);
}

int32_t render(uint32_t* pixels, int32_t width, int32_t height, int32_t pitch, const uint8_t* data) {
    if (pixels == nullptr || data == nullptr || width < 1 || height < 1 || pitch < width) return 0;
    const float size = static_cast<float>(std::min(width, height)) / 2.0f;
    ring(pixels, width, height, pitch, data + TESSURA_VIS_LEFT_SAMPLES, size * 0.6f, size * 0.3f, gLeftColour);
    ring(pixels, width, height, pitch, data + TESSURA_VIS_RIGHT_SAMPLES, size * 0.3f, size * 0.2f, gRightColour);
    return 1;
}

int32_t message(uint32_t) {
    return 0;
}

int32_t settings(const char*) {
    return 0;
}

void setHostVariables(HostVariables* host) {
    if (host == nullptr || host->table == nullptr || host->table->QueryInt == nullptr) return;
    int32_t value = 0;
    if (host->table->QueryInt(host, "scheme_visual_left", &value) != 0)
        gLeftColour = 0xff000000u | static_cast<uint32_t>(value);
    if (host->table->QueryInt(host, "scheme_visual_right", &value) != 0)
        gRightColour = 0xff000000u | static_cast<uint32_t>(value);
}

const VisPluginRecord kRecord = {2,       "Oscilloscope rings", VIS_FLAG_HOST_EFFECTS, &initialise, &render,
                                 &message, &settings,           nullptr,               nullptr,     &setHostVariables};

}  // namespace

extern "C" TESSURA_VIS_EXPORT const VisPluginRecord* QueryModule() {
    return &kRecord;
}
