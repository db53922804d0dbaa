#include "SkinImage.h"

#include "SkinArchive.h"

namespace tessura {
namespace {

void attachMask(const SkinArchive& archive, const std::string& member, SkinImage& image) {
    const auto bytes = archive.ReadMember(member + "mask");
    if (!bytes) return;
    const SkinJpegResult mask = DecodeSkinJpeg(bytes->data(), bytes->size());
    if (mask.image) ApplySkinMask(image, *mask.image);
}

}  // namespace

bool ApplySkinMask(SkinImage& image, const SkinImage& mask) {
    if (mask.width != image.width || mask.height != image.height) return false;
    const std::size_t pixels = std::size_t(image.width) * image.height;
    image.alpha.resize(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned sum = mask.rgb[3 * i] + mask.rgb[3 * i + 1] + mask.rgb[3 * i + 2];
        image.alpha[i] = sum >= 3 * 128 ? 255 : 0;
    }
    return true;
}

SkinImageResult LoadSkinImage(std::string_view reference, bool fromDefault, const SkinSources& sources) {
    const SkinMemberRef ref = SplitSkinMember(reference);
    SkinImageResult result;
    result.member = ref.member;
    const bool named = !ref.archive.empty();
    result.archive = named ? ref.archive : fromDefault ? sources.defaultSkin : sources.currentSkin;

    const auto archive = OpenSkinArchive(result.archive, sources.programDir);
    if (!archive) {
        result.status = SkinImageResult::Status::ArchiveUnreadable;
        return result;
    }
    const SkinArchive* source = &*archive;
    std::optional<SkinBytes> bytes = archive->ReadMember(ref.member);
    std::optional<SkinArchive> fallback;
    if (!bytes && !named && !fromDefault && sources.defaultSkin != result.archive) {
        fallback = OpenSkinArchive(sources.defaultSkin, sources.programDir);
        if (fallback) {
            bytes = fallback->ReadMember(ref.member);
            source = &*fallback;
            result.fromDefaultSkin = bytes.has_value();
        }
    }
    if (!bytes) {
        result.status = SkinImageResult::Status::MemberMissing;
        return result;
    }
    SkinJpegResult decoded = DecodeSkinJpeg(bytes->data(), bytes->size());
    if (!decoded.image) {
        result.status = SkinImageResult::Status::Corrupt;
        result.jpegErrorKey = decoded.errorKey;
        result.jpegDetail = decoded.detail;
        return result;
    }
    attachMask(*source, ref.member, *decoded.image);
    result.image = std::move(decoded.image);
    result.status = SkinImageResult::Status::Loaded;
    return result;
}

std::optional<SkinImageMessage> MessageFor(const SkinImageResult& result, const LanguageStore& texts) {
    SkinImageMessage message;
    message.title = texts.Text("errors/tessuraerror");
    switch (result.status) {
    case SkinImageResult::Status::Loaded:
        return std::nullopt;
    case SkinImageResult::Status::ArchiveUnreadable:
        message.text = texts.Format("errors/couldnotloadskin", {result.archive});
        message.endsProgram = true;
        break;
    case SkinImageResult::Status::MemberMissing:
        message.text = texts.Format("errors/resourceerrorstr", {result.archive, result.member});
        message.askQuit = true;
        break;
    case SkinImageResult::Status::Corrupt:
        message.text = texts.Text(result.jpegErrorKey) + "\n" + texts.Text("errors/corruptimageres");
        message.askQuit = true;
        break;
    }
    return message;
}

}  // namespace tessura
