#pragma once
// SIGTERM and SIGINT close the main window, as its close box would: the handler only writes a
// byte to a pipe, and the interface thread reacts to it.
#include <functional>

class QObject;

namespace veloraplay {

// The watch on the pipe lives as long as `owner`.
void onCloseSignal(QObject* owner, std::function<void()> close);

}  // namespace veloraplay
