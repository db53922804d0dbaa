#include "StartupSequence.h"

#include "CommandLine.h"
#include "PlayerSettings.h"

namespace veloraplay {

int runStartup(const StartupParts& parts, const std::vector<std::string>& args) {
    if (parts.display.colourDepth() <= 8) {
        MessageBoxRequest request;
        request.title = "veloraplay";
        request.text = kLowColourText;
        request.icon = DialogIcon::Warning;
        parts.dialogs.messageBox(request);
    }

    writeSetting(parts.settings, PlayerSetting::MuteState, 0);
    parts.settings.save();

    if (!args.empty() && isEncodeSwitch(args.front())) {
        const int skin = readSetting(parts.settings, PlayerSetting::SkinType, kSkinBrushedMetal);
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        return parts.windows.runEncoder(skin, encoderInputFromText(encoderTextFromArguments(rest)));
    }

    const std::string commandLine = joinArguments(args);
    switch (parts.instance.claimOrHandOver(commandLine)) {
        case InstanceChannel::Outcome::HandedOver:
            return 0;
        case InstanceChannel::Outcome::TooLong:
            if (parts.log)
                std::fprintf(parts.log, "veloraplay: %s\n", parts.instance.error().c_str());
            return 1;
        case InstanceChannel::Outcome::NotAnInstance:
        case InstanceChannel::Outcome::Unavailable:
            // This player runs on without the socket; later starts open players of their own.
            if (parts.log)
                std::fprintf(parts.log, "veloraplay: %s\n", parts.instance.error().c_str());
            break;
        case InstanceChannel::Outcome::Listening:
            break;
    }
    parts.registrar.check();
    return parts.windows.runPlayer(commandLine);
}

}  // namespace veloraplay

namespace veloraplay {

InstanceChannel::Outcome QueueingInstanceGate::claimOrHandOver(const std::string& commandLine) {
    MessageQueue& queue = queue_;
    return channel_.claimOrHandOver(commandLine, [&queue](const InstanceRequest& request) {
        Message activate;
        activate.code = msg::kActivate;
        queue.post(std::move(activate));
        if (request.hasCommandLine) {
            Message copy;
            copy.code = msg::kCopyData;
            copy.payload = request.commandLine;
            queue.post(std::move(copy));
        }
    });
}

}  // namespace veloraplay
