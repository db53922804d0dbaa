#include "SkinCheck.h"

#include "SkinDescription.h"
#include "SkinJpeg.h"
#include "SkinMembers.h"
#include "SkinRegion.h"

#include <map>

namespace tessura {
namespace {

// The reader's own bound on a compressed member's claimed size (deflate's largest ratio).
constexpr std::uint64_t kMaxInflateRatio = 1032;

const char* modeName(SkinMode mode) {
    switch (mode) {
    case SkinMode::Mid: return "mid";
    case SkinMode::Navigator: return "navigator";
    case SkinMode::Small: return "small";
    case SkinMode::Splash: return "splash";
    case SkinMode::Settings: return "settings screen";
    case SkinMode::Shared: break;
    }
    return "shared";
}

const char* touchKey(SkinMode mode) {
    switch (mode) {
    case SkinMode::Mid: return "TouchMidMode";
    case SkinMode::Navigator: return "TouchNavMode";
    case SkinMode::Small: return "TouchSmallMode";
    default: return nullptr;
    }
}

bool touched(const SkinDescription& d, SkinMode mode) {
    switch (mode) {
    case SkinMode::Mid: return d.touchMidMode != 0;
    case SkinMode::Navigator: return d.touchNavMode != 0;
    case SkinMode::Small: return d.touchSmallMode != 0;
    default: return true;
    }
}

class Checker {
  public:
    Checker(const SkinArchive& a, std::size_t size, std::ostream& out) : a_(a), size_(size), out_(out) {}

    SkinCheckSummary run() {
        out_ << "archive: version " << a_.Version() << ", " << a_.Entries().size() << " members\n";
        members();
        const SkinDescription d = description();
        images(d);
        regions(d);
        out_ << "summary: " << (s_.damaged ? "damaged" : "intact") << ", " << s_.fallbacks
             << " fallbacks" << (s_.refused ? ", the skin is refused" : "") << "\n";
        return s_;
    }

  private:
    void line(const char* what, const std::string& text) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "  %-9s", what);
        out_ << tag << text << "\n";
    }

    void members() {
        out_ << "members:\n";
        const auto& entries = a_.Entries();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const SkinArchive::Entry& e = entries[i];
            std::string name = e.name;
            if (e.byNumber) name = std::string("#").append(std::to_string(e.number));
            if (const auto problem = MemberProblem(a_, i, size_)) {
                const bool shadowed = problem->rfind("shadowed", 0) == 0;
                line(shadowed ? "skipped" : "damaged", name + ": " + *problem);
                if (!shadowed) s_.damaged = true;
            } else {
                line("ok", name + " (" + std::to_string(e.unpackedSize) + " bytes" +
                               (e.compressed ? ", zlib " + std::to_string(e.storedSize) : "") + ")");
            }
        }
    }

    SkinDescription description() {
        out_ << "/skin.ini:\n";
        const auto ini = ReadSkinIni(a_);
        if (!ini) {
            line("refused", "missing or unreadable: the player uses the default skin with built-in values");
            s_.refused = true;
            if (a_.MemberSize(kSkinIniMember) || hasName(kSkinIniMember)) s_.damaged = true;
            ++s_.fallbacks;
            return ReadSkinDescription(nullptr);
        }
        for (const IniNote& note : ini->Notes()) line("skipped", note.text);
        std::vector<SkinKeyReport> report;
        SkinDescription d = ReadSkinDescription(ini.get(), &report);
        if (d.TooNew()) {
            line("refused", "version " + std::to_string(d.version) + " is above " +
                                std::to_string(kNewestSkinVersion) +
                                ": the player shows \"main/needlatesttessura\" and uses the default "
                                "skin with built-in values");
            s_.refused = true;
            ++s_.fallbacks;
            return ReadSkinDescription(nullptr);
        }
        for (const SkinKeyReport& r : report) {
            const std::string where = "[" + r.section + "] " + r.key;
            if (r.fromFile)
                line("used", where + " = " + r.value);
            else if (!r.why.empty())
                line("skipped", where + ": in the file but not read, " + r.why);
            else
                line("default", where + " = " + r.value + " (not in the file)");
        }
        return d;
    }

    bool hasName(std::string_view name) const {
        for (const auto& e : a_.Entries())
            if (!e.byNumber && e.name == name) return true;
        return false;
    }

    // Why the member is not used as it is, or nothing when it is.
    void absent(const std::string& member, const std::string& label, const char* kind) {
        if (hasName(member)) {
            line("fallback", label + ": damaged (see members); the default skin's " + kind + " is used");
        } else {
            line("fallback", label + ": not in this skin; the default skin's " + kind + " is used");
        }
        ++s_.fallbacks;
    }

    void images(const SkinDescription& d) {
        out_ << "images:\n";
        std::vector<std::pair<std::string, SkinMode>> wanted;
        for (const SkinMemberName& m : kSkinImages) wanted.emplace_back(std::string(m.name), m.mode);
        wanted.emplace_back("/jpeg/english/navbuttons", SkinMode::Shared);
        for (const auto& [member, mode] : wanted) {
            const std::string label = member + " [" + modeName(mode) + "]";
            if (!touched(d, mode)) {
                line("fallback", label + ": " + touchKey(mode) + " is 0, the default skin's image is used");
                ++s_.fallbacks;
                continue;
            }
            if (member == "/jpeg/misc" && d.touchMidMode == 0 && d.touchNavMode == 0) {
                line("fallback", label + ": TouchNavMode and TouchMidMode are 0, the default skin's is used");
                ++s_.fallbacks;
                continue;
            }
            const bool isMask = member.size() > 4 && member.compare(member.size() - 4, 4, "mask") == 0;
            const auto bytes = a_.ReadMember(member);
            if (!bytes) {
                if (isMask && !hasName(member)) {
                    line("default", label + ": no mask, the thumbnail is drawn opaque");
                    continue;
                }
                absent(member, label, isMask ? "mask" : "image");
                continue;
            }
            const SkinJpegResult image = DecodeSkinJpeg(bytes->data(), bytes->size());
            if (!image.image) {
                line("refused", label + ": the JPEG does not decode (" + image.detail +
                                    "); the player shows \"errors/corruptimageres\" and asks whether to quit");
                s_.damaged = true;
                continue;
            }
            std::string text = label + ": " + std::to_string(image.image->width) + "x" +
                               std::to_string(image.image->height);
            if (!isMask) text += maskNote(member, *image.image);
            line("used", text);
        }
    }

    std::string maskNote(const std::string& member, const SkinImage& image) {
        const auto bytes = a_.ReadMember(member + "mask");
        if (!bytes) return "";
        const SkinJpegResult mask = DecodeSkinJpeg(bytes->data(), bytes->size());
        if (!mask.image) return ", its mask does not decode and is ignored (drawn opaque)";
        if (mask.image->width != image.width || mask.image->height != image.height)
            return ", its mask differs in size and is ignored (drawn opaque)";
        return ", with mask";
    }

    void regions(const SkinDescription& d) {
        out_ << "regions:\n";
        for (const SkinMemberName& m : kSkinRegions) {
            const std::string member(m.name);
            if (!touched(d, m.mode)) {
                line("fallback", member + ": " + touchKey(m.mode) + " is 0, the default skin's region is used");
                ++s_.fallbacks;
                continue;
            }
            const auto bytes = a_.ReadMember(member);
            if (!bytes) {
                absent(member, member, "region");
                continue;
            }
            const auto region = ParseSkinRegion(*bytes);
            if (!region) {
                line("fallback", member + ": " + std::to_string(bytes->size()) +
                                     " bytes is not 10 + 8 x its count; the default skin's region is used");
                s_.damaged = true;
                ++s_.fallbacks;
                continue;
            }
            const SkinRect& b = region->bounds;
            line("used", member + ": " + std::to_string(region->rects.size()) + " rectangles, " +
                             std::to_string(b.left) + "," + std::to_string(b.top) + " to " +
                             std::to_string(b.right) + "," + std::to_string(b.bottom));
        }
    }

    const SkinArchive& a_;
    std::size_t size_;
    std::ostream& out_;
    SkinCheckSummary s_;
};

}  // namespace

std::optional<std::string> MemberProblem(const SkinArchive& archive, std::size_t index, std::size_t fileSize) {
    const auto& entries = archive.Entries();
    if (index >= entries.size()) return "no such member";
    const SkinArchive::Entry& e = entries[index];
    if (e.offset + e.storedSize > fileSize) return "its data lies outside the file; reads as missing";
    if (e.unpackedSize > SkinArchive::kMaxMemberSize) return "claims more than 64 MiB; reads as missing";
    if (!e.compressed && e.storedSize != e.unpackedSize)
        return "an unpacked member whose stored and unpacked sizes differ; reads as missing";
    if (e.compressed && e.unpackedSize > std::uint64_t(e.storedSize) * kMaxInflateRatio)
        return "claims more than zlib can inflate from its stored size; reads as missing";
    if (!archive.ReadEntry(index))
        return "its zlib stream is damaged or inflates to another size than the directory says; reads as missing";
    if (!e.byNumber)
        for (std::size_t later = index + 1; later < entries.size(); ++later)
            if (!entries[later].byNumber && entries[later].name == e.name)
                return "shadowed by a later member of the same name, which is the one read";
    if (e.byNumber) return "shadowed: identified by number, never found by name";
    return std::nullopt;
}

SkinCheckSummary CheckSkin(const SkinArchive& archive, std::size_t fileSize, std::ostream& out) {
    return Checker(archive, fileSize, out).run();
}

}  // namespace tessura
