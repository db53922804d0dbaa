#pragma once
// The list of files the player window walks with Next and Previous (its current folder
// list): the items in insertion order, a play order over them (straight or shuffled), a
// 1-based position in that order and the repeat mode that decides what happens at the ends.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace veloraplay {

// The most items a list holds; setItems and the playlist readers drop the rest. The position
// is an int32 and the order uint32, and a list this long is already far beyond any folder.
inline constexpr std::size_t kMaxPlaylistItems = 1u << 20;

class Playlist {
  public:
    enum Repeat : int32_t { kStopAtEnds = 0, kWrap = 1, kStay = 2 };

    // `random` stands for rand(): the shuffle draws random() % remaining. Without one, a
    // std::minstd_rand seeded once from std::random_device is used.
    explicit Playlist(std::function<uint32_t()> random = {});

    // Replaces the items (at most kMaxPlaylistItems, empty strings kept as they are) and
    // builds a new play order. With `resetPosition` the position becomes 1 (0 when empty),
    // otherwise it is clamped to the new count.
    void setItems(std::vector<std::string> items, bool resetPosition);

    // Stores the flag and builds a new play order; the position stays.
    void setShuffle(bool on);
    bool shuffle() const;
    // A mode outside 0..2 is taken as kStopAtEnds.
    void setRepeat(int32_t mode);
    int32_t repeat() const;

    // True when there is an item to play at the new position. An empty list gives false in
    // every mode. kStay: true, position unchanged. kWrap: past the last position to 1 with a
    // new play order. kStopAtEnds: past the last position to 0 and false.
    bool next();
    // kStay: true. kWrap: from 1 to the last position (order kept). kStopAtEnds: from 1
    // to 0 and false. From position 0 both of the latter give 0 and false.
    bool previous();
    void moveToEnd();                // position := size
    void rewind();                   // position 1 (0 when empty) with a new play order
    int32_t position() const;        // 1-based, 0 = before first / past end
    void setPosition(int32_t p);     // clamped 0..size
    uint32_t currentNumber() const;  // order[position-1] or 0
    std::string currentItem() const; // or ""
    std::size_t size() const;
    const std::vector<std::string>& items() const;
    const std::vector<uint32_t>& order() const;
    const std::string& name() const;
    void setName(std::string name);
    // Empties the list: no items, no order, position 0 and no name (the name belongs to the
    // folder the items came from). Repeat mode and shuffle stay, they are the user's choice.
    void clear();

  private:
    void rebuildOrder();
    int32_t count() const { return static_cast<int32_t>(items_.size()); }

    std::function<uint32_t()> random_;
    int32_t repeat_ = kStopAtEnds;
    int32_t position_ = 0;
    bool shuffle_ = false;
    std::vector<std::string> items_;
    std::vector<uint32_t> order_;
    std::string name_;
};

}  // namespace veloraplay
