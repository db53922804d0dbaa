#pragma once
// The jump dialog's search: the words typed pick the entries to offer, in list order, and the
// keys move a highlight through them until Enter plays the highlighted one.
#include "PlaylistEntry.h"

#include <string>
#include <string_view>
#include <vector>

namespace tessura::ui {

// Every word of `query` (split at blanks) appears, without regard to case, in the entry's
// display text or in its file's name. An empty query matches everything.
bool JumpMatches(std::string_view query, const PlaylistEntry& entry);

class JumpSearch {
  public:
    // The entries as they were when the dialog opened.
    explicit JumpSearch(std::vector<PlaylistEntry> entries, int current = -1);

    // A new text in the search line. The highlight stays on its entry while that still
    // matches, else goes to the first match.
    void setQuery(std::string query);
    const std::string& query() const { return query_; }

    const std::vector<int>& matches() const { return matches_; }  // entry indices, list order
    int entryCount() const { return static_cast<int>(entries_.size()); }
    // "12. Night ferry" for result number `match`.
    std::string resultText(int match) const;

    int highlighted() const { return highlight_; }  // index into matches(), -1 when none
    void highlight(int match);                       // clamped to the results
    void move(int step);                             // Up/Down, Page keys; clamped
    // The entry Enter plays: the highlighted match's entry, -1 when there is none.
    int chosenEntry() const;

  private:
    std::vector<PlaylistEntry> entries_;
    std::string query_;
    std::vector<int> matches_;
    int highlight_ = -1;
};

}  // namespace tessura::ui
