// velora encode: a sound file (or standard input) to a Velora or plain mp3 file (or
// standard output), as people who use lame expect: any width of WAVE, FLAC and Ogg through
// libsndfile, rates the chosen point does not take converted, tag texts from the command
// line.
#pragma once

#include <atomic>

namespace veloraplay {

// argv[1] is "encode". Returns the exit status: 0, 1 on a failure, 2 for a usage error,
// 130 when `cancel` was set.
int RunEncode(int argc, char** argv, const std::atomic<bool>& cancel);

}  // namespace veloraplay
