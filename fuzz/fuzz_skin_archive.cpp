// The skin archive reader on arbitrary files: every member must read inside the file and come
// back at exactly its directory size or not at all, and the members the program decodes
// (JPEG images, window regions, "/skin.ini") must fail without ending the process.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "SkinArchive.h"
#include "SkinDescription.h"
#include "SkinJpeg.h"
#include "SkinRegion.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz_skin_archive: %s (%s)\n", what, detail.c_str());
    std::abort();
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tessura;
    auto archive = SkinArchive::FromBytes(std::string(reinterpret_cast<const char*>(data), size));
    if (!archive) return 0;
    const auto& entries = archive->Entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const SkinArchive::Entry& e = entries[i];
        const auto bytes = archive->ReadEntry(i);
        if (!bytes) continue;
        if (bytes->size() != e.unpackedSize) Fail("a member read at a size other than its own", e.name);
        if (e.byNumber) continue;
        // Looked up by name, the later of two equal names answers both calls.
        const auto byName = archive->ReadMember(e.name);
        const auto found = archive->MemberSize(e.name);
        if (byName && (!found || *found != byName->size())) Fail("a readable member has no size", e.name);
        if (startsWith(e.name, "/jpeg/")) {
            const SkinJpegResult image = DecodeSkinJpeg(bytes->data(), bytes->size());
            if (image.image && image.image->rgb.size() != std::size_t(image.image->width) * image.image->height * 3)
                Fail("an image's pixels do not match its size", e.name);
        } else if (startsWith(e.name, "/rgn/")) {
            const auto region = ParseSkinRegion(*bytes);
            if (region)
                for (const SkinRect& r : region->rects)
                    if (r.right <= r.left || r.bottom <= r.top) Fail("an empty rectangle kept", e.name);
        }
    }
    // "/skin.ini" read the way LoadSkin reads it: every key with its default, whatever the text.
    if (const auto ini = ReadSkinIni(*archive)) {
        std::vector<SkinKeyReport> report;
        const SkinDescription d = ReadSkinDescription(ini.get(), &report);
        if (d.TooNew() != (d.version > kNewestSkinVersion)) Fail("the version check disagrees", std::to_string(d.version));
        if ((d.colours.systemColor1 >> 24) != 0xff || (d.colours.logoColor >> 24) != 0xff)
            Fail("a colour lost its alpha byte", "");
        for (const SkinKeyReport& r : report)
            if (r.key.empty()) Fail("a key without a name reported", r.section);
    }
    return 0;
}
