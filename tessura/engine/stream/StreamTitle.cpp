#include "StreamTitle.h"

namespace tessura {

bool JoinStreamTitle(const StreamTitleParts& parts, const std::optional<std::string>& openText,
                     StreamInfo& info) {
    if (parts.streamTitle || parts.name || parts.description) {
        std::string text;
        const bool titleWritten = parts.streamTitle.has_value();
        if (titleWritten) text = *parts.streamTitle;
        if (parts.name) {
            if (!text.empty()) text += titleWritten ? " - " : " / ";
            text += *parts.name;
        }
        if (parts.description) {
            if (!text.empty()) text += titleWritten && !parts.name ? " - " : " / ";
            text += *parts.description;
        }
        info.streamText = text;
        if (parts.genre) info.title = *parts.genre;
        return true;
    }
    if (parts.genre) {
        info.title = *parts.genre;
        return true;
    }
    if (openText && !openText->empty()) {
        info.streamText = *openText;
        return true;
    }
    return false;
}

}  // namespace tessura
