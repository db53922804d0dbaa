#pragma once
// The tag editor under the library tree: shows the 128-byte tag of the selected file and
// writes the edited fields back. Editing is off for a missing, read-only or WAVE file and
// while the library's "Lock File Info Editing" is on. A tag is added only to a file that is
// MPEG audio; a file that already ends in one has it rewritten in place.
#include <string>
#include <vector>

#include "DialogService.h"

namespace veloraplay {

// The control values, texts in UTF-8.
struct InfoFields {
    std::string title, artist, album, year, comment;
    std::string track;  // as typed; empty = keep what the tag has
    int genre = -1;     // table index of the chosen genre, -1 = none chosen
};

class InfoEditorModel {
  public:
    enum class UpdateResult {
        Written,
        NotEditable,  // no file, locked, or not editable: nothing tried
        Refused,      // bad track number, or no tag and not MPEG audio (message shown)
        Failed,       // open, read or write failed (message shown)
    };

    explicit InfoEditorModel(DialogService& dialogs);

    // Loads the tag (or a WAVE file's INFO texts) of `path`; "" clears and disables.
    void show(const std::string& path);
    // Writes the fields into the file's tag; on success shows the file again, so the
    // fields hold what was stored.
    UpdateResult update();

    const std::string& path() const { return path_; }
    InfoFields& fields() { return fields_; }
    const InfoFields& fields() const { return fields_; }

    void setLocked(bool locked) { locked_ = locked; }
    bool locked() const { return locked_; }
    bool editable() const { return editable_; }
    bool hasTag() const { return hasTag_; }
    bool genreEnabled() const { return editable_; }
    bool updateEnabled() const { return editable_ && !locked_; }
    // The genre byte of the shown tag (also when it names no genre), -1 without a tag.
    int storedGenre() const { return storedGenre_; }

    // All genre names in the order the drop-down shows them (alphabetical, ignoring case).
    static std::vector<std::string> sortedGenreNames();

    static constexpr const char* kMessageTitle = "veloraplay";

  private:
    void fail(int error);
    void refuse(const std::string& text);

    DialogService& dialogs_;
    std::string path_;
    InfoFields fields_;
    bool editable_ = false;
    bool locked_ = false;
    bool hasTag_ = false;
    int storedGenre_ = -1;
};

// The write failure's text: "Couldn't write to file PATH (000D)."
std::string writeFailureText(const std::string& path, int error);

}  // namespace veloraplay
