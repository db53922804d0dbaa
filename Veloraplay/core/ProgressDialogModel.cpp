#include "ProgressDialogModel.h"

#include <utility>

namespace veloraplay {

ProgressDialogModel::ProgressDialogModel(std::string source, std::string destination,
                                         bool ownerEnabled)
    : source_(std::move(source)), destination_(std::move(destination)),
      ownerEnabled_(ownerEnabled) {}

ProgressReaction ProgressDialogModel::finish() {
    closed_ = true;
    ProgressReaction r;
    r.enableOwner = ownerEnabled_;
    r.destroy = true;
    return r;
}

ProgressReaction ProgressDialogModel::handle(const Message& message) {
    if (closed_) return {};
    switch (message.code) {
        case msg::kProgressFrame: {
            ProgressReaction r;
            const long long frame = static_cast<long long>(message.lparam);
            r.refresh = frame != frame_ || message.payload != streamLabel_;
            frame_ = frame;
            streamLabel_ = message.payload;
            return r;
        }
        case msg::kProgressClose:
            return finish();
        default:
            return {};
    }
}

ProgressReaction ProgressDialogModel::cancel(MessageQueue& playerQueue) {
    if (closed_) return {};
    cancelled_ = true;
    Message stop;
    stop.target = Target::PlayerWindow;
    stop.code = msg::kCommand;
    stop.wparam = kProgressStopCommand;
    playerQueue.post(std::move(stop));
    return finish();
}

std::string ProgressDialogModel::frameText() const {
    return "Decoding to file:  Frame #" + std::to_string(frame_);
}

}  // namespace veloraplay
