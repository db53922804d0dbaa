#pragma once
// The playlist editor's model: its rows, the selection and the editing commands over the
// playlist, and what each change notification asks the view to redraw. The selection is kept
// here (not in the widget) so it stays sane after every change, whoever made it.
#include "Playlist.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessura::ui {

struct EditorRow {
    int number = 0;      // shown from 1
    std::string text;    // the display text, else the file name
    std::string length;  // "m:ss", "h:mm:ss", empty when unknown
    bool current = false;
    bool selected = false;
};

// What the view has to redraw after a change.
struct EditorUpdate {
    bool reset = false;            // the rows themselves changed: rebuild the view's model
    int first = -1, last = -1;     // else these rows' contents (first <= last), none when -1
    bool status = false;           // the summary line (count, total length, shuffle, repeat)
    bool operator==(const EditorUpdate&) const = default;
};

enum class SelectHow { Only, Range, Toggle };  // a plain click, Shift, Ctrl
enum class SortKey { Title, FileName };

// "m:ss", or "h:mm:ss" from an hour on; empty for an unknown (negative) length.
std::string EntryLengthText(int seconds);

class PlaylistEditing {
  public:
    // `play` starts a position in play order (the player's playPosition).
    PlaylistEditing(Playlist& list, std::function<void(int position)> play);

    int rowCount() const { return static_cast<int>(selected_.size()); }
    EditorRow row(int index) const;
    // "12 entries, 43:10" and so on is the view's; these are its numbers.
    int totalSeconds() const;  // known lengths only
    bool someLengthUnknown() const;

    // Selection. The cursor is the row the keyboard acts on; the anchor is where a Shift range
    // starts.
    void select(int row, SelectHow how);
    void moveCursor(int step, bool extend);  // Up/Down, Page keys, Home/End (clamped)
    void selectAll();
    void clearSelection();
    std::vector<int> selectedRows() const;
    int cursor() const { return cursor_; }
    bool isSelected(int row) const;

    // Editing. Each returns what to redraw (the playlist's own notifications follow too).
    EditorUpdate removeSelected();
    EditorUpdate moveSelected(int step);  // -1 up, +1 down; a block at the edge stays put
    EditorUpdate sort(SortKey key);
    EditorUpdate reverse();
    EditorUpdate shuffle();
    EditorUpdate clear();
    // Plays the row (Enter, a double click); false outside the list.
    bool play(int row);
    bool playCursor() { return play(cursor_); }

    // The playlist's notifications (codes of playlist_message).
    EditorUpdate notify(uint32_t code, intptr_t wparam, intptr_t lparam);
    // The current entry may have moved (a new track began): the rows whose highlight changed.
    EditorUpdate followCurrent();

  private:
    void resync();  // the list's length changed under us: clamp the selection
    void selectOnly(int row);
    EditorUpdate afterReorder(const std::vector<int>& newOrder);  // newOrder[i]: old row now at i

    Playlist& list_;
    std::function<void(int)> play_;
    std::vector<bool> selected_;  // one per row
    int cursor_ = -1;
    int anchor_ = -1;
    int shownCurrent_ = -1;  // the entry drawn as current
};

}  // namespace tessura::ui
