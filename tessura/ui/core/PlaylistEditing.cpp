#include "PlaylistEditing.h"

#include "TextCase.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

namespace tessura::ui {

namespace msg = playlist_message;

namespace {

// The last part of a path or address ('\' too, for lists written on Windows).
std::string fileNameOf(const std::string& file) {
    const std::size_t slash = file.find_last_of("/\\");
    if (slash == std::string::npos) return file;
    if (slash + 1 == file.size()) return file;  // "http://host/": the whole address says more
    return file.substr(slash + 1);
}

}  // namespace

std::string EntryLengthText(int seconds) {
    if (seconds < 0) return {};
    char text[32];
    const int hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
    if (hours > 0) std::snprintf(text, sizeof text, "%d:%02d:%02d", hours, minutes, rest);
    else std::snprintf(text, sizeof text, "%d:%02d", minutes, rest);
    return text;
}

PlaylistEditing::PlaylistEditing(Playlist& list, std::function<void(int position)> play)
    : list_(list), play_(std::move(play)) {
    resync();
    shownCurrent_ = list_.currentIndex();
    // Opened on the entry that plays, so Enter replays it and the view shows it.
    if (rowCount() > 0) selectOnly(shownCurrent_ >= 0 && shownCurrent_ < rowCount() ? shownCurrent_ : 0);
}

EditorRow PlaylistEditing::row(int index) const {
    EditorRow r;
    const PlaylistEntry e = list_.entry(index);
    r.number = index + 1;
    r.text = e.display.empty() ? fileNameOf(e.file) : e.display;
    r.length = EntryLengthText(e.length);
    r.current = index == list_.currentIndex();
    r.selected = isSelected(index);
    return r;
}

int PlaylistEditing::totalSeconds() const {
    int total = 0;
    for (const PlaylistEntry& e : list_.entries())
        if (e.length > 0) total += e.length;
    return total;
}

bool PlaylistEditing::someLengthUnknown() const {
    const std::vector<PlaylistEntry> all = list_.entries();
    return std::any_of(all.begin(), all.end(), [](const PlaylistEntry& e) { return e.length < 0; });
}

// -- selection ---------------------------------------------------------------------------------

bool PlaylistEditing::isSelected(int row) const {
    return row >= 0 && row < rowCount() && selected_[static_cast<std::size_t>(row)];
}

std::vector<int> PlaylistEditing::selectedRows() const {
    std::vector<int> rows;
    for (int i = 0; i < rowCount(); ++i)
        if (selected_[static_cast<std::size_t>(i)]) rows.push_back(i);
    return rows;
}

void PlaylistEditing::selectOnly(int row) {
    std::fill(selected_.begin(), selected_.end(), false);
    if (row < 0 || row >= rowCount()) {
        cursor_ = anchor_ = -1;
        return;
    }
    selected_[static_cast<std::size_t>(row)] = true;
    cursor_ = anchor_ = row;
}

void PlaylistEditing::select(int row, SelectHow how) {
    resync();
    if (row < 0 || row >= rowCount()) return;
    switch (how) {
        case SelectHow::Only: selectOnly(row); break;
        case SelectHow::Range: {
            if (anchor_ < 0) anchor_ = row;
            std::fill(selected_.begin(), selected_.end(), false);
            for (int i = std::min(anchor_, row); i <= std::max(anchor_, row); ++i) selected_[static_cast<std::size_t>(i)] = true;
            cursor_ = row;
            break;
        }
        case SelectHow::Toggle:
            selected_[static_cast<std::size_t>(row)] = !selected_[static_cast<std::size_t>(row)];
            cursor_ = anchor_ = row;
            break;
    }
}

void PlaylistEditing::moveCursor(int step, bool extend) {
    resync();
    const int n = rowCount();
    if (n == 0) return;
    const int from = cursor_ < 0 ? (step > 0 ? -1 : n) : cursor_;
    const int target = std::clamp(from + step, 0, n - 1);
    if (extend) select(target, SelectHow::Range);
    else selectOnly(target);
}

void PlaylistEditing::selectAll() {
    resync();
    std::fill(selected_.begin(), selected_.end(), true);
    if (cursor_ < 0 && rowCount() > 0) cursor_ = anchor_ = 0;
}

void PlaylistEditing::clearSelection() { std::fill(selected_.begin(), selected_.end(), false); }

void PlaylistEditing::resync() {
    const int n = list_.size();
    if (n == rowCount()) return;
    selected_.resize(static_cast<std::size_t>(n), false);
    if (n == 0) {
        cursor_ = anchor_ = -1;
        return;
    }
    if (cursor_ >= n) cursor_ = n - 1;
    if (anchor_ >= n) anchor_ = n - 1;
    // Rows the selection lost at the end leave the cursor's row selected rather than nothing.
    if (cursor_ >= 0 && selectedRows().empty()) selected_[static_cast<std::size_t>(cursor_)] = true;
}

// -- editing -----------------------------------------------------------------------------------

EditorUpdate PlaylistEditing::removeSelected() {
    resync();
    const std::vector<int> rows = selectedRows();
    if (rows.empty()) return {};
    // Runs from the end, so the rows still to remove keep their numbers.
    std::size_t end = rows.size();
    while (end > 0) {
        std::size_t begin = end - 1;
        while (begin > 0 && rows[begin - 1] == rows[begin] - 1) --begin;
        list_.RemoveRange(rows[begin], rows[end - 1]);
        end = begin;
    }
    selected_.assign(static_cast<std::size_t>(list_.size()), false);
    // The row that took the first removed one's place is next in line.
    selectOnly(std::min(rows.front(), rowCount() - 1));
    shownCurrent_ = list_.currentIndex();
    return {true, -1, -1, true};
}

EditorUpdate PlaylistEditing::afterReorder(const std::vector<int>& newOrder) {
    // The selection, cursor and anchor follow their entries.
    std::vector<bool> selected(newOrder.size(), false);
    int cursor = -1, anchor = -1;
    for (std::size_t i = 0; i < newOrder.size(); ++i) {
        const int old = newOrder[i];
        selected[i] = isSelected(old);
        if (old == cursor_) cursor = static_cast<int>(i);
        if (old == anchor_) anchor = static_cast<int>(i);
    }
    selected_ = std::move(selected);
    cursor_ = cursor;
    anchor_ = anchor;
    shownCurrent_ = list_.currentIndex();
    return {true, -1, -1, true};
}

EditorUpdate PlaylistEditing::moveSelected(int step) {
    resync();
    const std::vector<int> rows = selectedRows();
    const int n = rowCount();
    if (rows.empty() || step == 0) return {};
    if ((step < 0 && rows.front() == 0) || (step > 0 && rows.back() == n - 1)) return {};
    std::vector<int> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    // Each selected row changes place with its neighbour; going up from the top row down (and
    // down from the bottom up) keeps a selected block together.
    if (step < 0) {
        for (int r : rows) std::swap(order[static_cast<std::size_t>(r - 1)], order[static_cast<std::size_t>(r)]);
    } else {
        for (auto it = rows.rbegin(); it != rows.rend(); ++it)
            std::swap(order[static_cast<std::size_t>(*it)], order[static_cast<std::size_t>(*it + 1)]);
    }
    list_.ReorderPlaylist(order);
    return afterReorder(order);
}

EditorUpdate PlaylistEditing::sort(SortKey key) {
    resync();
    const std::vector<PlaylistEntry> all = list_.entries();
    if (static_cast<int>(all.size()) != rowCount() || all.size() < 2) return {};
    std::vector<std::string> keys;
    keys.reserve(all.size());
    for (const PlaylistEntry& e : all) keys.push_back(lowerAscii(key == SortKey::Title ? e.display : fileNameOf(e.file)));
    std::vector<int> order(all.size());
    std::iota(order.begin(), order.end(), 0);
    // Stable and without regard to case, as the playlist's own sort: equal names keep their order.
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return keys[static_cast<std::size_t>(a)] < keys[static_cast<std::size_t>(b)];
    });
    list_.ReorderPlaylist(order);
    return afterReorder(order);
}

EditorUpdate PlaylistEditing::reverse() {
    resync();
    const int n = rowCount();
    if (n < 2) return {};
    list_.ReversePlaylist();
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) order[static_cast<std::size_t>(i)] = n - 1 - i;
    return afterReorder(order);
}

EditorUpdate PlaylistEditing::shuffle() {
    resync();
    if (rowCount() < 2) return {};
    list_.ShufflePlaylist();
    // The shuffle does not say where each entry went: the selection goes to the current entry.
    const int current = list_.currentIndex();
    selectOnly(current >= 0 && current < rowCount() ? current : 0);
    shownCurrent_ = current;
    return {true, -1, -1, true};
}

EditorUpdate PlaylistEditing::clear() {
    if (list_.size() == 0 && rowCount() == 0) return {};
    list_.ClearPlaylist();
    selected_.clear();
    cursor_ = anchor_ = -1;
    shownCurrent_ = -1;
    return {true, -1, -1, true};
}

bool PlaylistEditing::play(int row) {
    resync();
    if (row < 0 || row >= rowCount()) return false;
    const int position = list_.PositionOfEntry(row);
    if (position < 0) return false;
    if (!isSelected(row) || cursor_ != row) selectOnly(row);
    if (play_) play_(position);
    return true;
}

// -- notifications -----------------------------------------------------------------------------

EditorUpdate PlaylistEditing::followCurrent() {
    const int current = list_.currentIndex();
    if (current == shownCurrent_) return {};
    EditorUpdate u;
    for (int r : {shownCurrent_, current}) {
        if (r < 0 || r >= rowCount()) continue;
        u.first = u.first < 0 ? r : std::min(u.first, r);
        u.last = std::max(u.last, r);
    }
    shownCurrent_ = current;
    return u;
}

EditorUpdate PlaylistEditing::notify(uint32_t code, intptr_t wparam, intptr_t lparam) {
    const bool sameLength = list_.size() == rowCount();
    switch (code) {
        case msg::kEntriesChanged: {
            if (sameLength && wparam >= 0 && lparam >= wparam && lparam < rowCount()) {
                // One entry's information: its row, and the total length below.
                EditorUpdate u = followCurrent();
                u.first = u.first < 0 ? static_cast<int>(wparam) : std::min(u.first, static_cast<int>(wparam));
                u.last = std::max(u.last, static_cast<int>(lparam));
                u.status = true;
                return u;
            }
            resync();
            shownCurrent_ = list_.currentIndex();
            return {true, -1, -1, true};
        }
        case msg::kRefresh: {
            if (!sameLength) return notify(msg::kEntriesChanged, -1, -1);
            followCurrent();
            if (rowCount() == 0) return {false, -1, -1, true};
            return {false, 0, rowCount() - 1, true};
        }
        case msg::kStateChanged:
            switch (wparam) {
                case msg::kStatePlaying:
                case msg::kStateStopped:
                case msg::kStatePaused: return followCurrent();
                case msg::kStateRepeat:
                case msg::kStateShuffle: {
                    EditorUpdate u = followCurrent();
                    u.status = true;
                    return u;
                }
                default: return {};  // the volume is not the editor's
            }
        default: return {};
    }
}

}  // namespace tessura::ui
