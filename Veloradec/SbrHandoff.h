// What the mp3 core hands the enhancement layer for each frame.
#pragma once

#include <cstdint>

namespace velora {

struct SbrFrame {
    int32_t present;  // 1 when the enhancement is on and this frame carried a payload
    int32_t stereo;   // 1 when the coded stream has two channels
    int32_t kind;     // 13 with an SBR header in the payload, else 12
    int32_t length;
    uint8_t payload[1024];
};

}  // namespace velora
