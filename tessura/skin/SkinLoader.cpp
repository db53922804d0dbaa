#include "SkinLoader.h"

#include "CrashGuard.h"
#include "SkinArchive.h"
#include "SkinMembers.h"

namespace tessura {
namespace {

// Whether a mode draws from the skin's own resources (its Touch flag) or the default skin's.
bool modeTouched(const SkinDescription& d, SkinMode mode) {
    switch (mode) {
    case SkinMode::Mid: return d.touchMidMode != 0;
    case SkinMode::Navigator: return d.touchNavMode != 0;
    case SkinMode::Small: return d.touchSmallMode != 0;
    default: return true;
    }
}

class Loader {
  public:
    explicit Loader(const SkinLoadContext& c) : c_(c) { skin_.skinPath = c.sources.currentSkin; }

    LoadedSkin run() {
        if (!lastGuardedLoadFinished(c_.settings, kSkinGuard)) {
            c_.dialogs.message({kSkinCrashedTitle, kSkinCrashedText, "", "", Buttons::Ok});
            useDefaultSkin("the last load of this skin did not finish");
        }
        GuardedLoad guard(c_.settings, kSkinGuard);
        readDescription();
        skin_.displayTitle = SkinDisplayTitle(skin_.description);
        loadImages();
        if (!skin_.quitRequested) loadRegions();
        return std::move(skin_);
    }

  private:
    SkinSources sources() const {
        SkinSources s = c_.sources;
        s.currentSkin = skin_.skinPath;
        return s;
    }

    void useDefaultSkin(std::string why) {
        if (skin_.refusedBecause.empty()) skin_.refusedBecause = std::move(why);
        skin_.skinPath = c_.sources.defaultSkin;
    }

    // Step 1-2: "/skin.ini" of the current skin; missing or too new leaves the built-in values.
    void readDescription() {
        const auto archive = OpenSkinArchive(skin_.skinPath, c_.sources.programDir);
        const auto ini = archive ? ReadSkinIni(*archive) : nullptr;
        if (!ini) {
            if (skin_.skinPath != c_.sources.defaultSkin)
                useDefaultSkin(archive ? "it has no readable /skin.ini" : "it cannot be opened");
            return;
        }
        SkinDescription read = ReadSkinDescription(ini.get());
        if (read.TooNew()) {
            c_.dialogs.message({c_.texts.Text("errors/tessuraerror"), c_.texts.Text("main/needlatesttessura"),
                                "errors/tessuraerror", "main/needlatesttessura", Buttons::Ok});
            useDefaultSkin("its version " + std::to_string(read.version) + " is newer than " +
                           std::to_string(kNewestSkinVersion));
            return;
        }
        skin_.description = std::move(read);
    }

    // Shows the message a failed image calls for; false when the load must stop.
    bool report(const SkinImageResult& result) {
        const auto message = MessageFor(result, c_.texts);
        if (!message) return true;
        const std::string textKey = result.status == SkinImageResult::Status::ArchiveUnreadable
                                        ? "errors/couldnotloadskin"
                                    : result.status == SkinImageResult::Status::MemberMissing
                                        ? "errors/resourceerrorstr"
                                        : "errors/corruptimageres";
        const Answer answer = c_.dialogs.message({message->title, message->text, "errors/tessuraerror",
                                                  textKey, message->askQuit ? Buttons::YesNo : Buttons::Ok});
        if (message->endsProgram || (message->askQuit && answer == Answer::Yes)) {
            skin_.quitRequested = true;
            return false;
        }
        return true;
    }

    std::optional<LoadedSkinImage> load(const std::string& member, bool fromDefault) {
        const SkinImageResult result = LoadSkinImage(member, fromDefault, sources());
        if (!result.image) {
            report(result);
            return std::nullopt;
        }
        return LoadedSkinImage{std::move(*result.image), fromDefault || result.fromDefaultSkin};
    }

    // Step 3 and the images of each mode, each on its own fallback.
    void loadImages() {
        const SkinDescription& d = skin_.description;
        std::vector<std::pair<std::string, bool>> wanted;  // member, from the default skin
        for (const SkinMemberName& m : kSkinImages) {
            if (m.mode == SkinMode::Settings) continue;  // the preview reads those
            bool fromDefault = !modeTouched(d, m.mode);
            if (m.name == "/jpeg/misc" && d.touchNavMode == d.touchMidMode)
                fromDefault = d.touchNavMode == 0 && d.touchMidMode == 0;
            wanted.emplace_back(std::string(m.name), fromDefault);
            if (m.name == "/jpeg/navitem2")
                wanted.emplace_back(c_.texts.ResourceName(kNavButtonsFormat), false);
        }
        for (const auto& [member, fromDefault] : wanted) {
            auto image = load(member, fromDefault);
            if (skin_.quitRequested) return;
            if (image) skin_.images.emplace(member, std::move(*image));
        }
        if ((d.touchNavMode == 0) != (d.touchMidMode == 0)) {
            skin_.untouchedMisc = load("/jpeg/misc", true);
        }
    }

    // Regions carry no messages: a missing or damaged one is taken from the default skin, and
    // one found nowhere leaves its control without a shape.
    void loadRegions() {
        const SkinSources s = sources();
        for (const SkinMemberName& m : kSkinRegions) {
            const std::string member(m.name);
            const bool touched = modeTouched(skin_.description, m.mode);
            const std::string& first = touched ? s.currentSkin : s.defaultSkin;
            std::optional<SkinRegion> region = LoadSkinRegion(member, first, s.programDir);
            bool fromDefault = !touched;
            if (!region && first != s.defaultSkin) {
                region = LoadSkinRegion(member, s.defaultSkin, s.programDir);
                fromDefault = true;
            }
            if (region) skin_.regions.emplace(member, LoadedSkinRegion{std::move(*region), fromDefault});
        }
    }

    const SkinLoadContext& c_;
    LoadedSkin skin_;
};

}  // namespace

const SkinImage* LoadedSkin::Image(const std::string& member) const {
    const auto it = images.find(member);
    return it == images.end() ? nullptr : &it->second.image;
}

const SkinRegion* LoadedSkin::Region(const std::string& member) const {
    const auto it = regions.find(member);
    return it == regions.end() ? nullptr : &it->second.region;
}

std::string SkinDisplayTitle(const SkinDescription& description) {
    return description.title.empty() ? kUntitledSkinName : description.title;
}

LoadedSkin LoadSkin(const SkinLoadContext& context) {
    return Loader(context).run();
}

}  // namespace tessura
