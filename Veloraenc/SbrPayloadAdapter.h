// The SBR encoder writes each payload as the decoder receives it: the 4-bit marker, the CRC
// flag, the CRC, the element and padding. The core's container writes the marker and the
// flag bit itself, so it takes the payload from bit 5 on.
#pragma once

#include <cstdint>

#include "FrameWriter.h"

namespace velora::enc {

// Bytes the shifted copy needs at most.
constexpr int kSbrContainerScratchBytes = 512;

// Fills `container` from a payload of `bits` bits, shifting it into `scratch`
// (kSbrContainerScratchBytes). A payload too short to hold marker and flag, or longer than
// the container can carry, becomes the empty container: the frame still goes out.
void ToContainerData(const uint8_t* payload, int bits, uint8_t* scratch, SbrContainerData& container);

}  // namespace velora::enc
