#include "LibraryModel.h"

#include "CommandLine.h"
#include "M3u.h"
#include "TextUtil.h"
#include "WaveInputFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace veloraplay {

namespace {

bool endsWithNoCase(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && equalNoCase(text.substr(text.size() - tail.size()), tail);
}

std::string lowered(const std::string& s) {
    std::string out = s;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

MenuEntry item(const std::string& text, int id, bool checked = false) {
    MenuEntry e;
    e.text = text;
    e.id = id;
    e.checked = checked;
    return e;
}

MenuEntry separator() { return MenuEntry{}; }

}  // namespace

int playerCommandFor(int id) {
    switch (id) {
        case cmd::kAbout: return cmd::kAbout;
        case cmd::kSkinOceanic: return cmd::kSkinOceanic;
        case cmd::kSkinBrushedMetal: return cmd::kSkinBrushedMetal;
        case libcmd::kMinimize: return cmd::kMinimize;
        case libcmd::kQuit: return cmd::kSystemClose;
        case libcmd::kVolume: return cmd::kVolumeMenu;
        case libcmd::kConversionDirectory: return cmd::kConversionDirectory;
        default: return 0;
    }
}

std::string folderSection(int32_t number) {
    char name[32];
    std::snprintf(name, sizeof name, "Folder %3.3d", static_cast<int>(number));
    return std::string(kLibrarySection) + "/" + name;
}

std::string itemKey(int32_t number) {
    char name[32];
    std::snprintf(name, sizeof name, "Item %3.3d", static_cast<int>(number));
    return name;
}

std::vector<StoredFolder> readStoredLibrary(const SettingsStore& settings) {
    std::vector<StoredFolder> folders;
    const int32_t count = std::clamp(settings.getInt(kLibrarySection, "Folders", 0), 0, kMaxLibraryFolders);
    for (int32_t f = 0; f < count; ++f) {
        const std::string section = folderSection(f);
        StoredFolder folder;
        const int32_t items =
            std::clamp(settings.getInt(section, "Folder Items", 0), 0, kMaxLibraryFolderItems);
        folder.name = settings.getString(section, "Folder Name", "");
        for (int32_t i = 0; i < items; ++i) {
            const std::string key = itemKey(i);
            // A count larger than what was written ends at the first missing item.
            if (!settings.contains(section, key)) break;
            folder.items.push_back(settings.getString(section, key, ""));
        }
        folders.push_back(std::move(folder));
    }
    return folders;
}

LibraryWindowState readLibraryWindowState(const SettingsStore& settings) {
    LibraryWindowState s;
    s.hasRect = settings.contains(kLibrarySection, "WindowRect.Left") &&
                settings.contains(kLibrarySection, "WindowRect.Top") &&
                settings.contains(kLibrarySection, "WindowRect.Right") &&
                settings.contains(kLibrarySection, "WindowRect.Bottom");
    s.left = settings.getInt(kLibrarySection, "WindowRect.Left", 0);
    s.top = settings.getInt(kLibrarySection, "WindowRect.Top", 0);
    s.right = settings.getInt(kLibrarySection, "WindowRect.Right", 0);
    s.bottom = settings.getInt(kLibrarySection, "WindowRect.Bottom", 0);
    if (s.right <= s.left || s.bottom <= s.top) s.hasRect = false;
    s.locked = settings.getInt(kLibrarySection, "Write Enabled", 0) != 0;
    return s;
}

void writeLibraryWindowState(SettingsStore& settings, const LibraryWindowState& s) {
    if (s.hasRect) {
        settings.setInt(kLibrarySection, "WindowRect.Left", s.left);
        settings.setInt(kLibrarySection, "WindowRect.Top", s.top);
        settings.setInt(kLibrarySection, "WindowRect.Right", s.right);
        settings.setInt(kLibrarySection, "WindowRect.Bottom", s.bottom);
    }
    settings.setInt(kLibrarySection, "Write Enabled", s.locked ? 1 : 0);
}

ScreenRect libraryBesidePlayer(const ScreenRect& player, int width, int height, const ScreenRect& screen) {
    constexpr int kGap = 8;
    const int screenRight = screen.x + screen.width, screenBottom = screen.y + screen.height;
    int x = player.x + player.width + kGap;
    if (x + width > screenRight) {
        const int left = player.x - kGap - width;
        // Whichever side has more room when neither fits whole.
        x = left >= screen.x || player.x - screen.x > screenRight - (player.x + player.width) ? left : x;
    }
    x = std::clamp(x, screen.x, std::max(screen.x, screenRight - width));
    const int y = std::clamp(player.y, screen.y, std::max(screen.y, screenBottom - height));
    return {x, y, width, height};
}

bool isPlaylistPath(const std::string& path) { return endsWithNoCase(path, ".m3u"); }

std::string libraryEntryPath(const std::string& entry, const std::string& playlistPath) {
    if (entry.find(':') != std::string::npos || entry.rfind("\\\\", 0) == 0 ||
        (!entry.empty() && entry.front() == '/'))
        return entry;
    std::string relative = entry;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const auto slash = playlistPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : playlistPath.substr(0, slash + 1);
    return folder + relative;
}

Rgb highlightColour(Rgb bg) {
    if ((bg.r + bg.g + bg.b) / 3 >= 160) return {0, 0, 255};
    return {bg.r < 128 ? 255 : 0, bg.g < 128 ? 255 : 0, 255 - bg.b};
}

LibraryModel::LibraryModel(WaveCheck isWave) : isWave_(std::move(isWave)) {
    if (!isWave_) isWave_ = [](const std::string& p) { return velora::IsPcmWaveFile(p); };
}

LibraryNode LibraryModel::makeFile(const std::string& path) {
    LibraryNode n;
    n.id = nextId_++;
    n.text = path;
    n.wave = !endsWithNoCase(path, ".mp3") && isWave_(path);
    return n;
}

LibraryNode LibraryModel::makeFolder(const std::string& name) {
    LibraryNode n;
    n.id = nextId_++;
    n.text = name;
    n.folder = true;
    return n;
}

void LibraryModel::load(const SettingsStore& settings) {
    roots_.clear();
    playingFolder_ = playingItem_ = kNoNode;
    played_.clear();
    const auto stored = readStoredLibrary(settings);
    for (const StoredFolder& f : stored) {
        if (f.items.empty()) continue;
        LibraryNode folder = makeFolder(f.name);
        for (const std::string& path : f.items) folder.children.push_back(makeFile(path));
        roots_.push_back(std::move(folder));
    }
    if (settings.getInt(kLibrarySection, "Folders", 0) <= 0) roots_.push_back(makeFolder(kDefaultFolderName));
}

void LibraryModel::save(SettingsStore& settings) const {
    int32_t written = 0;
    for (const LibraryNode& root : roots_) {
        if (!root.folder || root.children.empty() || written >= kMaxLibraryFolders) continue;
        const std::string section = folderSection(written);
        int32_t i = 0;
        for (const LibraryNode& file : root.children) {
            if (i >= kMaxLibraryFolderItems) break;
            settings.setString(section, itemKey(i++), file.text);
        }
        settings.setInt(section, "Folder Items", i);
        settings.setString(section, "Folder Name", root.text);
        ++written;
    }
    settings.setInt(kLibrarySection, "Folders", written);
}

const LibraryNode* LibraryModel::find(NodeId id) const {
    return const_cast<LibraryModel*>(this)->findMutable(id);
}

LibraryNode* LibraryModel::findMutable(NodeId id) {
    if (id == kNoNode) return nullptr;
    for (LibraryNode& root : roots_) {
        if (root.id == id) return &root;
        for (LibraryNode& child : root.children)
            if (child.id == id) return &child;
    }
    return nullptr;
}

NodeId LibraryModel::parentOf(NodeId id) const {
    for (const LibraryNode& root : roots_)
        for (const LibraryNode& child : root.children)
            if (child.id == id) return root.id;
    return kNoNode;
}

bool LibraryModel::isWaveFile(NodeId id) const {
    const LibraryNode* n = find(id);
    return n && !n->folder && n->wave;
}

std::vector<LibraryNode>* LibraryModel::siblingsOf(NodeId id, std::size_t* index) {
    for (std::size_t r = 0; r < roots_.size(); ++r) {
        if (roots_[r].id == id) {
            *index = r;
            return &roots_;
        }
        auto& kids = roots_[r].children;
        for (std::size_t c = 0; c < kids.size(); ++c) {
            if (kids[c].id == id) {
                *index = c;
                return &kids;
            }
        }
    }
    return nullptr;
}

std::optional<LibraryNode> LibraryModel::take(NodeId id) {
    std::size_t index = 0;
    std::vector<LibraryNode>* list = siblingsOf(id, &index);
    if (!list) return std::nullopt;
    LibraryNode node = std::move((*list)[index]);
    list->erase(list->begin() + static_cast<std::ptrdiff_t>(index));
    return node;
}

NodeId LibraryModel::folderFor(NodeId selected) const {
    const LibraryNode* n = find(selected);
    if (!n) return kNoNode;
    return n->folder ? n->id : parentOf(n->id);
}

NodeId LibraryModel::addPlaylist(const std::string& path) {
    std::string name;
    const auto entries = readM3u(path, &name);
    LibraryNode folder = makeFolder(name.empty() ? path : name);
    for (const std::string& e : entries) folder.children.push_back(makeFile(libraryEntryPath(e, path)));
    roots_.push_back(std::move(folder));
    return roots_.back().id;
}

std::vector<NodeId> LibraryModel::addFiles(const std::vector<std::string>& paths, NodeId selected) {
    std::vector<NodeId> added;
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        if (isPlaylistPath(path)) {
            added.push_back(addPlaylist(path));
            continue;
        }
        LibraryNode file = makeFile(path);
        added.push_back(file.id);
        if (LibraryNode* folder = findMutable(folderFor(selected)))
            folder->children.push_back(std::move(file));
        else
            roots_.push_back(std::move(file));
    }
    return added;
}

NodeId LibraryModel::addFromPlayer(const std::string& path) {
    if (path.empty()) return kNoNode;
    if (isPlaylistPath(path)) {
        const NodeId folder = addPlaylist(path);
        playingFolder_ = folder;
        playingItem_ = kNoNode;
        played_.clear();
        for (const LibraryNode& f : roots_.back().children) played_.push_back(f.id);
        return folder;
    }
    NodeId found = kNoNode;
    const std::string key = lowered(path);
    for (const LibraryNode& root : roots_)
        if (!root.folder && lowered(root.text) == key) {
            found = root.id;
            break;
        }
    if (found == kNoNode) {
        roots_.push_back(makeFile(path));
        found = roots_.back().id;
    }
    // A single file is played on its own: no folder list goes with it.
    playingFolder_ = kNoNode;
    playingItem_ = found;
    played_.clear();
    return found;
}

NodeId LibraryModel::addHandedFile(const std::string& path, NodeId selected) {
    if (path.empty()) return kNoNode;
    LibraryNode file;
    file.id = nextId_++;
    file.text = path;
    const NodeId id = file.id;
    if (LibraryNode* folder = findMutable(folderFor(selected)))
        folder->children.push_back(std::move(file));
    else
        roots_.push_back(std::move(file));
    return id;
}

bool LibraryModel::remove(NodeId id) {
    const LibraryNode* n = find(id);
    if (!n) return false;
    if (id == playingFolder_) playingFolder_ = kNoNode;
    if (id == playingItem_) playingItem_ = kNoNode;
    for (const LibraryNode& c : n->children)
        if (c.id == playingItem_) playingItem_ = kNoNode;
    return take(id).has_value();
}

NodeId LibraryModel::createFolder() {
    roots_.push_back(makeFolder(kNewFolderName));
    return roots_.back().id;
}

bool LibraryModel::rename(NodeId id, const std::string& name) {
    LibraryNode* n = findMutable(id);
    if (!n || !n->folder) return false;
    n->text = name;
    return true;
}

bool LibraryModel::sortFolder(NodeId id) {
    LibraryNode* n = findMutable(id);
    if (!n || !n->folder) return false;
    std::stable_sort(n->children.begin(), n->children.end(),
                     [](const LibraryNode& a, const LibraryNode& b) { return lowered(a.text) < lowered(b.text); });
    return true;
}

DropResult LibraryModel::drop(NodeId dragged, NodeId target, bool swap) {
    const LibraryNode* from = find(dragged);
    const LibraryNode* to = find(target);
    if (!from || !to || dragged == target) return DropResult::Beep;
    if (from->folder) {
        if (!to->folder) return DropResult::Beep;
        std::optional<LibraryNode> folder = take(dragged);
        LibraryNode* into = findMutable(target);
        for (LibraryNode& c : folder->children) into->children.push_back(std::move(c));
        // The files keep their ids, so a playing file stays marked; the folder is gone.
        if (playingFolder_ == dragged) playingFolder_ = kNoNode;
        return DropResult::Merged;
    }
    if (to->folder) {
        std::optional<LibraryNode> file = take(dragged);
        findMutable(target)->children.push_back(std::move(*file));
        return DropResult::MovedInto;
    }
    if (swap) {
        std::size_t a = 0, b = 0;
        std::vector<LibraryNode>* la = siblingsOf(dragged, &a);
        std::vector<LibraryNode>* lb = siblingsOf(target, &b);
        std::swap((*la)[a], (*lb)[b]);
        return DropResult::Swapped;
    }
    std::optional<LibraryNode> file = take(dragged);
    std::size_t index = 0;
    std::vector<LibraryNode>* list = siblingsOf(target, &index);
    list->insert(list->begin() + static_cast<std::ptrdiff_t>(index), std::move(*file));
    return DropResult::MovedBefore;
}

bool LibraryModel::playFolder(NodeId id, bool shuffled, LibraryHost& host) {
    const LibraryNode* folder = find(id);
    if (!folder || !folder->folder || folder->children.empty()) return false;
    std::vector<std::string> items;
    played_.clear();
    for (const LibraryNode& f : folder->children) {
        items.push_back(f.text);
        played_.push_back(f.id);
    }
    Playlist& list = host.folderList();
    list.setRepeat(Playlist::kWrap);
    list.setShuffle(shuffled);
    list.setItems(items, true);
    list.setName(folder->text);
    list.rewind();
    playingFolder_ = id;
    playingItem_ = kNoNode;
    // One item is opened as a single file; more are played from the list's start, where the
    // player's move to the end and Next build a fresh order.
    host.handToPlayer(items.size() == 1 ? joinArguments({items.front()}) : std::string());
    return true;
}

bool LibraryModel::playNow(NodeId id, LibraryHost& host) {
    const LibraryNode* file = find(id);
    if (!file || file->folder) return false;
    playingFolder_ = kNoNode;
    playingItem_ = id;
    played_.clear();
    host.handToPlayer(joinArguments({file->text}));
    return true;
}

NodeId LibraryModel::markItemNumber(uint32_t number) {
    playingItem_ = kNoNode;
    if (number == 0 || number > played_.size()) return kNoNode;
    if (find(played_[number - 1])) playingItem_ = played_[number - 1];
    return playingItem_;
}

std::vector<std::string> LibraryModel::exportItems(NodeId id) const {
    std::vector<std::string> items;
    const LibraryNode* folder = find(id);
    if (!folder || !folder->folder) return items;
    for (const LibraryNode& f : folder->children)
        if (!f.wave) items.push_back(f.text);
    return items;
}

bool LibraryModel::savePlaylist(NodeId id, const std::string& path) const {
    const LibraryNode* folder = find(id);
    return folder && folder->folder && writeM3u(path, folder->text, exportItems(id));
}

bool LibraryModel::saveHtml(NodeId id, const std::string& path) const {
    const LibraryNode* folder = find(id);
    return folder && folder->folder && writeHtmlExport(path, folder->text, exportItems(id));
}

std::vector<MenuEntry> LibraryModel::contextMenu(NodeId selection, bool locked, int skin) const {
    std::vector<MenuEntry> menu;
    const LibraryNode* n = find(selection);
    if (n && n->folder) {
        const bool hasItems = !n->children.empty();
        if (hasItems) {
            menu.push_back(item("Play All Items", libcmd::kPlayAll));
            menu.push_back(item("Play Shuffled", libcmd::kPlayShuffled));
            menu.push_back(separator());
            menu.push_back(item("Sort Items By Name", libcmd::kSort));
        }
        menu.push_back(item("Rename Folder", libcmd::kRename));
        if (hasItems) {
            menu.push_back(item("Save As Playlist File", libcmd::kSavePlaylist));
            menu.push_back(item("Save As HTML File", libcmd::kSaveHtml));
        }
    } else if (n) {
        if (n->wave) menu.push_back(item("Convert to Velora", libcmd::kEncoder));
        menu.push_back(item("Play Now", libcmd::kPlayNow));
    }
    MenuEntry del = item("Delete From Library", libcmd::kDelete);
    del.enabled = n != nullptr;
    menu.push_back(del);
    menu.push_back(separator());
    menu.push_back(item("Create New Folder", libcmd::kCreateFolder));
    menu.push_back(item("Add to Library", libcmd::kAdd));
    menu.push_back(item("Lock File Info Editing", libcmd::kLock, locked));
    menu.push_back(separator());
    if (!(n && !n->folder && n->wave)) menu.push_back(item("Velora E&ncoder", libcmd::kEncoder));
    menu.push_back(item("Select &Conversion Directory", libcmd::kConversionDirectory));
    menu.push_back(item("Adjust Playback &Volume", libcmd::kVolume));
    MenuEntry skins;
    skins.text = "Player Skin Appearance";
    skins.submenu.push_back(item("Brushed Metal", cmd::kSkinBrushedMetal, skin == 0));
    skins.submenu.push_back(item("Oceanic", cmd::kSkinOceanic, skin == 1));
    menu.push_back(skins);
    menu.push_back(item("&Help Topics for this Window", libcmd::kHelp));
    menu.push_back(separator());
    menu.push_back(item("&Minimize Application", libcmd::kMinimize));
    menu.push_back(item(kAboutMenuText, cmd::kAbout));
    menu.push_back(separator());
    menu.push_back(item("&Quit Velora Audio Player", libcmd::kQuit));
    return menu;
}

}  // namespace veloraplay
