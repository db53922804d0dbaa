#include "JumpSearch.h"

#include "TextCase.h"

#include <algorithm>

namespace tessura::ui {

namespace {

std::vector<std::string_view> wordsOf(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) break;
        std::size_t end = text.find_first_of(" \t", start);
        if (end == std::string_view::npos) end = text.size();
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    return words;
}

std::string_view fileNameOf(std::string_view file) {
    const std::size_t slash = file.find_last_of("/\\");
    return slash == std::string_view::npos ? file : file.substr(slash + 1);
}

}  // namespace

bool JumpMatches(std::string_view query, const PlaylistEntry& entry) {
    const std::string_view name = fileNameOf(entry.file);
    for (std::string_view word : wordsOf(query))
        if (!containsNoCase(entry.display, word) && !containsNoCase(name, word)) return false;
    return true;
}

JumpSearch::JumpSearch(std::vector<PlaylistEntry> entries, int current) : entries_(std::move(entries)) {
    setQuery("");
    // Opened on the entry that plays, so the list starts where the listener is.
    if (current >= 0 && current < entryCount()) highlight_ = current;
}

void JumpSearch::setQuery(std::string query) {
    const int before = chosenEntry();
    query_ = std::move(query);
    matches_.clear();
    for (int i = 0; i < entryCount(); ++i)
        if (JumpMatches(query_, entries_[static_cast<std::size_t>(i)])) matches_.push_back(i);
    const auto kept = std::find(matches_.begin(), matches_.end(), before);
    if (before >= 0 && kept != matches_.end()) highlight_ = static_cast<int>(kept - matches_.begin());
    else highlight_ = matches_.empty() ? -1 : 0;
}

std::string JumpSearch::resultText(int match) const {
    if (match < 0 || match >= static_cast<int>(matches_.size())) return {};
    const int index = matches_[static_cast<std::size_t>(match)];
    const PlaylistEntry& e = entries_[static_cast<std::size_t>(index)];
    const std::string shown = e.display.empty() ? std::string(fileNameOf(e.file)) : e.display;
    return std::to_string(index + 1) + ". " + shown;
}

void JumpSearch::highlight(int match) {
    if (matches_.empty()) {
        highlight_ = -1;
        return;
    }
    highlight_ = std::clamp(match, 0, static_cast<int>(matches_.size()) - 1);
}

void JumpSearch::move(int step) { highlight(highlight_ < 0 ? 0 : highlight_ + step); }

int JumpSearch::chosenEntry() const {
    if (highlight_ < 0 || highlight_ >= static_cast<int>(matches_.size())) return -1;
    return matches_[static_cast<std::size_t>(highlight_)];
}

}  // namespace tessura::ui
