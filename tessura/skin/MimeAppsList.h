#pragma once
// The user's default handlers ($XDG_CONFIG_HOME/mimeapps.list), edited in place: only the
// lines of the "[Default Applications]" entries we set or remove change; every other line is
// kept byte for byte.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessura {

class MimeAppsList {
  public:
    void load(std::string_view text);
    std::string text() const;

    // The default handlers of `mimeType` as written ("a.desktop;b.desktop;"), if any.
    std::optional<std::string> defaultFor(std::string_view mimeType) const;
    // The first desktop entry of the defaults ("a.desktop"), "" when none.
    std::string firstDefaultFor(std::string_view mimeType) const;
    void setDefault(std::string_view mimeType, std::string_view handlers);
    void removeDefault(std::string_view mimeType);

  private:
    // Index of the "[Default Applications]" header and of `mimeType`'s line in it (npos: none).
    std::size_t sectionLine() const;
    std::size_t keyLine(std::string_view mimeType) const;

    std::vector<std::string> lines_;  // without their line ends
    bool finalNewline_ = true;
};

}  // namespace tessura
