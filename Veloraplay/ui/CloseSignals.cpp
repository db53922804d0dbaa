#include "CloseSignals.h"

#include <fcntl.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <csignal>

namespace veloraplay {
namespace {

int gPipe[2] = {-1, -1};

void handleSignal(int) {
    const char byte = 1;
    const ssize_t n = ::write(gPipe[1], &byte, 1);
    (void)n;
}

}  // namespace

void onCloseSignal(QObject* owner, std::function<void()> close) {
    if (gPipe[0] < 0 && ::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [close = std::move(close)] {
        char buffer[16];
        while (::read(gPipe[0], buffer, sizeof buffer) > 0) {
        }
        close();
    });
    struct sigaction action {};
    action.sa_handler = handleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace veloraplay
