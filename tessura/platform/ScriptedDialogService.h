#pragma once
// Dialog answers from a script, for tests and headless runs (TESSURA_DIALOGS=FILE).
//
// One line per expected dialog: what identifies it — its title or text key, or the beginning of
// its shown title or text — then '=' and the answer: a button ("OK", "Cancel", "Yes", "No") or,
// for a file dialog, a path (several paths separated by '|'). Each line answers one dialog;
// blank lines and lines beginning with '#' are skipped. A dialog with no answer left takes the
// safe answer (No / Cancel) and every dialog is logged, so a headless run shows what it asked.
#include "DialogService.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tessura {

class ScriptedDialogService final : public DialogService {
  public:
    explicit ScriptedDialogService(std::FILE* log = stderr) : log_(log) {}

    bool loadScript(const std::string& path);
    void addAnswer(std::string match, std::string answer);

    Answer message(const MessageRequest& request) override;
    std::vector<std::string> chooseFiles(const FileRequest& request) override;
    // The script's answer is the text typed; without one the question is cancelled.
    std::optional<std::string> askText(const TextRequest& request) override;

    // Every dialog shown so far, as "title | text" (file dialogs: their title).
    const std::vector<std::string>& shown() const { return shown_; }

  private:
    struct Line {
        std::string match, answer;
        bool used = false;
    };
    const std::string* take(const std::vector<const std::string*>& identities);

    std::FILE* log_;
    std::vector<Line> lines_;
    std::vector<std::string> shown_;
};

}  // namespace tessura
