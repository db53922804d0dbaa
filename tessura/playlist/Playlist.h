#pragma once
// The in-memory playlist: the entries, the current and last-played entries, the play order and
// repeat mode, and the name of the last playlist file loaded from outside. One lock guards all of
// it; every operation takes it (reads of playlist files nest, so the lock is recursive).
#include "PlaylistEntry.h"
#include "PlaylistHost.h"
#include "Random15.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tessura {

struct PlaylistOptions {
    bool allowDefaultType = false;  // AllowDefaultType: add files no input module claims
    bool showTitleOnly = false;     // ShowTitleOnly
    bool underscore2Space = false;  // Underscore2Space
};

struct AddRequest {
    bool append = true;            // false: a PLS file read becomes the external playlist
    bool allowDuplicates = false;  // add even when it names the current entry's file
    const EntryInfo* info = nullptr;  // cached information (from a playlist file)
    int* existingIndex = nullptr;  // receives the current entry when it was not added again
    bool fromPlaylistFile = false;  // named by a playlist file: folders are not walked
};

struct LoadOutcome {
    int autoplay = 0;
    std::string externalPlaylist;
};

class Playlist {
  public:
    static constexpr int kMaxActiveReads = 9;      // playlists naming playlists
    static constexpr int kMaxReadsPerLoad = 256;   // all files one outermost read may open
    static constexpr int kMaxFolderDepth = 128;
    static constexpr long kMaxPlaylistBytes = 64L << 20;

    explicit Playlist(PlaylistHost& host, PlaylistOptions options = {});

    void setOptions(const PlaylistOptions& options);
    // The shuffle play order seeds its generator from this (the tick count by default).
    void setTickSource(std::function<uint32_t()> ticks);
    void seedShuffle(uint32_t seed);  // ShufflePlaylist's generator

    // A file, folder (recursively, hidden names skipped), playlist file, skin or URL. Returns
    // the number of entries added.
    int AddItem(const std::string& name, const AddRequest& request = {});
    // A PLS or M3U file (the content decides); the number of entries added, 0 when it cannot
    // be read or too many reads are active.
    int LoadPlaylistFile(const std::string& path, LoadOutcome* outcome = nullptr);
    // A PLS file of the whole list, written to a temporary file and renamed into place. False
    // when it could not be written (the old file is then left whole).
    bool SavePlaylistFile(const std::string& path, bool withInfo, bool warn,
                          const std::vector<std::pair<std::string, std::string>>& extra = {});

    void RemoveEntry(int index);
    void RemoveRange(int first, int last);
    void ClearPlaylist();

    void SortPlaylist();
    void ShufflePlaylist();
    void ReversePlaylist();
    // The editor's moves and sorts: newOrder[i] is the entry that comes to position i. Ignored
    // unless it names every entry once. The current and last-played entries follow.
    void ReorderPlaylist(const std::vector<int>& newOrder);
    void ToggleShuffle();
    void SetShuffle(bool on);  // ToggleShuffle when it differs
    void SetRepeatMode(int mode);  // 0 off, 1 one track, 2 all

    void BuildDisplayText(int index);
    // An input module told the entry's information.
    void ApplyModuleInfo(int index, const EntryInfo& info);

    // Play order: the entry at `position`, and the position of entry `index` (-1 outside).
    int EntryAtPosition(int position);
    int PositionOfEntry(int index);

    int size() const;
    PlaylistEntry entry(int index) const;  // a copy; empty outside the list
    std::vector<PlaylistEntry> entries() const;
    int currentIndex() const;
    void setCurrentIndex(int index);
    int lastPlayedIndex() const;
    void setLastPlayedIndex(int index);
    bool shuffle() const;
    int repeatMode() const;
    std::vector<int> playOrder() const;
    std::string externalPlaylist() const;
    void setExternalPlaylist(const std::string& path);
    bool changed() const;
    void clearChanged();

  private:
    using FileId = std::pair<unsigned long, unsigned long>;  // device, inode
    class AddScope;
    int addLocked(const std::string& name, const AddRequest& request, int depth);
    int addFolder(const std::string& folder, const AddRequest& request, int depth);
    void buildDisplayLocked(PlaylistEntry& entry) const;
    void rebuildPlayOrder();
    void swapEntries(int a, int b);
    void reorder(const std::vector<int>& newOrder);  // newOrder[i]: old index now at i
    void entriesChanged(intptr_t first, intptr_t last);
    bool valid(int index) const { return index >= 0 && index < static_cast<int>(entries_.size()); }

    PlaylistHost& host_;
    mutable std::recursive_mutex mutex_;  // guards everything below
    PlaylistOptions options_;
    std::vector<PlaylistEntry> entries_;
    int current_ = -1;
    int lastPlayed_ = -1;
    bool shuffle_ = false;
    std::vector<int> order_;  // with shuffle on: every entry index once
    int repeat_ = 0;
    std::string external_;
    bool changed_ = false;
    Random15 shuffleRandom_;
    Random15 orderRandom_;
    std::function<uint32_t()> ticks_;
    std::set<FileId> foldersSeen_;   // during one outermost AddItem: symlink loops end here
    std::set<FileId> readsActive_;   // playlist files being read: one naming itself is refused
    int addDepth_ = 0;
    int readsThisLoad_ = 0;
    std::atomic<int> activeReads_{0};
};

}  // namespace tessura
