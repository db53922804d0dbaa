#include "InfoLayout.h"

#include <cstdlib>

namespace tessura::info {
namespace {

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; }

}  // namespace

Names Names::standard() {
    const char* suffix = std::getenv("TESSURA_INFO_SUFFIX");
    return withSuffix(suffix ? suffix : "");
}

Names Names::withSuffix(std::string_view suffix) {
    // A '/' would make the name invalid for shm_open and sem_open; such a suffix is ignored.
    if (suffix.find('/') != std::string_view::npos) suffix = {};
    Names names;
    names.memory = "/TessuraInformation";
    names.memory.append(suffix);
    names.event = "/TessuraInformationEvent";
    names.event.append(suffix);
    return names;
}

std::string_view fitToField(std::string_view text, std::size_t fieldSize) {
    if (fieldSize == 0) return {};
    text = text.substr(0, text.find('\0'));
    const std::size_t room = fieldSize - 1;
    if (text.size() <= room) return text;
    // Back up to the start of the sequence the cut would split; a UTF-8 sequence has at most
    // three continuation bytes, so text that is not UTF-8 is cut at most three bytes early.
    std::size_t cut = room;
    for (int step = 0; step < 3 && cut > 0 && isContinuationByte(text[cut]); ++step) --cut;
    if (isContinuationByte(text[cut])) cut = room;
    return text.substr(0, cut);
}

}  // namespace tessura::info
