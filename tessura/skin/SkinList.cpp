#include "SkinList.h"

#include "AtomicFile.h"
#include "ProgramFolder.h"
#include "SkinArchive.h"
#include "TextCase.h"

#include <algorithm>
#include <dirent.h>

namespace tessura {
namespace {

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool hasSkinExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot != std::string::npos && dot > 0 && equalsNoCase(name.substr(dot + 1), kSkinExtension);
}

}  // namespace

std::vector<SkinListEntry> ListSkins(const std::string& programDir, const std::string& defaultSkin,
                                     const std::string& currentSkin) {
    std::vector<SkinListEntry> list;
    list.push_back({defaultSkin, baseName(withSlashes(defaultSkin)), true, false});
    std::vector<std::string> names;
    if (DIR* dir = ::opendir((programDir + "/skins").c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (hasSkinExtension(name) && fileExists(programDir + "/skins/" + name)) names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) list.push_back({"skins/" + name, name, false, false});
    const std::string current = withSlashes(currentSkin);
    for (SkinListEntry& entry : list) {
        entry.isCurrent = equalsNoCase(withSlashes(entry.path), current);
        if (entry.isCurrent) break;  // one current skin, the first that matches
    }
    return list;
}

std::optional<std::string> InstallSkin(const std::string& path, const std::string& programDir,
                                       DialogService& dialogs) {
    std::string bytes;
    const std::string name = baseName(withSlashes(path));
    const std::string folder = programDir + "/skins";
    bool copied = false;
    if (!name.empty() && readWholeFile(path, bytes)) {
        copied = writeFileAtomically(folder + "/" + name, bytes, 0644) == WriteResult::Ok;
        if (!copied && makeFolders(folder, 0755))
            copied = writeFileAtomically(folder + "/" + name, bytes, 0644) == WriteResult::Ok;
    }
    if (!copied) {
        dialogs.message({"", kInstallFailedText, "", "", Buttons::Ok});
        return std::nullopt;
    }
    return "skins/" + name;
}

SkinPreviewInfo SkinPreview(const std::string& path, const std::string& programDir,
                            const LanguageStore& texts) {
    SkinPreviewInfo info;
    SkinSources sources;
    sources.programDir = programDir;
    SkinImageResult thumb = LoadSkinImage(JoinSkinMember(path, "/jpeg/skinthumb"), false, sources);
    info.thumbnail = std::move(thumb.image);

    const auto archive = OpenSkinArchive(path, programDir);
    const auto ini = archive ? ReadSkinIni(*archive) : nullptr;
    auto value = [&](const char* key, const std::string& fallback) {
        const auto found = ini ? ini->Find("skin", key) : std::nullopt;
        return found ? *found : fallback;
    };
    info.title = value("title", texts.Text("settings/skinnotitle"));
    info.author = value("author", texts.Text("settings/skinunknown"));
    info.urlText = value("url_text", texts.Text("settings/skinunknown"));
    info.url = value("url", "");
    return info;
}

}  // namespace tessura
