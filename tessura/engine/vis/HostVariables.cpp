#include "HostVariables.h"

#include "TextCase.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tessura {

namespace {

char* copyText(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace

const HostVariablesTable HostVariablesService::kTable = {
    [](HostVariables* self, const char* name, int32_t* value) -> int32_t {
        if (self == nullptr || name == nullptr) return 0;
        const std::optional<int32_t> known = of(self).QueryInt(name);
        if (!known) return 0;
        if (value != nullptr) *value = *known;
        return 1;
    },
    [](HostVariables* self, const char* name) -> char* {
        if (self == nullptr || name == nullptr) return nullptr;
        return of(self).QueryString(name);
    },
    [](HostVariables*, char* text) { HostVariablesService::FreeString(text); },
};

HostVariablesService& HostVariablesService::of(HostVariables* self) {
    // The interface is the handle's first member, so the handle sits at its address.
    return *reinterpret_cast<Handle*>(self)->owner;
}

HostVariablesService::HostVariablesService(HostVariableSource& source)
    : source_(source), handle_{{&kTable}, this} {}

std::optional<int32_t> HostVariablesService::QueryInt(const std::string& name) {
    const std::string key = lowerAscii(name);
    constexpr uint32_t kColourBits = 0x00FFFFFFu;
    if (key == "currentsonglength") return source_.songLengthMs();
    if (key == "currentsongposition") return source_.songPositionMs();
    if (key == "scheme_visual_left") return static_cast<int32_t>(source_.visualLeftColour() & kColourBits);
    if (key == "scheme_visual_right") return static_cast<int32_t>(source_.visualRightColour() & kColourBits);
    if (key == "scheme_visual_blend") return static_cast<int32_t>(source_.visualBlendColour() & kColourBits);
    return std::nullopt;
}

char* HostVariablesService::QueryString(const std::string& name) {
    const std::string key = lowerAscii(name);
    if (key == "currentskinname") return copyText(source_.skinName());
    if (key == "currentsongfilename") return copyText(source_.songFileName());
    if (key == "currentsongtitle" || key == "currentsongauthor" || key == "currentsongdisplaystring")
        return copyText(source_.songDisplayText());
    const std::optional<int32_t> number = QueryInt(name);
    if (!number) return nullptr;
    constexpr std::size_t kNumberText = 32;
    char* text = static_cast<char*>(std::malloc(kNumberText));
    if (text != nullptr) std::snprintf(text, kNumberText, "%d", *number);
    return text;
}

void HostVariablesService::FreeString(char* text) {
    std::free(text);
}

}  // namespace tessura
