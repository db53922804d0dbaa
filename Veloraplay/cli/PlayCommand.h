// velora play: plays files one after another through the player's own playback controller
// (Velorawrap over the device output VELORAPLAY_AUDIO names), with a status line on standard
// error and, when standard input is a terminal, single-key control.
#pragma once

namespace veloraplay {

// `velora play [OPTIONS] FILE...`; argv[1] is "play". Returns the exit status: 0, 1 when any
// file failed, 2 for a usage error, 128 + the signal number when a signal ended it.
int RunPlay(int argc, char** argv, const char* usage);

}  // namespace veloraplay
