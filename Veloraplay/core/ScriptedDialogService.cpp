#include "ScriptedDialogService.h"

#include "AtomicFile.h"
#include "TextUtil.h"

#include <cctype>
#include <sstream>

namespace veloraplay {
namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct ParsedAnswer {
    bool hasButton = false;
    DialogButton button = DialogButton::Cancel;
    bool checked = false;
};

ParsedAnswer parseButtons(const std::string& answer) {
    static const struct {
        const char* word;
        DialogButton button;
    } kWords[] = {{"ok", DialogButton::Ok},        {"cancel", DialogButton::Cancel},
                  {"yes", DialogButton::Yes},      {"no", DialogButton::No},
                  {"retry", DialogButton::Retry},  {"abort", DialogButton::Abort},
                  {"ignore", DialogButton::Ignore}};
    ParsedAnswer parsed;
    std::string words = answer;
    for (char& c : words) {
        if (c == ',' || c == '+') c = ' ';
    }
    std::istringstream in(words);
    std::string word;
    while (in >> word) {
        word = lower(word);
        if (word == "checked" || word == "ticked") {
            parsed.checked = true;
            continue;
        }
        for (const auto& w : kWords) {
            if (word == w.word) {
                parsed.hasButton = true;
                parsed.button = w.button;
            }
        }
    }
    return parsed;
}

}  // namespace

ScriptedDialogService::ScriptedDialogService(std::FILE* log) : log_(log) {}

bool ScriptedDialogService::loadScript(const std::string& path) {
    std::string text;
    if (!readWholeFile(path, text)) return false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::string t = trimmed(line);
        if (t.empty() || t[0] == '#') continue;
        const auto eq = t.find('=');
        if (eq == std::string::npos) continue;
        addAnswer(trimmed(t.substr(0, eq)), trimmed(t.substr(eq + 1)));
    }
    return true;
}

void ScriptedDialogService::addAnswer(const std::string& key, const std::string& answer) {
    entries_.push_back(Entry{key, answer, false});
}

const std::string* ScriptedDialogService::take(const std::string& title, const std::string& text) {
    ++shown_;
    for (Entry& entry : entries_) {
        if (entry.used || entry.key.empty()) continue;
        if (entry.key == title || text.compare(0, entry.key.size(), entry.key) == 0) {
            entry.used = true;
            return &entry.answer;
        }
    }
    return nullptr;
}

void ScriptedDialogService::log(const std::string& title, const std::string& text,
                                const std::string& answer, bool scripted) {
    if (!log_) return;
    std::fprintf(log_, "veloraplay: dialog \"%s\": %s -> %s%s\n", title.c_str(), text.c_str(),
                 answer.c_str(), scripted ? "" : " (no answer given)");
    std::fflush(log_);
}

DialogButton ScriptedDialogService::messageBox(const MessageBoxRequest& request) {
    const std::string* answer = take(request.title, request.text);
    DialogButton button = safeDefault(request.buttons);
    bool scripted = false;
    if (answer) {
        const ParsedAnswer parsed = parseButtons(*answer);
        if (parsed.hasButton && offers(request.buttons, parsed.button)) {
            button = parsed.button;
            scripted = true;
        }
    }
    log(request.title, request.text, buttonName(button), scripted);
    return button;
}

QuestionAnswer ScriptedDialogService::question(const QuestionRequest& request) {
    const std::string* answer = take(request.title, request.text);
    QuestionAnswer result{safeDefault(request.buttons), false};
    bool scripted = false;
    if (answer) {
        const ParsedAnswer parsed = parseButtons(*answer);
        if (parsed.hasButton && offers(request.buttons, parsed.button)) {
            result = QuestionAnswer{parsed.button, parsed.checked};
            scripted = true;
        }
    }
    log(request.title, request.text,
        std::string(buttonName(result.button)) + (result.checked ? ", checked" : ""), scripted);
    return result;
}

std::optional<std::string> ScriptedDialogService::chooseFile(const FileDialogRequest& request) {
    const std::string* answer = take(request.title, request.title);
    const bool cancel = !answer || answer->empty() || lower(*answer) == "cancel";
    log(request.title, request.save ? "save file" : "open file", cancel ? "Cancel" : *answer,
        answer != nullptr);
    if (cancel) return std::nullopt;
    // A name typed without an extension takes the default one, as the on-screen dialog does.
    if (request.save) return withDefaultExtension(*answer, request.defaultExtension);
    return *answer;
}

std::optional<std::string> ScriptedDialogService::chooseFolder(const std::string& title,
                                                               const std::string&) {
    const std::string* answer = take(title, title);
    const bool cancel = !answer || answer->empty() || lower(*answer) == "cancel";
    log(title, "choose folder", cancel ? "Cancel" : *answer, answer != nullptr);
    if (cancel) return std::nullopt;
    return *answer;
}

}  // namespace veloraplay
