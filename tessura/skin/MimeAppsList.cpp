#include "MimeAppsList.h"

#include "TextCase.h"

namespace tessura {

namespace {
constexpr std::string_view kSection = "[Default Applications]";

bool isHeader(std::string_view line) {
    line = stripBlanks(line);
    return !line.empty() && line.front() == '[';
}

std::string_view keyOf(std::string_view line) {
    const auto equals = line.find('=');
    return equals == std::string_view::npos ? std::string_view() : stripBlanks(line.substr(0, equals));
}
}  // namespace

void MimeAppsList::load(std::string_view text) {
    lines_.clear();
    finalNewline_ = text.empty() || text.back() == '\n';
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines_.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string MimeAppsList::text() const {
    std::string out;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i];
        if (i + 1 < lines_.size() || finalNewline_) out += '\n';
    }
    return out;
}

std::size_t MimeAppsList::sectionLine() const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (stripBlanks(lines_[i]) == kSection) return i;
    }
    return std::string::npos;
}

std::size_t MimeAppsList::keyLine(std::string_view mimeType) const {
    const std::size_t header = sectionLine();
    if (header == std::string::npos) return std::string::npos;
    for (std::size_t i = header + 1; i < lines_.size() && !isHeader(lines_[i]); ++i) {
        if (equalsNoCase(keyOf(lines_[i]), mimeType)) return i;
    }
    return std::string::npos;
}

std::optional<std::string> MimeAppsList::defaultFor(std::string_view mimeType) const {
    const std::size_t line = keyLine(mimeType);
    if (line == std::string::npos) return std::nullopt;
    const std::string& text = lines_[line];
    return std::string(stripBlanks(std::string_view(text).substr(text.find('=') + 1)));
}

std::string MimeAppsList::firstDefaultFor(std::string_view mimeType) const {
    const auto handlers = defaultFor(mimeType);
    if (!handlers) return {};
    return std::string(stripBlanks(handlers->substr(0, handlers->find(';'))));
}

void MimeAppsList::setDefault(std::string_view mimeType, std::string_view handlers) {
    const std::string line = std::string(mimeType) + "=" + std::string(handlers);
    const std::size_t existing = keyLine(mimeType);
    if (existing != std::string::npos) {
        lines_[existing] = line;
        return;
    }
    std::size_t header = sectionLine();
    if (header == std::string::npos) {
        if (!lines_.empty() && !stripBlanks(lines_.back()).empty()) lines_.emplace_back();
        lines_.emplace_back(kSection);
        header = lines_.size() - 1;
        finalNewline_ = true;
    }
    // After the section's last entry, before the blank lines that end it.
    std::size_t at = header + 1;
    for (std::size_t i = header + 1; i < lines_.size() && !isHeader(lines_[i]); ++i) {
        if (!stripBlanks(lines_[i]).empty()) at = i + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), line);
}

void MimeAppsList::removeDefault(std::string_view mimeType) {
    const std::size_t existing = keyLine(mimeType);
    if (existing != std::string::npos) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(existing));
}

}  // namespace tessura
