#include "MprisLink.h"

namespace tessura {

namespace {

remote::MprisOptions optionsFor(bool window) {
    remote::MprisOptions options;
    options.canRaise = window;
    return options;
}

}  // namespace

MprisLink::MprisLink(PlayerAssembly& player, ThreadMessageQueue& messages, bool window)
    : player_(player), messages_(messages), model_(optionsFor(window)) {
    bus_ = remote::MprisBus::open(model_, [&messages](remote::MprisCommand command) {
        messages.post(remote::MprisCommandMessage(command));
    });
    if (bus_) thread_ = std::make_unique<remote::MprisBusThread>(*bus_);
}

MprisLink::~MprisLink() {
    thread_.reset();
    bus_.reset();
}

bool MprisLink::handle(const ThreadMessage& message) {
    const std::optional<remote::MprisCommand> command = remote::MprisCommandFromMessage(message);
    if (!command) return false;
    model_.run(*command, *this);
    return true;
}

void MprisLink::tick() {
    model_.positionChanged(player_.position());
    model_.volumeChanged(player_.volume());
    Playlist& list = player_.playlist();
    model_.playlistModes(list.repeatMode(), list.shuffle());
}

void MprisLink::openUri(const std::string& entry) {
    // As a file on the program's own command line: a new list of it, played.
    std::string word = entry;
    char program[] = "tessura";
    char* argv[] = {program, word.data()};
    player_.dispatcher().DispatchCommands(JoinArguments(2, argv), false);
}

void MprisLink::raise() {
    messages_.post(thread_message::kShowWindow, 0, 9);  // restore and bring to the front
}

void MprisLink::setRepeatMode(int mode) {
    player_.dispatcher().DispatchCommands(mode == 1 ? "-repeat one" : mode == 2 ? "-repeat all" : "-repeat off",
                                          false);
}

}  // namespace tessura
