#pragma once
// Message boxes and file dialogs of tessura, reached only through this interface: the logic
// that asks runs without widgets, tests answer from a script, and the windows put up the real
// dialogs.
#include <optional>
#include <string>
#include <vector>

namespace tessura {

enum class Answer { Ok, Cancel, Yes, No };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };

struct MessageRequest {
    std::string title;     // as shown (translated)
    std::string text;      // as shown (translated)
    std::string titleKey;  // the language keys they came from, "" for literal texts
    std::string textKey;
    Buttons buttons = Buttons::Ok;
};

struct FileRequest {
    std::string title;
    std::string titleKey;
    std::vector<std::string> filters;  // "Playlists (*.pls)" and the like
    std::string initialPath;
    bool save = false;
};

// A question answered with a line of text ("Enter Preset Name").
struct TextRequest {
    std::string title, text;
    std::string titleKey, textKey;
    std::string initial;  // the text offered
};

class DialogService {
  public:
    virtual ~DialogService() = default;
    virtual Answer message(const MessageRequest& request) = 0;
    // The chosen files (several for a multiple-selection open dialog); empty when cancelled.
    virtual std::vector<std::string> chooseFiles(const FileRequest& request) = 0;
    // The line typed; empty when cancelled.
    virtual std::optional<std::string> askText(const TextRequest& request) = 0;
};

// What a dialog nobody answered gives: Cancel or No when offered, else OK.
Answer safeAnswer(Buttons buttons);
bool offers(Buttons buttons, Answer answer);
const char* answerName(Answer answer);
std::optional<Answer> answerFromName(const std::string& name);

}  // namespace tessura
