#include "StartDecision.h"

namespace tessura {

StartFlags readStartFlags(std::string_view argumentText) {
    StartFlags flags;
    const auto has = [argumentText](std::string_view flag) {
        return argumentText.find(flag) != std::string_view::npos;
    };
    flags.noNew = has("-nonew");
    flags.noGui = has("-nogui");
    flags.isNew = has("-new") || flags.noGui;
    return flags;
}

bool startForwards(std::string_view argumentText, bool lockExisted) {
    const StartFlags flags = readStartFlags(argumentText);
    return lockExisted && (!flags.isNew || flags.noNew);
}

StartDecision decideStart(std::string_view argumentText, bool lockExisted, bool forwarded) {
    const StartFlags flags = readStartFlags(argumentText);
    if (lockExisted) {
        if (startForwards(argumentText, lockExisted)) {
            return forwarded ? StartDecision::ForwardAndExit : StartDecision::Exit;
        }
        return StartDecision::RunAlongside;
    }
    if (flags.noNew && !flags.isNew) return StartDecision::Exit;
    return StartDecision::RunAsFirst;
}

const char* startDecisionName(StartDecision decision) {
    switch (decision) {
        case StartDecision::RunAsFirst: return "RunAsFirst";
        case StartDecision::RunAlongside: return "RunAlongside";
        case StartDecision::ForwardAndExit: return "ForwardAndExit";
        case StartDecision::Exit: return "Exit";
    }
    return "?";
}

}  // namespace tessura
