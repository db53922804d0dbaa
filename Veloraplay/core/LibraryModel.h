#pragma once
// The audio file library without its widgets: a tree of named folders of files (and files at
// the top level), kept in the settings store, with the operations of the library window's
// menu, keys and drag and drop. The window shows the tree and forwards input here; every
// node has an id that survives moves, so the window can rebuild its view after any change.
#include "LibraryHost.h"
#include "PlayerWindowModel.h"  // MenuEntry, cmd::
#include "SettingsStore.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace veloraplay {

inline constexpr char kLibrarySection[] = "Playlist Manager";
inline constexpr char kDefaultFolderName[] = "My Favourite Tunes";
inline constexpr char kNewFolderName[] = "New Folder";
inline constexpr char kLibraryWebsite[] = "https://www.velora.example/player/";
// Far beyond any library a user builds; a damaged count never makes the loaders run away.
inline constexpr int32_t kMaxLibraryFolders = 10000;
inline constexpr int32_t kMaxLibraryFolderItems = 100000;

// Menu ids of the library window.
namespace libcmd {
inline constexpr int kPlayNow = 66;
inline constexpr int kEncoder = 67;  // "Convert to Velora" and "Velora E&ncoder"
inline constexpr int kDelete = 68;
inline constexpr int kCreateFolder = 69;
inline constexpr int kConversionDirectory = 70;
inline constexpr int kAdd = 71;
inline constexpr int kLock = 72;
inline constexpr int kRename = 73;
inline constexpr int kSavePlaylist = 74;
inline constexpr int kSaveHtml = 75;
inline constexpr int kPlayAll = 76;
inline constexpr int kPlayShuffled = 77;
inline constexpr int kVolume = 78;
inline constexpr int kQuit = 79;
inline constexpr int kMinimize = 80;
inline constexpr int kSort = 81;
inline constexpr int kHelp = 82;
}  // namespace libcmd

// The player command a library menu id is passed on as (about, skins, minimise, quit, volume
// panel, conversion folder), or 0 when the library handles it itself.
int playerCommandFor(int libraryMenuId);

using NodeId = uint64_t;
inline constexpr NodeId kNoNode = 0;

struct LibraryNode {
    NodeId id = kNoNode;
    std::string text;     // a folder's caption or a file's path
    bool folder = false;
    bool wave = false;    // a file that the WAVE check accepted (image 3)
    std::vector<LibraryNode> children;  // a folder's files
};

// What a stored folder holds, as read from the settings.
struct StoredFolder {
    std::string name;
    std::vector<std::string> items;
};
// Reads "Folders" and each "Playlist Manager/Folder %3.3d" with its "Folder Items" items.
// Counts are capped (kMaxLibraryFolders, kMaxLibraryFolderItems) and a folder's items end at
// the first one missing, so the work is bounded by what the file really holds. Folders with
// no items are returned too (empty).
std::vector<StoredFolder> readStoredLibrary(const SettingsStore& settings);
std::string folderSection(int32_t number);  // "Playlist Manager/Folder 000"
std::string itemKey(int32_t number);        // "Item 000"

// The library window's rectangle and lock as stored.
struct LibraryWindowState {
    bool hasRect = false;
    int left = 0, top = 0, right = 0, bottom = 0;
    bool locked = false;  // "Write Enabled"
};
LibraryWindowState readLibraryWindowState(const SettingsStore& settings);
// The rectangle only when given (not while maximised or minimised); the lock always.
void writeLibraryWindowState(SettingsStore& settings, const LibraryWindowState& state);
// Where a library window of `width` x `height` opens when no rectangle is stored: right of the
// player's frame, else left of it, top edges aligned, kept on the screen's work area; never
// over the player where the screen leaves room beside it.
ScreenRect libraryBesidePlayer(const ScreenRect& player, int width, int height, const ScreenRect& screen);

// An entry of a playlist file added to the library: an entry containing ':' or beginning with
// "\\" or '/' is used as written; any other is relative, its '\' separators become '/' and the
// playlist's folder (up to and including its last '/') is put before it.
std::string libraryEntryPath(const std::string& entry, const std::string& playlistPath);
bool isPlaylistPath(const std::string& path);  // ends in ".m3u", any case

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};
// The text colour of the playing folder and item over `background`.
Rgb highlightColour(Rgb background);

enum class DropResult { Beep, MovedInto, MovedBefore, Swapped, Merged };

class LibraryModel {
  public:
    using WaveCheck = std::function<bool(const std::string&)>;
    // `isWave` stands for the WAVE check (files ending in ".mp3" are never given to it).
    explicit LibraryModel(WaveCheck isWave = {});

    // Replaces the tree with the stored library: folders with items, in order; the single
    // empty folder "My Favourite Tunes" when "Folders" is 0 or absent.
    void load(const SettingsStore& settings);
    // Writes every folder that has files as the next folder number, then "Folders". Empty
    // folders and top-level files are not kept; values beyond the new counts stay.
    void save(SettingsStore& settings) const;

    const std::vector<LibraryNode>& roots() const { return roots_; }
    const LibraryNode* find(NodeId id) const;
    NodeId parentOf(NodeId id) const;  // the folder holding a file, kNoNode at the top level
    bool isWaveFile(NodeId id) const;

    // Adds files as "Add to Library" and dropped files do: a plain file into the selected
    // folder (or the selected file's folder, or the top level), a playlist file as a new folder.
    // Returns the new nodes (a new folder's id for a playlist).
    std::vector<NodeId> addFiles(const std::vector<std::string>& paths, NodeId selected);
    // A file opened or dropped in the player: at the top level unless a top-level file of the
    // same path (any case) is there; a playlist as a new folder. The node is marked playing.
    NodeId addFromPlayer(const std::string& path);
    // The encoder's output: a file item (image 2) in the current folder.
    NodeId addHandedFile(const std::string& path, NodeId selected);

    bool remove(NodeId id);
    NodeId createFolder();
    bool rename(NodeId folder, const std::string& name);
    bool sortFolder(NodeId folder);  // by text, any case, stable
    // Dragging `dragged` onto `target` (kNoNode: nothing), with Ctrl held (`swap`).
    DropResult drop(NodeId dragged, NodeId target, bool swap);

    // "Play All Items" / "Play Shuffled": fills the player's folder list and hands over
    // (an empty payload, or the quoted path of a folder's only item). False for a folder
    // without files.
    bool playFolder(NodeId folder, bool shuffled, LibraryHost& host);
    // "Play Now": the file as a quoted path.
    bool playNow(NodeId file, LibraryHost& host);
    // The player's current item number (1-based in the folder last played; 0 none): marks
    // that file playing and returns it, or kNoNode.
    NodeId markItemNumber(uint32_t itemNumber);
    NodeId playingFolder() const { return playingFolder_; }
    NodeId playingItem() const { return playingItem_; }
    bool isPlaying(NodeId id) const { return id != kNoNode && (id == playingFolder_ || id == playingItem_); }

    // The folder's files without WAVE files, for the exports.
    std::vector<std::string> exportItems(NodeId folder) const;
    bool savePlaylist(NodeId folder, const std::string& path) const;
    bool saveHtml(NodeId folder, const std::string& path) const;

    // The tree's context menu for `selection` (kNoNode: nothing selected); `skin` marks the
    // current skin (-1: none).
    std::vector<MenuEntry> contextMenu(NodeId selection, bool locked, int skin = -1) const;

  private:
    LibraryNode makeFile(const std::string& path);
    LibraryNode makeFolder(const std::string& name);
    LibraryNode* findMutable(NodeId id);
    std::vector<LibraryNode>* siblingsOf(NodeId id, std::size_t* index);
    std::optional<LibraryNode> take(NodeId id);
    NodeId folderFor(NodeId selected) const;
    NodeId addPlaylist(const std::string& path);

    WaveCheck isWave_;
    std::vector<LibraryNode> roots_;
    NodeId nextId_ = 1;
    NodeId playingFolder_ = kNoNode;
    NodeId playingItem_ = kNoNode;
    std::vector<NodeId> played_;  // the files handed to the player, in item-number order
};

}  // namespace veloraplay
