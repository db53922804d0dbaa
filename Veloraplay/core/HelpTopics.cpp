#include "HelpTopics.h"

#include <sys/stat.h>

namespace veloraplay {

HelpTopics::HelpTopics(std::string programHome, Launcher& launcher)
    : home_(std::move(programHome)), launcher_(launcher) {}

std::string HelpTopics::pagePath(const std::string& topic) const {
    if (topic != kHelpPlayer && topic != kHelpLibrary && topic != kHelpEncoder) return {};
    for (const std::string& folder : {home_ + "/help/", home_ + "/../share/veloraplay/help/"}) {
        const std::string path = folder + topic;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
    }
    return {};
}

bool HelpTopics::open(const std::string& topic) {
    const std::string path = pagePath(topic);
    if (path.empty()) return false;
    return launcher_.open(path);
}

}  // namespace veloraplay
