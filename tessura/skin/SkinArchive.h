#pragma once
// Skin archives ("tgf"): the images, window regions and "/skin.ini" of one skin in one file.
//
// Two layouts share the 12-byte signature prefix "DAF\0LIST": version 1 ("DAF\0LIST\0\0\0\0")
// with fixed 100-byte directory entries, and version 2 ("DAF\0LISTREV2") with variable-length
// entries and a base offset under every member's data. Integers are little-endian.
//
// A skin comes from anywhere, so nothing in the file is trusted: the directory must lie inside
// the file, every name must be NUL-terminated inside its field, every member's bytes must lie
// inside the file (no wrap-around of offset + size), an unpacked size is capped before any
// allocation, and a compressed member must inflate to exactly its unpacked size. A member that
// fails any of this reads as missing.
#include "IniParser.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessura {

using SkinBytes = std::vector<std::uint8_t>;

class SkinArchive {
  public:
    // The largest file read as an archive, and the largest member it hands out.
    static constexpr std::size_t kMaxArchiveSize = 256u << 20;
    static constexpr std::uint32_t kMaxMemberSize = 64u << 20;

    struct Entry {
        std::string name;          // "" for a member identified by number
        std::uint32_t number = 0;  // version 2 members identified by number
        bool byNumber = false;
        bool compressed = false;
        std::uint64_t offset = 0;  // from the start of the file (the base already added)
        std::uint32_t storedSize = 0;
        std::uint32_t unpackedSize = 0;
    };

    // The archive in `bytes` (the whole file), or nothing when its signature or directory
    // does not read.
    static std::optional<SkinArchive> FromBytes(std::string bytes);

    int Version() const { return version_; }
    const std::vector<Entry>& Entries() const { return entries_; }

    // The unpacked size of the member `name` (exact, case-sensitive; of two members with one
    // name the later), or nothing when it is missing or its extent is unusable.
    std::optional<std::uint32_t> MemberSize(std::string_view name) const;
    // The member's unpacked bytes, or nothing (missing, damaged, or a size that does not match).
    std::optional<SkinBytes> ReadMember(std::string_view name) const;
    // Member `index` of Entries(), read the same way.
    std::optional<SkinBytes> ReadEntry(std::size_t index) const;

  private:
    SkinArchive() = default;
    const Entry* find(std::string_view name) const;
    bool parseVersion1();
    bool parseVersion2();
    bool usable(const Entry& entry) const;

    std::string bytes_;
    std::vector<Entry> entries_;
    int version_ = 0;
};

// Opens the archive at `path`. A relative path is tried under `programDir` first, then as
// given; '\' written on Windows reads as '/'.
std::optional<SkinArchive> OpenSkinArchive(const std::string& path, const std::string& programDir);

// A member written "archive|member"; without '|' the whole text is the member and the
// archive is empty (the current skin).
struct SkinMemberRef {
    std::string archive, member;
};
SkinMemberRef SplitSkinMember(std::string_view reference);
std::string JoinSkinMember(std::string_view archive, std::string_view member);  // "%s|%s"

// The bytes of "archive|member"; a reference without '|' is a member of `currentSkin`.
std::optional<SkinBytes> ReadSkinFile(std::string_view reference, const std::string& currentSkin,
                                      const std::string& programDir);

// "/skin.ini" of `archive` parsed in memory; nothing when the member is missing or damaged.
std::unique_ptr<INIParser> ReadSkinIni(const SkinArchive& archive);

}  // namespace tessura
