#include "Playlist.h"

#include <algorithm>
#include <memory>
#include <random>

namespace veloraplay {

namespace {

// Counts of the candidates still left, kept in a Fenwick tree so that picking "the k-th
// remaining candidate" and removing it take log n steps. The result is the same as erasing
// from a candidate list in order, without that list's quadratic cost on long folders.
class RemainingCandidates {
  public:
    explicit RemainingCandidates(std::size_t n) : tree_(n + 1, 0) {
        for (std::size_t i = 1; i <= n; ++i) {
            tree_[i] += 1;
            const std::size_t parent = i + (i & (~i + 1));
            if (parent <= n) tree_[parent] += tree_[i];
        }
        top_ = 1;
        while (top_ * 2 <= n) top_ *= 2;
    }

    // Removes and returns the 1-based number of the candidate at 0-based index `k` among
    // those left. `k` must be below the number left.
    uint32_t take(uint32_t k) {
        std::size_t at = 0;
        uint32_t before = k;  // candidates to step over
        for (std::size_t step = top_; step > 0; step /= 2) {
            const std::size_t probe = at + step;
            if (probe < tree_.size() && tree_[probe] <= before) {
                at = probe;
                before -= tree_[probe];
            }
        }
        const std::size_t found = at + 1;
        for (std::size_t i = found; i < tree_.size(); i += i & (~i + 1)) tree_[i] -= 1;
        return static_cast<uint32_t>(found);
    }

  private:
    std::vector<uint32_t> tree_;
    std::size_t top_ = 1;
};

std::function<uint32_t()> defaultRandom() {
    auto engine = std::make_shared<std::minstd_rand>(std::random_device{}());
    return [engine] { return static_cast<uint32_t>((*engine)()); };
}

}  // namespace

Playlist::Playlist(std::function<uint32_t()> random)
    : random_(random ? std::move(random) : defaultRandom()) {}

void Playlist::rebuildOrder() {
    const uint32_t n = static_cast<uint32_t>(items_.size());
    order_.clear();
    order_.reserve(n);
    if (!shuffle_) {
        for (uint32_t i = 1; i <= n; ++i) order_.push_back(i);
        return;
    }
    RemainingCandidates candidates(n);
    // The modulo keeps every draw, however large, inside the candidates left.
    for (uint32_t remaining = n; remaining > 0; --remaining) {
        order_.push_back(candidates.take(random_() % remaining));
    }
}

void Playlist::setItems(std::vector<std::string> items, bool resetPosition) {
    if (items.size() > kMaxPlaylistItems) items.resize(kMaxPlaylistItems);
    items_ = std::move(items);
    rebuildOrder();
    if (resetPosition) {
        position_ = items_.empty() ? 0 : 1;
    } else {
        position_ = std::clamp(position_, 0, count());
    }
}

void Playlist::setShuffle(bool on) {
    shuffle_ = on;
    rebuildOrder();
}

bool Playlist::shuffle() const { return shuffle_; }

void Playlist::setRepeat(int32_t mode) {
    repeat_ = (mode == kWrap || mode == kStay) ? mode : kStopAtEnds;
}

int32_t Playlist::repeat() const { return repeat_; }

bool Playlist::next() {
    if (items_.empty()) {
        position_ = 0;
        return false;
    }
    switch (repeat_) {
        case kStay:
            return true;
        case kWrap:
            if (position_ >= count()) {
                position_ = 1;
                rebuildOrder();
            } else {
                ++position_;
            }
            return true;
        default:
            if (position_ < count()) {
                ++position_;
                return true;
            }
            position_ = 0;
            return false;
    }
}

bool Playlist::previous() {
    if (items_.empty()) {
        position_ = 0;
        return false;
    }
    switch (repeat_) {
        case kStay:
            return true;
        case kWrap:
            if (position_ == 1) {
                position_ = count();
                return true;
            }
            if (position_ > 1) {
                --position_;
                return true;
            }
            position_ = 0;
            return false;
        default:
            if (position_ > 1) {
                --position_;
                return true;
            }
            position_ = 0;
            return false;
    }
}

void Playlist::moveToEnd() { position_ = count(); }

void Playlist::rewind() {
    rebuildOrder();
    position_ = items_.empty() ? 0 : 1;
}

int32_t Playlist::position() const { return position_; }

void Playlist::setPosition(int32_t p) { position_ = std::clamp(p, 0, count()); }

uint32_t Playlist::currentNumber() const {
    if (position_ < 1 || static_cast<std::size_t>(position_) > order_.size()) return 0;
    const uint32_t number = order_[static_cast<std::size_t>(position_) - 1];
    return (number >= 1 && number <= items_.size()) ? number : 0;
}

std::string Playlist::currentItem() const {
    const uint32_t number = currentNumber();
    return number == 0 ? std::string() : items_[number - 1];
}

std::size_t Playlist::size() const { return items_.size(); }

const std::vector<std::string>& Playlist::items() const { return items_; }

const std::vector<uint32_t>& Playlist::order() const { return order_; }

const std::string& Playlist::name() const { return name_; }

void Playlist::setName(std::string name) { name_ = std::move(name); }

void Playlist::clear() {
    items_.clear();
    order_.clear();
    position_ = 0;
    name_.clear();
}

}  // namespace veloraplay
