#include "SkinWriter.h"

#include <algorithm>
#include <zlib.h>

namespace tessura {
namespace {

constexpr std::size_t kHeaderSize = 48;
constexpr std::size_t kMaxNameBytes = 79;

void appendLe(std::string& out, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out += char((value >> (8 * i)) & 0xff);
}
void putLe(std::string& out, std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out[at + std::size_t(i)] = char((value >> (8 * i)) & 0xff);
}

std::optional<std::string> deflated(const SkinBytes& data) {
    uLongf length = compressBound(uLong(data.size()));
    std::string out(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &length, data.data(), uLong(data.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        return std::nullopt;
    out.resize(length);
    return out;
}

void appendS16(SkinBytes& out, int value) {
    const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
    out.push_back(std::uint8_t(v & 0xff));
    out.push_back(std::uint8_t(v >> 8));
}

bool fits16(int v) { return v >= INT16_MIN && v <= INT16_MAX; }

}  // namespace

std::optional<std::string> SkinMemberNameProblem(const std::string& name) {
    if (name.empty()) return "an empty name";
    if (name.size() > kMaxNameBytes) return "a name longer than 79 bytes";
    if (name.find('\0') != std::string::npos) return "a name with a NUL byte";
    if (name.front() != '/') return "a name that does not begin with '/'";
    return std::nullopt;
}

std::optional<std::string> WriteSkinArchiveV2(const std::vector<SkinArchiveMember>& members,
                                              std::string* error) {
    auto fail = [&](std::string why) -> std::optional<std::string> {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    std::string directory, data;
    for (const SkinArchiveMember& m : members) {
        if (const auto problem = SkinMemberNameProblem(m.name)) return fail(m.name + ": " + *problem);
        if (m.data.size() > SkinArchive::kMaxMemberSize) return fail(m.name + ": larger than a member may be");
        const auto packed = deflated(m.data);
        if (!packed) return fail(m.name + ": zlib could not compress it");
        const bool compress = packed->size() < m.data.size();
        appendLe(directory, compress ? 1 : 0, 2);
        directory += m.name;
        directory += '\0';
        appendLe(directory, data.size(), 4);
        appendLe(directory, compress ? packed->size() : m.data.size(), 4);
        appendLe(directory, m.data.size(), 4);
        if (compress)
            data += *packed;
        else
            data.append(m.data.begin(), m.data.end());
        if (kHeaderSize + directory.size() + data.size() > SkinArchive::kMaxArchiveSize)
            return fail("the archive would be larger than a skin may be");
    }
    std::string out("DAF\0LISTREV2", 12);
    out.resize(kHeaderSize, '\0');
    putLe(out, 12, kHeaderSize + directory.size(), 4);
    putLe(out, 44, members.size(), 4);
    out += directory;
    out += data;
    return out;
}

std::optional<SkinBytes> EncodeSkinRegion(const std::vector<SkinRect>& rects) {
    if (rects.size() > 0xffff) return std::nullopt;
    SkinRect bounds{};
    bool first = true;
    for (const SkinRect& r : rects) {
        if (!fits16(r.left) || !fits16(r.top) || !fits16(r.right) || !fits16(r.bottom)) return std::nullopt;
        if (r.right <= r.left || r.bottom <= r.top) continue;
        if (first) {
            bounds = r;
            first = false;
        } else {
            bounds = {std::min(bounds.left, r.left), std::min(bounds.top, r.top),
                      std::max(bounds.right, r.right), std::max(bounds.bottom, r.bottom)};
        }
    }
    SkinBytes out;
    out.push_back(std::uint8_t(rects.size() & 0xff));
    out.push_back(std::uint8_t(rects.size() >> 8));
    for (int v : {bounds.left, bounds.top, bounds.right, bounds.bottom}) appendS16(out, v);
    for (const SkinRect& r : rects)
        for (int v : {r.left, r.top, r.right, r.bottom}) appendS16(out, v);
    return out;
}

}  // namespace tessura
