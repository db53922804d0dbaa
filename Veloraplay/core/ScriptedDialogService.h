#pragma once
// Dialog answers from a script, for headless runs and tests (VELORAPLAY_DIALOGS=FILE).
// One line per expected dialog: its title, or the beginning of its text, then '=' and the
// answer: a button name ("Yes", "No", "OK", "Cancel", ...; the word "checked" also ticks a
// question's check box) or, for file and folder dialogs, a path. Lines are used once, in
// order; blank lines and lines starting with '#' are skipped. A dialog with no answer left
// takes the safe default (No / Cancel). Every dialog is logged to the given stream.
#include "DialogService.h"

#include <cstdio>
#include <string>
#include <vector>

namespace veloraplay {

class ScriptedDialogService final : public DialogService {
  public:
    explicit ScriptedDialogService(std::FILE* log = stderr);

    bool loadScript(const std::string& path);
    void addAnswer(const std::string& key, const std::string& answer);

    DialogButton messageBox(const MessageBoxRequest& request) override;
    QuestionAnswer question(const QuestionRequest& request) override;
    std::optional<std::string> chooseFile(const FileDialogRequest& request) override;
    std::optional<std::string> chooseFolder(const std::string& title,
                                            const std::string& initialFolder) override;

    // How many dialogs were shown (answered or not).
    int shownCount() const { return shown_; }

  private:
    struct Entry {
        std::string key, answer;
        bool used = false;
    };
    const std::string* take(const std::string& title, const std::string& text);
    void log(const std::string& title, const std::string& text, const std::string& answer,
             bool scripted);

    std::FILE* log_;
    std::vector<Entry> entries_;
    int shown_ = 0;
};

}  // namespace veloraplay
