#pragma once
// Message boxes and file dialogs, reached only through this interface so that the logic
// behind them runs without widgets and tests can answer them.
#include <optional>
#include <string>
#include <vector>

namespace veloraplay {

enum class DialogButton { Ok, Cancel, Yes, No, Retry, Abort, Ignore };
enum class DialogButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class DialogIcon { None, Information, Warning, Error, Question };

struct MessageBoxRequest {
    std::string title;
    std::string text;
    DialogButtons buttons = DialogButtons::Ok;
    DialogIcon icon = DialogIcon::None;
};

// A question with a check box under it ("Don't ask this question again.").
struct QuestionRequest {
    std::string title;
    std::string text;
    std::string checkBoxText;
    DialogButtons buttons = DialogButtons::YesNo;
};

struct QuestionAnswer {
    DialogButton button = DialogButton::No;
    bool checked = false;
};

struct FileFilter {
    std::string label;    // "Wave Files (*.wav)"
    std::string pattern;  // "*.wav"
};

struct FileDialogRequest {
    std::string title;
    std::vector<FileFilter> filters;
    std::string defaultExtension;  // without the dot
    std::string initialPath;
    bool save = false;       // a save dialog rather than an open dialog
    bool mustExist = false;  // open dialogs: only existing files
};

class DialogService {
  public:
    virtual ~DialogService() = default;
    virtual DialogButton messageBox(const MessageBoxRequest& request) = 0;
    virtual QuestionAnswer question(const QuestionRequest& request) = 0;
    virtual std::optional<std::string> chooseFile(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> chooseFolder(const std::string& title,
                                                    const std::string& initialFolder) = 0;
};

// What an unanswered dialog gives: Cancel or No when offered, else the only button.
DialogButton safeDefault(DialogButtons buttons);
bool offers(DialogButtons buttons, DialogButton button);
const char* buttonName(DialogButton button);
// A save dialog's answer: "." + `extension` appended when the file name has none (nor when
// `extension` or `path` is empty).
std::string withDefaultExtension(const std::string& path, const std::string& extension);

}  // namespace veloraplay
