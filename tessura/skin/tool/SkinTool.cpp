#include "SkinTool.h"

#include "AtomicFile.h"
#include "SkinArchive.h"
#include "SkinCheck.h"
#include "SkinWriter.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <sys/stat.h>

namespace tessura {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHelp =
    "Usage: tessura-skin COMMAND ...\n"
    "Makes, lists, unpacks and checks tessura skin archives (.tgf).\n"
    "\n"
    "  create DIR ARCHIVE    pack every file below DIR into ARCHIVE; DIR/jpeg/misc becomes\n"
    "                        the member \"/jpeg/misc\" (version 2 layout, zlib where it helps)\n"
    "  list ARCHIVE          one line per member: stored and unpacked size, packing, name\n"
    "  extract ARCHIVE DIR   write each member below DIR; names with \"..\" or empty parts are\n"
    "                        refused, so nothing is written outside DIR\n"
    "  check ARCHIVE         what the player would use of each member, image, region and\n"
    "                        /skin.ini key, what it would take from the default skin or its\n"
    "                        built-in values instead, and why\n"
    "  --help                this text\n"
    "\n"
    "Exit status: 0 ok, 1 bad input (unreadable or damaged archive, refused names, check found\n"
    "damage), 2 wrong usage.\n";

int usage(std::ostream& err, const std::string& why) {
    err << "tessura-skin: " << why << "\n" << "Try 'tessura-skin --help'.\n";
    return kSkinToolUsage;
}

std::optional<SkinArchive> openArchive(const std::string& path, std::ostream& err, std::string* bytes = nullptr) {
    std::string data;
    if (!readWholeFile(path, data)) {
        err << "tessura-skin: cannot read " << path << "\n";
        return std::nullopt;
    }
    if (bytes) *bytes = data;
    auto archive = SkinArchive::FromBytes(std::move(data));
    if (!archive) err << "tessura-skin: " << path << " is not a skin archive (signature or directory unreadable)\n";
    return archive;
}

int create(const std::string& dir, const std::string& archivePath, std::ostream& out, std::ostream& err) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        err << "tessura-skin: " << dir << " is not a folder\n";
        return kSkinToolBadInput;
    }
    std::vector<std::string> files;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file() && !it->is_symlink()) files.push_back(fs::relative(it->path(), dir).generic_string());
    }
    if (ec) {
        err << "tessura-skin: cannot read " << dir << ": " << ec.message() << "\n";
        return kSkinToolBadInput;
    }
    std::sort(files.begin(), files.end());  // the same folder always packs to the same bytes
    std::vector<SkinArchiveMember> members;
    for (const std::string& rel : files) {
        std::string data;
        if (!readWholeFile(dir + "/" + rel, data)) {
            err << "tessura-skin: cannot read " << rel << "\n";
            return kSkinToolBadInput;
        }
        members.push_back({"/" + rel, SkinBytes(data.begin(), data.end())});
    }
    std::string why;
    const auto bytes = WriteSkinArchiveV2(members, &why);
    if (!bytes) {
        err << "tessura-skin: " << why << "\n";
        return kSkinToolBadInput;
    }
    if (writeFileAtomically(archivePath, *bytes, 0644) != WriteResult::Ok) {
        err << "tessura-skin: cannot write " << archivePath << "\n";
        return kSkinToolBadInput;
    }
    out << archivePath << ": " << members.size() << " members, " << bytes->size() << " bytes\n";
    return kSkinToolOk;
}

std::string displayName(const SkinArchive::Entry& e) {
    if (!e.byNumber) return e.name;
    std::string name = "#";
    name += std::to_string(e.number);
    return name;
}

int list(const std::string& path, std::ostream& out, std::ostream& err) {
    std::string bytes;
    const auto archive = openArchive(path, err, &bytes);
    if (!archive) return kSkinToolBadInput;
    out << "version " << archive->Version() << ", " << archive->Entries().size() << " members\n";
    bool damaged = false;
    const auto& entries = archive->Entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const SkinArchive::Entry& e = entries[i];
        const auto problem = MemberProblem(*archive, i, bytes.size());
        char line[64];
        std::snprintf(line, sizeof line, "%10u %10u %-6s ", e.storedSize, e.unpackedSize,
                      e.compressed ? "zlib" : "stored");
        out << line << displayName(e);
        if (problem) {
            out << "  (" << *problem << ")";
            damaged = damaged || problem->rfind("shadowed", 0) != 0;
        }
        out << "\n";
    }
    return damaged ? kSkinToolBadInput : kSkinToolOk;
}

// The path below `dir` for a member name, or why there is none. Member names begin with '/';
// that '/' is the top of DIR, and every further part must be an ordinary name.
std::optional<std::string> safeRelativePath(const std::string& name, std::string* why) {
    if (name.size() < 2 || name.front() != '/') {
        *why = "does not begin with '/' and a name";
        return std::nullopt;
    }
    const std::string rel = name.substr(1);
    std::size_t start = 0;
    while (start <= rel.size()) {
        const std::size_t slash = std::min(rel.find('/', start), rel.size());
        const std::string part = rel.substr(start, slash - start);
        if (part.empty()) {
            *why = "has an empty part (a leading or doubled '/')";
            return std::nullopt;
        }
        if (part == "." || part == "..") {
            *why = "has a '" + part + "' part that would leave the target folder";
            return std::nullopt;
        }
        start = slash + 1;
    }
    return rel;
}

// Creates the folders of `rel` below `dir`; false when one exists as something else (a link
// planted there could lead outside).
bool makeParents(const std::string& dir, const std::string& rel) {
    std::string path = dir;
    std::size_t start = 0;
    for (std::size_t slash; (slash = rel.find('/', start)) != std::string::npos; start = slash + 1) {
        path += '/';
        path.append(rel, start, slash - start);
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) return false;
        } else if (::mkdir(path.c_str(), 0755) != 0) {
            return false;
        }
    }
    return true;
}

int extract(const std::string& path, const std::string& dir, std::ostream& out, std::ostream& err) {
    const auto archive = openArchive(path, err);
    if (!archive) return kSkinToolBadInput;
    if (!makeFolders(dir, 0755)) {
        err << "tessura-skin: cannot create " << dir << "\n";
        return kSkinToolBadInput;
    }
    // Of two members with one name the reader finds the later; that is the one written.
    std::map<std::string, std::size_t> last;
    const auto& entries = archive->Entries();
    bool failed = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].byNumber) {
            err << "tessura-skin: skipped member " << displayName(entries[i]) << ": it has no name\n";
            failed = true;
            continue;
        }
        last[entries[i].name] = i;
    }
    std::size_t written = 0;
    for (const auto& [name, index] : last) {
        std::string why;
        const auto rel = safeRelativePath(name, &why);
        if (!rel) {
            err << "tessura-skin: refused member \"" << name << "\": its name " << why << "\n";
            failed = true;
            continue;
        }
        const auto data = archive->ReadEntry(index);
        if (!data) {
            err << "tessura-skin: skipped member " << name << ": it does not read (damaged)\n";
            failed = true;
            continue;
        }
        const std::string target = dir + "/" + *rel;
        if (!makeParents(dir, *rel) ||
            writeFileAtomically(target, std::string_view(reinterpret_cast<const char*>(data->data()), data->size()),
                                0644) != WriteResult::Ok) {
            err << "tessura-skin: cannot write " << target << "\n";
            failed = true;
            continue;
        }
        ++written;
    }
    out << written << " members written to " << dir << "\n";
    return failed ? kSkinToolBadInput : kSkinToolOk;
}

}  // namespace

int RunSkinTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) return usage(err, "no command given");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        out << kHelp;
        return kSkinToolOk;
    }
    auto needs = [&](std::size_t n) { return args.size() == n + 1; };
    if (command == "create") {
        if (!needs(2)) return usage(err, "create takes DIR and ARCHIVE");
        return create(args[1], args[2], out, err);
    }
    if (command == "list") {
        if (!needs(1)) return usage(err, "list takes ARCHIVE");
        return list(args[1], out, err);
    }
    if (command == "extract") {
        if (!needs(2)) return usage(err, "extract takes ARCHIVE and DIR");
        return extract(args[1], args[2], out, err);
    }
    if (command == "check") {
        if (!needs(1)) return usage(err, "check takes ARCHIVE");
        std::string bytes;
        const auto archive = openArchive(args[1], err, &bytes);
        if (!archive) return kSkinToolBadInput;
        const SkinCheckSummary summary = CheckSkin(*archive, bytes.size(), out);
        return summary.damaged ? kSkinToolBadInput : kSkinToolOk;
    }
    return usage(err, "unknown command '" + command + "'");
}

}  // namespace tessura
