#include "FileTypeRegistrar.h"

#include "AtomicFile.h"
#include "IniParser.h"
#include "MimeAppsList.h"
#include "TextCase.h"

#include <spawn.h>
#include <sys/wait.h>
#include <utility>

extern char** environ;

namespace tessura {

namespace {
// Captions of Windows verbs carry '&' before their access key; menus here have none.
std::string caption(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size() && text[i + 1] != '&') continue;
        out += text[i];
        if (text[i] == '&') ++i;
    }
    return singleLine(out);
}

std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}
}  // namespace

std::string quoteExecArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    // The desktop file's string rules apply on top of the Exec quoting.
    std::string escaped;
    for (char c : quoted) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

void runToolIfPresent(const std::vector<std::string>& argv) {
    if (argv.empty()) return;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 0, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0, 0);
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}

FileTypeRegistrar::FileTypeRegistrar(ProgramFolder folder, SettingsStore& store, ToolRunner runner)
    : folder_(std::move(folder)), store_(store), runner_(std::move(runner)) {}

void FileTypeRegistrar::runTool(const std::vector<std::string>& argv) const {
    if (runner_) {
        runner_(argv);
    } else {
        runToolIfPresent(argv);
    }
}

std::string FileTypeRegistrar::ProgramCommand() const {
    return quoteExecArgument(folder_.executablePath);
}

bool FileTypeRegistrar::writeDesktopEntry(const FileTypeTexts& texts) {
    const std::string program = ProgramCommand();
    std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Tessura\n"
        "GenericName=Media Player\n"
        "Exec=" + program + " %F\n"
        "Terminal=false\n"
        "Categories=AudioVideo;Audio;Player;\n"
        "MimeType=audio/mpeg;audio/x-wav;audio/x-mpegurl;audio/x-scpls;application/x-tessura-skin;"
        "inode/directory;\n"
        "Actions=Play;AddToPlaylist;Open;InstallSkin;\n";
    entry += "\n[Desktop Action Play]\nName=" + caption(texts.play) + "\nExec=" + program + " %F\n";
    entry += "\n[Desktop Action AddToPlaylist]\nName=" + caption(texts.addToPlaylist) +
             "\nExec=" + program + " -appendonly %F\n";
    entry += "\n[Desktop Action Open]\nName=" + caption(texts.open) + "\nExec=" + program + " %F\n";
    entry += "\n[Desktop Action InstallSkin]\nName=" + caption(texts.install) + "\nExec=" +
             program + " -installskin %F\n";
    const std::string folder = folder_.applicationsDir();
    return makeFolders(folder, 0755) &&
           writeFileAtomically(folder + "/" + kDesktopEntryName, entry, 0644) == WriteResult::Ok;
}

bool FileTypeRegistrar::writeSkinType(const FileTypeTexts& texts) {
    const std::string folder = folder_.mimePackagesDir();
    const std::string definition =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"application/x-tessura-skin\">\n"
        "    <comment>" + xmlEscaped(singleLine(texts.skinType)) + "</comment>\n"
        "    <glob pattern=\"*.tgf\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n";
    return makeFolders(folder, 0755) &&
           writeFileAtomically(folder + "/tessura.xml", definition, 0644) == WriteResult::Ok;
}

bool FileTypeRegistrar::editDefaults(const std::function<void(MimeAppsList&)>& edit) {
    const std::string path = folder_.mimeappsList();
    std::string bytes;
    if (!readWholeFile(path, bytes) && fileExists(path)) return false;
    MimeAppsList list;
    list.load(bytes);
    edit(list);
    return makeFolders(folder_.configHome, 0700) &&
           writeFileAtomically(path, list.text(), 0644) == WriteResult::Ok;
}

bool FileTypeRegistrar::Register(const std::vector<std::string>& mimeTypes,
                                 const FileTypeTexts& texts) {
    if (!writeDesktopEntry(texts) || !writeSkinType(texts)) return false;
    const bool edited = editDefaults([&](MimeAppsList& list) {
        for (const std::string& type : mimeTypes) {
            const std::string previous = list.defaultFor(type).value_or("");
            const bool ours = list.firstDefaultFor(type) == kDesktopEntryName;
            // The earlier owner is kept once, so registering twice cannot lose it.
            if (!ours && !store_.StoredValue(kOldHandlersSection, type)) {
                store_.SetSetting(kOldHandlersSection, type, previous);
            }
            list.setDefault(type, std::string(kDesktopEntryName) + ";");
        }
    });
    runTool({"update-desktop-database", folder_.applicationsDir()});
    runTool({"update-mime-database", folder_.dataHome + "/mime"});
    return edited;
}

bool FileTypeRegistrar::Unregister(const std::vector<std::string>& mimeTypes) {
    return editDefaults([&](MimeAppsList& list) {
        for (const std::string& type : mimeTypes) {
            if (list.firstDefaultFor(type) != kDesktopEntryName) continue;
            const auto previous = store_.StoredValue(kOldHandlersSection, type);
            if (previous && !previous->empty()) {
                list.setDefault(type, *previous);
            } else {
                list.removeDefault(type);
            }
            store_.RemoveSetting(kOldHandlersSection, type);
        }
    });
}

bool FileTypeRegistrar::entryCommandIsOurs(const std::string& entryName,
                                           const std::string& command) const {
    INIParser entry;
    if (entry.Open(folder_.applicationsDir() + "/" + entryName) != 0) return false;
    const auto exec = entry.Find("Desktop Entry", "Exec");
    return exec && equalsNoCase(*exec, command);
}

bool FileTypeRegistrar::IsDefaultFor(const std::string& mimeType) const {
    std::string bytes;
    readWholeFile(folder_.mimeappsList(), bytes);
    MimeAppsList list;
    list.load(bytes);
    return list.firstDefaultFor(mimeType) == kDesktopEntryName &&
           entryCommandIsOurs(kDesktopEntryName, ProgramCommand() + " %F");
}

bool FileTypeRegistrar::IsAudioCdHandler() const {
    std::string bytes;
    readWholeFile(folder_.mimeappsList(), bytes);
    MimeAppsList list;
    list.load(bytes);
    return list.firstDefaultFor(mime::kAudioCd) == kAudioCdEntryName &&
           entryCommandIsOurs(kAudioCdEntryName, ProgramCommand() + " /cdinsert %f");
}

bool FileTypeRegistrar::SetAudioCdHandler(bool on) {
    if (on) {
        const std::string entry = "[Desktop Entry]\nType=Application\nName=Tessura\nNoDisplay=true\n"
                                  "Exec=" + ProgramCommand() + " /cdinsert %f\n"
                                  "MimeType=x-content/audio-cdda;\n";
        const std::string folder = folder_.applicationsDir();
        if (!makeFolders(folder, 0755) ||
            writeFileAtomically(folder + "/" + kAudioCdEntryName, entry, 0644) != WriteResult::Ok) {
            return false;
        }
    }
    return editDefaults([&](MimeAppsList& list) {
        const bool ours = list.firstDefaultFor(mime::kAudioCd) == kAudioCdEntryName;
        if (on) {
            if (!ours) {
                store_.SetSetting(kOldHandlersSection, mime::kAudioCd,
                                  list.defaultFor(mime::kAudioCd).value_or(""));
            }
            list.setDefault(mime::kAudioCd, std::string(kAudioCdEntryName) + ";");
            return;
        }
        if (!ours) return;
        const auto previous = store_.StoredValue(kOldHandlersSection, mime::kAudioCd);
        if (previous && !previous->empty()) {
            list.setDefault(mime::kAudioCd, *previous);
        } else {
            list.removeDefault(mime::kAudioCd);
        }
        store_.RemoveSetting(kOldHandlersSection, mime::kAudioCd);
    });
}

}  // namespace tessura
