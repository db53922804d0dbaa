#pragma once
// Writes skin archives of both layouts for tests and fuzz seeds, with every field overridable
// so that damaged archives can be made on purpose.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <zlib.h>

namespace tessura::test {

struct TestMember {
    TestMember(std::string n, std::string d, bool packed = false)
        : name(std::move(n)), data(std::move(d)), compress(packed) {}
    // Damage: the field written instead of its true value.
    TestMember& at(std::uint32_t v) { offset = v; return *this; }
    TestMember& stored(std::uint64_t v) { storedSize = std::uint32_t(v); return *this; }
    TestMember& unpacked(std::uint32_t v) { unpackedSize = v; return *this; }
    TestMember& nameField(std::string bytes) { rawName = std::move(bytes); return *this; }
    // Version 2: identified by number instead of name.
    TestMember& numbered(std::uint32_t v) { number = v; return *this; }

    std::string name;
    std::string data;
    bool compress = false;
    std::optional<std::uint32_t> number;
    std::optional<std::uint32_t> offset, storedSize, unpackedSize;
    std::optional<std::string> rawName;  // the name field's bytes as written (version 1: 84)
};

inline std::string Deflate(const std::string& data) {
    uLongf length = compressBound(data.size());
    std::string out(length, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &length,
              reinterpret_cast<const Bytef*>(data.data()), data.size(), 9);
    out.resize(length);
    return out;
}

inline void PutLe(std::string& out, std::size_t at, std::uint64_t value, int width) {
    if (out.size() < at + width) out.resize(at + width, '\0');
    for (int i = 0; i < width; ++i) out[at + i] = char((value >> (8 * i)) & 0xff);
}
inline void AppendLe(std::string& out, std::uint64_t value, int width) { PutLe(out, out.size(), value, width); }

// `padding` bytes of filler sit between the directory and the data of a version 2 archive,
// which then begins the data at a base above the directory's end.
inline std::string WriteSkinArchive(int version, const std::vector<TestMember>& members,
                                    std::size_t padding = 0) {
    std::vector<std::string> stored;
    for (const TestMember& m : members) stored.push_back(m.compress ? Deflate(m.data) : m.data);

    std::string out;
    std::vector<std::size_t> offsetFields;  // where each entry's offset is written
    std::size_t base = 0;
    if (version == 1) {
        out.assign("DAF\0LIST\0\0\0\0", 12);
        PutLe(out, 12, 108 + 100 * members.size(), 4);
        PutLe(out, 104, members.size(), 4);
        for (std::size_t i = 0; i < members.size(); ++i) {
            const TestMember& m = members[i];
            const std::size_t at = 108 + 100 * i;
            PutLe(out, at, m.compress ? 1 : 0, 4);
            std::string field = m.rawName ? *m.rawName : m.name;
            field.resize(84, '\0');
            out.resize(at + 100, '\0');
            out.replace(at + 4, 84, field);
            offsetFields.push_back(at + 88);
            PutLe(out, at + 92, m.storedSize.value_or(stored[i].size()), 4);
            PutLe(out, at + 96, m.unpackedSize.value_or(m.data.size()), 4);
        }
    } else {
        out.assign("DAF\0LISTREV2", 12);
        PutLe(out, 44, members.size(), 4);
        for (std::size_t i = 0; i < members.size(); ++i) {
            const TestMember& m = members[i];
            AppendLe(out, (m.compress ? 1 : 0) | (m.number ? 2 : 0), 2);
            if (m.number) {
                AppendLe(out, *m.number, 4);
            } else if (m.rawName) {
                out += *m.rawName;
            } else {
                out += m.name;
                out += '\0';
            }
            offsetFields.push_back(out.size());
            AppendLe(out, 0, 4);
            AppendLe(out, m.storedSize.value_or(stored[i].size()), 4);
            AppendLe(out, m.unpackedSize.value_or(m.data.size()), 4);
        }
        out.append(padding, '\x5a');
        base = out.size();
        PutLe(out, 12, base, 4);
    }
    for (std::size_t i = 0; i < members.size(); ++i) {
        PutLe(out, offsetFields[i], members[i].offset.value_or(out.size() - base), 4);
        out += stored[i];
    }
    return out;
}

}  // namespace tessura::test
