#pragma once
// Skin images: a JPEG member of a skin archive, with its mask sibling, and the fallback on the
// default skin.
//
// Masks: the member named like the image with "mask" appended ("/jpeg/skinthumbmask" beside
// "/jpeg/skinthumb") in the same archive. It is decoded like any image and read by brightness:
// a pixel whose mean of red, green and blue is 128 or more shows the image there (white shows,
// black hides), so JPEG's ringing near the edges does not flip pixels. A mask that does not
// decode or differs in size from its image is ignored and the image stays opaque.
#include "LanguageStore.h"
#include "SkinJpeg.h"

#include <string>
#include <string_view>

namespace tessura {

struct SkinSources {
    std::string currentSkin;  // CurrentSkin
    std::string defaultSkin;  // DefaultSkin
    std::string programDir;   // relative archive paths are tried here first
};

struct SkinImageResult {
    enum class Status { Loaded, ArchiveUnreadable, MemberMissing, Corrupt };
    Status status = Status::MemberMissing;
    std::optional<SkinImage> image;
    std::string archive;         // the archive asked for (the one the messages name)
    std::string member;          // the member's name
    bool fromDefaultSkin = false;  // found only in the default skin
    std::string jpegErrorKey, jpegDetail;  // Corrupt: the decoder's report
};

// `reference` is a member name, or "archive|member". Without an archive the current skin is
// read, or the default skin when `fromDefault`; a member missing from the current skin is
// taken from the default skin. An explicitly named archive has no fallback: its caller (the
// skin preview) asks about that archive only.
SkinImageResult LoadSkinImage(std::string_view reference, bool fromDefault, const SkinSources& sources);

// Applies `mask` (read by brightness, see above) to `image`; false when the sizes differ.
bool ApplySkinMask(SkinImage& image, const SkinImage& mask);

// What the program tells the user about a failed load, and what it offers.
struct SkinImageMessage {
    std::string title, text;
    bool askQuit = false;      // Yes/No: Yes ends the program, No goes on without the image
    bool endsProgram = false;  // the program ends after the message
};
std::optional<SkinImageMessage> MessageFor(const SkinImageResult& result, const LanguageStore& texts);

}  // namespace tessura
