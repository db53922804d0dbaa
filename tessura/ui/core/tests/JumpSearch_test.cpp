// The jump dialog's search: which entries the words find, and how the highlight moves.
#include "JumpSearch.h"

#include <gtest/gtest.h>

namespace tessura::ui {
namespace {

PlaylistEntry entry(std::string display, std::string file) {
    PlaylistEntry e;
    e.display = std::move(display);
    e.file = std::move(file);
    return e;
}

std::vector<PlaylistEntry> someEntries() {
    return {entry("Harbour lights", "/music/harbour lights.mp3"),
            entry("Night ferry - The Tides", "/music/night ferry.mp3"),
            entry("FERRY CROSSING", "/music/x/crossing.mp3"),
            entry("Unknown", "/music/Track07.mp3"),
            entry("", "http://radio.example/ferrystream")};
}

TEST(JumpSearch, EveryWordMustAppearInTheTextOrTheFileName) {
    const struct {
        const char* query;
        std::vector<int> found;
    } cases[] = {
        {"ferry", {1, 2, 4}},          // any case, the address's name too
        {"FERRY night", {1}},          // every word, in any order
        {"crossing ferry", {2}},
        {"tides lights", {}},          // two entries' words are no one entry's
        {"track07", {3}},              // the file name alone
        {"music", {}},                 // the folder is not the name
        {"", {0, 1, 2, 3, 4}},         // nothing typed: everything
        {"   ", {0, 1, 2, 3, 4}},
        {"  harbour\tLIGHTS ", {0}},   // blanks and tabs between words
        {"ferryx", {}},
    };
    for (const auto& c : cases) {
        JumpSearch search(someEntries());
        search.setQuery(c.query);
        EXPECT_EQ(search.matches(), c.found) << '"' << c.query << '"';
        EXPECT_EQ(search.chosenEntry(), c.found.empty() ? -1 : c.found.front()) << c.query;
    }
}

TEST(JumpSearch, TheHighlightMovesThroughTheResultsAndFollowsItsEntry) {
    enum Op { Type, Move };
    const struct {
        const char* what;
        int current;
        std::vector<std::pair<Op, std::string>> steps;  // typed text, or a step count
        int chosen;
        std::string text;
    } cases[] = {
        {"opens on the current entry", 3, {}, 3, "4. Unknown"},
        {"down twice in the results", -1, {{Type, "ferry"}, {Move, "1"}, {Move, "1"}}, 4, "5. ferrystream"},
        {"down past the end stays on the last", -1, {{Type, "ferry"}, {Move, "9"}}, 4, "5. ferrystream"},
        {"up past the start stays on the first", -1, {{Type, "ferry"}, {Move, "1"}, {Move, "-5"}}, 1,
         "2. Night ferry - The Tides"},
        {"narrowing keeps the highlighted entry while it matches", -1,
         {{Type, "ferry"}, {Move, "1"}, {Type, "ferry cross"}}, 2, "3. FERRY CROSSING"},
        {"narrowing past it goes to the first match", -1, {{Type, "ferry"}, {Move, "1"}, {Type, "ferry night"}}, 1,
         "2. Night ferry - The Tides"},
        {"no match: nothing to play", 2, {{Type, "zzz"}, {Move, "1"}}, -1, ""},
    };
    for (const auto& c : cases) {
        JumpSearch search(someEntries(), c.current);
        for (const auto& [op, arg] : c.steps) {
            if (op == Type) search.setQuery(arg);
            else search.move(std::stoi(arg));
        }
        EXPECT_EQ(search.chosenEntry(), c.chosen) << c.what;
        EXPECT_EQ(search.resultText(search.highlighted()), c.text) << c.what;
    }
}

}  // namespace
}  // namespace tessura::ui
