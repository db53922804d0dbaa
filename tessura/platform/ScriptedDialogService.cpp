#include "ScriptedDialogService.h"

#include "AtomicFile.h"
#include "TextCase.h"

#include <utility>

namespace tessura {

bool ScriptedDialogService::loadScript(const std::string& path) {
    std::string bytes;
    if (!readWholeFile(path, bytes)) return false;
    std::size_t start = 0;
    while (start <= bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = end + 1;
        if (line.empty() || line.front() == '#') continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        addAnswer(line.substr(0, equals), line.substr(equals + 1));
    }
    return true;
}

void ScriptedDialogService::addAnswer(std::string match, std::string answer) {
    lines_.push_back({std::move(match), std::move(answer), false});
}

const std::string* ScriptedDialogService::take(
    const std::vector<const std::string*>& identities) {
    for (Line& line : lines_) {
        if (line.used) continue;
        for (const std::string* identity : identities) {
            if (identity->empty()) continue;
            const bool keyMatch = equalsNoCase(*identity, line.match);
            const bool prefixMatch = identity->compare(0, line.match.size(), line.match) == 0;
            if (keyMatch || (!line.match.empty() && prefixMatch)) {
                line.used = true;
                return &line.answer;
            }
        }
    }
    return nullptr;
}

Answer ScriptedDialogService::message(const MessageRequest& request) {
    shown_.push_back(request.title + " | " + request.text);
    const std::string* scripted =
        take({&request.titleKey, &request.textKey, &request.title, &request.text});
    Answer answer = safeAnswer(request.buttons);
    if (scripted) {
        const auto named = answerFromName(*scripted);
        if (named && offers(request.buttons, *named)) answer = *named;
    }
    if (log_) {
        std::fprintf(log_, "tessura dialog: \"%s\" / \"%s\" -> %s%s\n", request.title.c_str(),
                     request.text.c_str(), answerName(answer), scripted ? "" : " (no answer given)");
    }
    return answer;
}

std::vector<std::string> ScriptedDialogService::chooseFiles(const FileRequest& request) {
    shown_.push_back(request.title);
    const std::string* scripted = take({&request.titleKey, &request.title});
    std::vector<std::string> files;
    if (scripted) {
        std::size_t start = 0;
        while (start <= scripted->size()) {
            std::size_t end = scripted->find('|', start);
            if (end == std::string::npos) end = scripted->size();
            if (end > start) files.push_back(scripted->substr(start, end - start));
            start = end + 1;
        }
    }
    if (log_) {
        std::fprintf(log_, "tessura file dialog: \"%s\" -> %s\n", request.title.c_str(),
                     files.empty() ? "cancelled" : files.front().c_str());
    }
    return files;
}

std::optional<std::string> ScriptedDialogService::askText(const TextRequest& request) {
    shown_.push_back(request.title + " | " + request.text);
    const std::string* scripted = take({&request.textKey, &request.titleKey, &request.text, &request.title});
    if (log_) {
        std::fprintf(log_, "tessura question: \"%s\" / \"%s\" -> %s\n", request.title.c_str(), request.text.c_str(),
                     scripted ? scripted->c_str() : "cancelled (no answer given)");
    }
    if (!scripted) return std::nullopt;
    return *scripted;
}

}  // namespace tessura
