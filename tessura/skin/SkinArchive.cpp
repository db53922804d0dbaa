#include "SkinArchive.h"

#include "ProgramFolder.h"

#include <cstring>
#include <fstream>
#include <zlib.h>

namespace tessura {
namespace {

constexpr char kSignature1[12] = {'D', 'A', 'F', '\0', 'L', 'I', 'S', 'T', '\0', '\0', '\0', '\0'};
constexpr char kSignature2[12] = {'D', 'A', 'F', '\0', 'L', 'I', 'S', 'T', 'R', 'E', 'V', '2'};

constexpr std::size_t kV1Header = 108, kV1Entry = 100, kV1NameField = 84;
constexpr std::size_t kV2Header = 48, kV2NameField = 80;
constexpr std::size_t kV2SmallestEntry = 2 + 1 + 12;  // flags, an empty name, three sizes
// Deflate cannot expand data by more than this factor; a larger claimed unpacked size is a lie
// that would otherwise cost an allocation before the stream proves it wrong.
constexpr std::uint64_t kMaxInflateRatio = 1032;

std::uint32_t le32(const std::string& b, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint16_t le16(const std::string& b, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return std::uint16_t(p[0] | p[1] << 8);
}

std::optional<std::string> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    const std::streamoff size = in.tellg();
    if (size < 0 || std::uint64_t(size) > SkinArchive::kMaxArchiveSize) return std::nullopt;
    std::string bytes(std::size_t(size), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), size)) return std::nullopt;
    return bytes;
}

}  // namespace

std::optional<SkinArchive> SkinArchive::FromBytes(std::string bytes) {
    SkinArchive archive;
    archive.bytes_ = std::move(bytes);
    const std::string& b = archive.bytes_;
    if (b.size() < sizeof kSignature1) return std::nullopt;
    if (std::memcmp(b.data(), kSignature1, sizeof kSignature1) == 0) {
        archive.version_ = 1;
        if (!archive.parseVersion1()) return std::nullopt;
    } else if (std::memcmp(b.data(), kSignature2, sizeof kSignature2) == 0) {
        archive.version_ = 2;
        if (!archive.parseVersion2()) return std::nullopt;
    } else {
        return std::nullopt;
    }
    return archive;
}

// Fixed-size entries: one whose name field holds no NUL is skipped (its name is unknowable),
// the others stay readable. The size field at 12 is not needed to find anything and is not
// trusted; the extent the count implies must fit in the file.
bool SkinArchive::parseVersion1() {
    const std::string& b = bytes_;
    if (b.size() < kV1Header) return false;
    const std::uint64_t count = le32(b, 104);
    if (kV1Header + count * kV1Entry > b.size()) return false;
    entries_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = kV1Header + i * kV1Entry;
        const char* name = b.data() + at + 4;
        const void* nul = std::memchr(name, '\0', kV1NameField);
        if (!nul) continue;
        Entry e;
        e.compressed = (le32(b, at) & 1u) != 0;
        e.name.assign(name, static_cast<const char*>(nul));
        e.offset = le32(b, at + 88);
        e.storedSize = le32(b, at + 92);
        e.unpackedSize = le32(b, at + 96);
        entries_.push_back(std::move(e));
    }
    return true;
}

// Variable-length entries: a name without a NUL in its 80 bytes leaves the rest of the
// directory unlocatable, so the archive is refused.
bool SkinArchive::parseVersion2() {
    const std::string& b = bytes_;
    if (b.size() < kV2Header) return false;
    const std::uint64_t base = le32(b, 12);
    const std::uint64_t count = le32(b, 44);
    if (base > b.size() || count > (b.size() - kV2Header) / kV2SmallestEntry) return false;
    entries_.reserve(count);
    std::size_t at = kV2Header;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (b.size() - at < 2) return false;
        Entry e;
        const std::uint16_t flags = le16(b, at);
        at += 2;
        e.compressed = (flags & 1u) != 0;
        e.byNumber = (flags & 2u) != 0;
        if (e.byNumber) {
            if (b.size() - at < 4) return false;
            e.number = le32(b, at);
            at += 4;
        } else {
            const std::size_t field = std::min(kV2NameField, b.size() - at);
            const void* nul = std::memchr(b.data() + at, '\0', field);
            if (!nul) return false;
            e.name.assign(b.data() + at, static_cast<const char*>(nul));
            at += e.name.size() + 1;
        }
        if (b.size() - at < 12) return false;
        e.offset = base + le32(b, at);
        e.storedSize = le32(b, at + 4);
        e.unpackedSize = le32(b, at + 8);
        at += 12;
        entries_.push_back(std::move(e));
    }
    return true;
}

bool SkinArchive::usable(const Entry& e) const {
    // offset < 2^33 and storedSize < 2^32: the sum cannot wrap in 64 bits.
    if (e.offset + e.storedSize > bytes_.size()) return false;
    if (e.unpackedSize > kMaxMemberSize) return false;
    if (!e.compressed) return e.storedSize == e.unpackedSize;
    return e.unpackedSize <= std::uint64_t(e.storedSize) * kMaxInflateRatio;
}

const SkinArchive::Entry* SkinArchive::find(std::string_view name) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (!it->byNumber && it->name == name) return &*it;
    return nullptr;
}

std::optional<std::uint32_t> SkinArchive::MemberSize(std::string_view name) const {
    const Entry* e = find(name);
    if (!e || !usable(*e)) return std::nullopt;
    return e->unpackedSize;
}

std::optional<SkinBytes> SkinArchive::ReadMember(std::string_view name) const {
    const Entry* e = find(name);
    if (!e) return std::nullopt;
    return ReadEntry(std::size_t(e - entries_.data()));
}

std::optional<SkinBytes> SkinArchive::ReadEntry(std::size_t index) const {
    if (index >= entries_.size()) return std::nullopt;
    const Entry& e = entries_[index];
    if (!usable(e)) return std::nullopt;
    const auto* data = reinterpret_cast<const Bytef*>(bytes_.data() + e.offset);
    if (!e.compressed) return SkinBytes(data, data + e.storedSize);
    // uncompress succeeds only at the stream's end; a stream that would give more than the
    // buffer holds fails, one that gives less reports its shorter length.
    SkinBytes out(e.unpackedSize);
    uLongf length = e.unpackedSize;
    Bytef probe = 0;  // zlib wants a real buffer even for an empty member
    Bytef* dest = out.empty() ? &probe : out.data();
    if (uncompress(dest, &length, data, e.storedSize) != Z_OK || length != e.unpackedSize)
        return std::nullopt;
    return out;
}

std::optional<SkinArchive> OpenSkinArchive(const std::string& path, const std::string& programDir) {
    const std::string unixPath = withSlashes(path);
    const bool rooted = !unixPath.empty() && unixPath.front() == '/';
    const bool driveLetter = path.size() >= 2 && path[1] == ':';
    std::optional<std::string> bytes;
    if (!rooted && !driveLetter && !programDir.empty())
        bytes = readWholeFile(programDir + "/" + unixPath);
    if (!bytes) bytes = readWholeFile(unixPath);
    if (!bytes) return std::nullopt;
    return SkinArchive::FromBytes(std::move(*bytes));
}

SkinMemberRef SplitSkinMember(std::string_view reference) {
    const std::size_t bar = reference.find('|');
    if (bar == std::string_view::npos) return {std::string(), std::string(reference)};
    return {std::string(reference.substr(0, bar)), std::string(reference.substr(bar + 1))};
}

std::string JoinSkinMember(std::string_view archive, std::string_view member) {
    std::string joined(archive);
    joined += '|';
    joined += member;
    return joined;
}

std::optional<SkinBytes> ReadSkinFile(std::string_view reference, const std::string& currentSkin,
                                      const std::string& programDir) {
    const SkinMemberRef ref = SplitSkinMember(reference);
    const auto archive = OpenSkinArchive(ref.archive.empty() ? currentSkin : ref.archive, programDir);
    if (!archive) return std::nullopt;
    return archive->ReadMember(ref.member);
}

std::unique_ptr<INIParser> ReadSkinIni(const SkinArchive& archive) {
    const auto bytes = archive.ReadMember("/skin.ini");
    if (!bytes) return nullptr;
    auto ini = std::make_unique<INIParser>();
    const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    if (ini->OpenMemory(text) < 0) return nullptr;
    return ini;
}

}  // namespace tessura
