#pragma once
// SIGTERM and SIGINT close the main window, as its close box would: the handler only writes a
// byte to a pipe, and the interface thread reacts to it.
#include <functional>

namespace veloraplay {

void onCloseSignal(std::function<void()> close);

}  // namespace veloraplay
