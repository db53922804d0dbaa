#include "LanguageStore.h"

#include "AtomicFile.h"
#include "TextCase.h"

#include <algorithm>
#include <dirent.h>
#include <utility>

namespace tessura {

namespace {

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> filesWithExtension(const std::string& directory,
                                            const std::string& extension) {
    std::vector<std::string> files;
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return files;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const auto dot = name.rfind('.');
        if (dot == std::string::npos || !equalsNoCase(name.substr(dot + 1), extension)) continue;
        const std::string path = directory + "/" + name;
        if (fileExists(path)) files.push_back(path);
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end());
    return files;
}

std::string formatArgText(const FormatArg& arg) {
    if (const auto* n = std::get_if<long long>(&arg)) return std::to_string(*n);
    if (const auto* d = std::get_if<double>(&arg)) return std::to_string(*d);
    return std::string(std::get<std::string_view>(arg));
}

}  // namespace

std::string fillWord(std::string_view format, std::string_view word) {
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        const char next = format[++i];
        if (next == 's') out += word;
        else if (next == '%') out += '%';
    }
    return out;
}

LanguageStore::LanguageStore(std::shared_ptr<ErrorService> errors) : errors_(std::move(errors)) {}

LanguageStore::Translation LanguageStore::fromElement(const XmlElement& element) {
    Translation t;
    t.loaded = true;
    if (const XmlElement* name = element.child("Language")) t.name = trimmed(name->text);
    if (const XmlElement* resource = element.child("resource")) {
        const std::string word = trimmed(resource->text);
        if (!word.empty()) t.resource = word;
    }
    if (const XmlElement* help = element.child("help")) {
        const std::string word = trimmed(help->text);
        if (!word.empty()) t.help = word;
    }
    for (const XmlElement& item : element.children) {
        if (!equalsNoCase(item.name, "item")) continue;
        const std::string* key = item.attribute("name");
        if (key) t.items.emplace(lowerAscii(*key), item.text);
    }
    return t;
}

std::vector<LanguageFileError> LanguageStore::LoadLanguageList(const std::string& directory,
                                                               const std::string& extension) {
    std::vector<LanguageFileError> errors;
    languages_.clear();
    for (const std::string& path : filesWithExtension(directory, extension)) {
        std::string bytes;
        XmlElement document;
        XmlParser parser(errors_);
        const std::string name = baseName(path);
        const bool read = readWholeFile(path, bytes);
        if (!read || !parser.Parse(bytes, name, document)) {
            LanguageFileError error;
            error.fileName = name;
            error.title = fillWord("Error loading language file '%s'", name);
            error.text = read && !parser.ErrorText().empty()
                             ? "Couldn't parse XML : " + parser.ErrorText()
                             : std::string("Couldn't parse XML - unknown error.");
            errors.push_back(std::move(error));
            continue;
        }
        for (const XmlElement& element : document.children) {
            if (!equalsNoCase(element.name, "Translation")) continue;
            Translation t = fromElement(element);
            if (t.name.empty()) continue;
            languages_.push_back({path, t.name});
            if (!fallback_.loaded && equalsNoCase(t.name, kFallbackLanguage)) {
                fallback_ = std::move(t);
            }
        }
    }
    return errors;
}

int LanguageStore::SelectLanguage(std::string_view name) {
    const auto offered = std::find_if(languages_.begin(), languages_.end(),
                                      [&](const Language& l) { return equalsNoCase(l.name, name); });
    if (offered == languages_.end()) return kNotOffered;
    std::string bytes;
    XmlElement document;
    XmlParser parser(errors_);
    if (!readWholeFile(offered->path, bytes) ||
        !parser.Parse(bytes, baseName(offered->path), document)) {
        return kFileNoLongerParses;
    }
    for (const XmlElement& element : document.children) {
        if (!equalsNoCase(element.name, "Translation")) continue;
        const XmlElement* language = element.child("Language");
        if (language && equalsNoCase(trimmed(language->text), name)) {
            selected_ = fromElement(element);
            return kSelected;
        }
    }
    return kNoSuchTranslation;
}

const std::string* LanguageStore::find(const Translation& t, std::string_view key) {
    const auto found = t.items.find(lowerAscii(key));
    return found == t.items.end() ? nullptr : &found->second;
}

std::string LanguageStore::Text(std::string_view key, bool fallback) const {
    if (const std::string* text = find(selected_, key)) return *text;
    if (fallback) {
        if (const std::string* text = find(fallback_, key)) return *text;
    }
    return std::string(key);
}

std::string LanguageStore::Format(std::string_view key,
                                  std::initializer_list<FormatArg> args) const {
    const std::span<const FormatArg> values(args.begin(), args.size());
    for (const Translation* t : {&selected_, &fallback_}) {
        if (const std::string* format = find(*t, key)) {
            if (auto text = formatChecked(*format, values)) return *text;
        }
    }
    std::string shown(key);
    for (const FormatArg& arg : args) {
        shown += ' ';
        shown += formatArgText(arg);
    }
    return shown;
}

std::string LanguageStore::ResourceName(std::string_view format) const {
    return fillWord(format, selected_.loaded ? selected_.resource : std::string("english"));
}

std::string LanguageStore::HelpName(std::string_view format) const {
    return fillWord(format, selected_.loaded ? selected_.help : std::string("help"));
}

}  // namespace tessura
