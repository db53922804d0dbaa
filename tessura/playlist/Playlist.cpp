#include "Playlist.h"

#include "AtomicFile.h"
#include "EntryPath.h"
#include "PlaylistFile.h"
#include "TextCase.h"

#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>

namespace tessura {

namespace msg = playlist_message;

namespace {

uint32_t steadyTicks() {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// A local name relative to the working folder becomes absolute, so a playlist saved elsewhere
// still finds it.
std::string absoluteName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.front() == '\\' || isUrl(name) ||
        (name.size() >= 2 && name[1] == ':')) {
        return name;
    }
    char here[4096];
    if (!::getcwd(here, sizeof here)) return name;
    std::string full(here);
    if (full.back() != '/') full += '/';
    return full + name;
}

std::vector<std::string> visibleMembers(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* member = ::readdir(dir)) {
        if (member->d_name[0] != '.') names.emplace_back(member->d_name);
    }
    ::closedir(dir);
    // Directory order is the file system's; sorted, the same folder always adds the same way.
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

Playlist::Playlist(PlaylistHost& host, PlaylistOptions options)
    : host_(host), options_(options), shuffleRandom_(steadyTicks()), ticks_(steadyTicks) {}

void Playlist::setOptions(const PlaylistOptions& options) {
    std::lock_guard lock(mutex_);
    options_ = options;
}

void Playlist::setTickSource(std::function<uint32_t()> ticks) {
    std::lock_guard lock(mutex_);
    ticks_ = std::move(ticks);
}

void Playlist::seedShuffle(uint32_t seed) {
    std::lock_guard lock(mutex_);
    shuffleRandom_.seed(seed);
}

// The folders seen belong to one outermost add (or read), however deep it nests.
class Playlist::AddScope {
  public:
    explicit AddScope(Playlist& list) : list_(list) {
        if (list_.addDepth_++ == 0) list_.foldersSeen_.clear();
    }
    ~AddScope() {
        if (--list_.addDepth_ == 0) list_.foldersSeen_.clear();
    }
    AddScope(const AddScope&) = delete;
    AddScope& operator=(const AddScope&) = delete;

  private:
    Playlist& list_;
};

int Playlist::AddItem(const std::string& name, const AddRequest& request) {
    std::lock_guard lock(mutex_);
    AddScope scope(*this);
    return addLocked(name, request, 0);
}

int Playlist::addLocked(const std::string& given, const AddRequest& request, int depth) {
    if (given.empty() || given.size() > kMaxEntryName) return 0;
    const std::string name = absoluteName(given);
    const bool url = isUrl(name);
    if (!url) {
        struct stat info {};
        if (::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            // A playlist file names files: a folder in it ("/", say) is not walked, so a list
            // cannot make the player crawl the disk.
            if (request.fromPlaylistFile) return 0;
            // A folder reached twice (a link back up the tree) is added once.
            if (!foldersSeen_.insert({info.st_dev, info.st_ino}).second) return 0;
            return depth < kMaxFolderDepth ? addFolder(name, request, depth + 1) : 0;
        }
        const std::string extension = lowerAscii(extensionOf(name));
        if (extension == "pls" || extension == "m3u" || extension == "pl") {
            const int added = LoadPlaylistFile(name);
            if (extension == "pls" && !request.append && added > 0) external_ = name;
            return added;
        }
        if (extension == "tgf") {
            host_.loadSkin(name);
            return 0;
        }
    }
    if (!url && !options_.allowDefaultType && !host_.claimsFile(name)) return 0;
    if (!request.allowDuplicates && valid(current_) && entries_[current_].file == name) {
        if (request.existingIndex) *request.existingIndex = current_;
        return 0;
    }
    PlaylistEntry entry;
    entry.file = name;
    if (request.info) {
        entry.title = request.info->title;
        entry.author = request.info->author;
        entry.info = request.info->info;
        entry.extraInfo = request.info->extraInfo;
        entry.length = request.info->length;
    }
    buildDisplayLocked(entry);
    entries_.push_back(std::move(entry));
    const auto index = static_cast<intptr_t>(entries_.size() - 1);
    entriesChanged(index, index);
    return 1;
}

int Playlist::addFolder(const std::string& folder, const AddRequest& request, int depth) {
    int added = 0;
    for (const std::string& member : visibleMembers(folder)) {
        AddRequest inner = request;
        inner.info = nullptr;
        added += addLocked(folder + "/" + member, inner, depth);
    }
    return added;
}

int Playlist::LoadPlaylistFile(const std::string& path, LoadOutcome* outcome) {
    std::lock_guard lock(mutex_);
    AddScope scope(*this);
    struct ReadCount {
        std::atomic<int>& active;
        explicit ReadCount(std::atomic<int>& a) : active(a) { ++active; }
        ~ReadCount() { --active; }
    } count(activeReads_);
    if (count.active.load() > kMaxActiveReads) return 0;
    if (count.active.load() == 1) readsThisLoad_ = 0;
    if (++readsThisLoad_ > kMaxReadsPerLoad) return 0;

    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > kMaxPlaylistBytes) {
        return 0;
    }
    const FileId id{info.st_dev, info.st_ino};
    if (!readsActive_.insert(id).second) return 0;  // a playlist that names itself
    std::string bytes;
    const bool read = readWholeFile(path, bytes);
    int added = 0;
    if (read) {
        const PlaylistFileContent content = parsePlaylistText(bytes, folderOfPath(path));
        if (content.readable) {
            for (const PlaylistFileItem& item : content.items) {
                AddRequest inner;
                inner.allowDuplicates = true;  // a file's list stays as the file has it
                inner.fromPlaylistFile = true;
                inner.info = item.info ? &*item.info : nullptr;
                added += addLocked(item.name, inner, 0);
            }
            if (outcome) {
                outcome->autoplay = content.autoplay;
                outcome->externalPlaylist = content.externalPlaylist;
            }
        }
    }
    readsActive_.erase(id);
    return added;
}

bool Playlist::SavePlaylistFile(const std::string& path, bool withInfo, bool warn,
                                const std::vector<std::pair<std::string, std::string>>& extra) {
    std::lock_guard lock(mutex_);
    const PlsText text = serialisePls(entries_, folderOfPath(absoluteName(path)), withInfo, extra);
    const bool written = writeFileAtomically(path, text.bytes, 0644) == WriteResult::Ok;
    if (text.replacedControls && warn) {
        host_.showMessage("errors/tessurawarning", "errors/playlistwarning");
    }
    return written;
}

void Playlist::RemoveEntry(int index) {
    std::lock_guard lock(mutex_);
    if (!valid(index)) return;
    entries_.erase(entries_.begin() + index);
    if (lastPlayed_ > index) --lastPlayed_;
    else if (lastPlayed_ == index) lastPlayed_ = -1;
    if (current_ > index) {
        --current_;
    } else if (current_ == index) {
        // Playback moves on to the entry now in its place, or stops when there is none.
        const bool playing = host_.isPlaying();
        if (valid(index)) {
            if (playing) host_.playFrom(PositionOfEntry(index));
        } else {
            current_ = entries_.empty() ? -1 : static_cast<int>(entries_.size()) - 1;
            if (playing) host_.stopPlayback();
        }
    }
    entriesChanged(-1, -1);
}

void Playlist::RemoveRange(int first, int last) {
    std::lock_guard lock(mutex_);
    if (first > last) std::swap(first, last);
    first = std::max(first, 0);
    last = std::min(last, static_cast<int>(entries_.size()) - 1);
    if (first > last) return;
    const int removed = last - first + 1;
    const bool lastPlayedRemoved = lastPlayed_ >= first && lastPlayed_ <= last;
    const bool currentRemoved = current_ >= first && current_ <= last;
    entries_.erase(entries_.begin() + first, entries_.begin() + last + 1);
    auto follow = [&](int& index) {
        if (index > last) index -= removed;
        else if (index >= first) index = valid(first) ? first : static_cast<int>(entries_.size()) - 1;
    };
    follow(current_);
    const int playedBefore = lastPlayed_;
    follow(lastPlayed_);
    if (lastPlayedRemoved) {
        if (!currentRemoved && valid(current_) && current_ != playedBefore && host_.isPlaying()) {
            host_.playFrom(PositionOfEntry(current_));
        } else {
            host_.stopPlayback();
        }
        lastPlayed_ = -1;
    }
    entriesChanged(-1, -1);
}

void Playlist::ClearPlaylist() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    order_.clear();
    current_ = lastPlayed_ = -1;
    entriesChanged(-1, -1);
}

void Playlist::reorder(const std::vector<int>& newOrder) {
    std::vector<int> newIndexOf(newOrder.size());
    std::vector<PlaylistEntry> moved;
    moved.reserve(newOrder.size());
    for (std::size_t i = 0; i < newOrder.size(); ++i) {
        newIndexOf[static_cast<std::size_t>(newOrder[i])] = static_cast<int>(i);
        moved.push_back(std::move(entries_[static_cast<std::size_t>(newOrder[i])]));
    }
    entries_ = std::move(moved);
    if (valid(current_)) current_ = newIndexOf[static_cast<std::size_t>(current_)];
    if (valid(lastPlayed_)) lastPlayed_ = newIndexOf[static_cast<std::size_t>(lastPlayed_)];
    entriesChanged(-1, -1);
}

void Playlist::ReorderPlaylist(const std::vector<int>& newOrder) {
    std::lock_guard lock(mutex_);
    if (newOrder.size() != entries_.size()) return;
    std::vector<bool> seen(newOrder.size(), false);
    for (int index : newOrder) {
        if (!valid(index) || seen[static_cast<std::size_t>(index)]) return;
        seen[static_cast<std::size_t>(index)] = true;
    }
    reorder(newOrder);
}

void Playlist::swapEntries(int a, int b) {
    std::swap(entries_[static_cast<std::size_t>(a)], entries_[static_cast<std::size_t>(b)]);
    for (int* index : {&current_, &lastPlayed_}) {
        if (*index == a) *index = b;
        else if (*index == b) *index = a;
    }
}

void Playlist::SortPlaylist() {
    std::lock_guard lock(mutex_);
    // Ascending display text without regard to case. A stable sort in n log n: equal texts keep
    // their order, and a long list sorts at once.
    std::vector<std::string> keys;
    keys.reserve(entries_.size());
    for (const PlaylistEntry& e : entries_) keys.push_back(lowerAscii(e.display));
    std::vector<int> order(entries_.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return keys[static_cast<std::size_t>(a)] < keys[static_cast<std::size_t>(b)];
    });
    reorder(order);
}

void Playlist::ShufflePlaylist() {
    std::lock_guard lock(mutex_);
    const int count = static_cast<int>(entries_.size());
    if (count < 2) return;
    for (int i = 0; i < 4 * count; ++i) {
        const int a = shuffleRandom_.below(count);
        const int b = shuffleRandom_.below(count);
        swapEntries(a, b);
    }
    entriesChanged(-1, -1);
}

void Playlist::ReversePlaylist() {
    std::lock_guard lock(mutex_);
    const int count = static_cast<int>(entries_.size());
    for (int i = 0; i < count / 2; ++i) swapEntries(i, count - 1 - i);
    entriesChanged(-1, -1);
}

void Playlist::rebuildPlayOrder() {
    const int count = static_cast<int>(entries_.size());
    order_.clear();
    order_.reserve(entries_.size());
    orderRandom_.seed(ticks_());
    std::vector<int> candidates;
    candidates.reserve(entries_.size());
    const bool playing = valid(current_) && host_.isPlaying();
    if (playing) order_.push_back(current_);
    for (int i = 0; i < count; ++i) {
        if (!(playing && i == current_)) candidates.push_back(i);
    }
    while (!candidates.empty()) {
        const int pick = orderRandom_.below(static_cast<int>(candidates.size()));
        order_.push_back(candidates[static_cast<std::size_t>(pick)]);
        candidates.erase(candidates.begin() + pick);
    }
}

void Playlist::ToggleShuffle() {
    std::lock_guard lock(mutex_);
    shuffle_ = !shuffle_;
    host_.showStatus(shuffle_ ? "main/shuffleon" : "main/shuffleoff");
    if (shuffle_) rebuildPlayOrder();
    if (!host_.isPlaying()) host_.playFrom(0);
    host_.notifyEditor(msg::kStateChanged, msg::kStateShuffle, shuffle_ ? 1 : 0);
}

void Playlist::SetShuffle(bool on) {
    std::lock_guard lock(mutex_);
    if (on != shuffle_) ToggleShuffle();
}

void Playlist::SetRepeatMode(int mode) {
    std::lock_guard lock(mutex_);
    repeat_ = std::clamp(mode, 0, 2);
    host_.notifyEditor(msg::kStateChanged, msg::kStateRepeat, repeat_);
}

int Playlist::EntryAtPosition(int position) {
    std::lock_guard lock(mutex_);
    if (!valid(position)) return -1;
    if (!shuffle_) return position;
    if (order_.size() != entries_.size()) rebuildPlayOrder();
    return order_[static_cast<std::size_t>(position)];
}

int Playlist::PositionOfEntry(int index) {
    std::lock_guard lock(mutex_);
    if (!valid(index)) return -1;
    if (!shuffle_) return index;
    if (order_.size() != entries_.size()) rebuildPlayOrder();
    const auto found = std::find(order_.begin(), order_.end(), index);
    return found == order_.end() ? -1 : static_cast<int>(found - order_.begin());
}

void Playlist::buildDisplayLocked(PlaylistEntry& entry) const {
    const bool named = !entry.author.empty() || !entry.title.empty();
    if (options_.showTitleOnly && named) {
        // Author and title both present are kept apart by " - " rather than run together.
        entry.display = entry.author;
        if (!entry.author.empty() && !entry.title.empty()) entry.display += " - ";
        entry.display += entry.title;
        return;
    }
    entry.display = shownFileTitle(entry.file);
    if (!entry.author.empty()) entry.display += " - " + entry.author;
    if (!entry.title.empty()) entry.display += " - " + entry.title;
}

void Playlist::BuildDisplayText(int index) {
    std::lock_guard lock(mutex_);
    if (!valid(index)) return;
    buildDisplayLocked(entries_[static_cast<std::size_t>(index)]);
    entriesChanged(index, index);
}

void Playlist::ApplyModuleInfo(int index, const EntryInfo& info) {
    std::lock_guard lock(mutex_);
    if (!valid(index)) return;
    PlaylistEntry& entry = entries_[static_cast<std::size_t>(index)];
    entry.title = cutUtf8(info.title, kMaxInfoText);
    if (options_.underscore2Space) std::replace(entry.title.begin(), entry.title.end(), '_', ' ');
    entry.info = cutUtf8(info.info, kMaxInfoText);
    entry.extraInfo = cutUtf8(info.extraInfo, kMaxInfoText);
    if (info.length > 0) entry.length = info.length;
    entry.infoReported = true;
    buildDisplayLocked(entry);
    entriesChanged(index, index);
}

void Playlist::entriesChanged(intptr_t first, intptr_t last) {
    changed_ = true;
    host_.notifyEditor(msg::kEntriesChanged, first, last);
}

int Playlist::size() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(entries_.size());
}

PlaylistEntry Playlist::entry(int index) const {
    std::lock_guard lock(mutex_);
    return valid(index) ? entries_[static_cast<std::size_t>(index)] : PlaylistEntry{};
}

std::vector<PlaylistEntry> Playlist::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

int Playlist::currentIndex() const {
    std::lock_guard lock(mutex_);
    return current_;
}

void Playlist::setCurrentIndex(int index) {
    std::lock_guard lock(mutex_);
    current_ = valid(index) ? index : -1;
}

int Playlist::lastPlayedIndex() const {
    std::lock_guard lock(mutex_);
    return lastPlayed_;
}

void Playlist::setLastPlayedIndex(int index) {
    std::lock_guard lock(mutex_);
    lastPlayed_ = valid(index) ? index : -1;
}

bool Playlist::shuffle() const {
    std::lock_guard lock(mutex_);
    return shuffle_;
}

int Playlist::repeatMode() const {
    std::lock_guard lock(mutex_);
    return repeat_;
}

std::vector<int> Playlist::playOrder() const {
    std::lock_guard lock(mutex_);
    return order_;
}

std::string Playlist::externalPlaylist() const {
    std::lock_guard lock(mutex_);
    return external_;
}

void Playlist::setExternalPlaylist(const std::string& path) {
    std::lock_guard lock(mutex_);
    external_ = path;
}

bool Playlist::changed() const {
    std::lock_guard lock(mutex_);
    return changed_;
}

void Playlist::clearChanged() {
    std::lock_guard lock(mutex_);
    changed_ = false;
}

}  // namespace tessura
