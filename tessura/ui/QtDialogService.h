#pragma once
// The real dialogs of a windowed run: message boxes and file dialogs on the window's thread.
//
// Asked from another thread (a stream reader reporting a failure), a message is handed to the
// window's thread and shown there without waiting, and the caller gets the safe answer at once
// (OK for a plain message): waiting could deadlock a window thread that is itself waiting for
// that thread. A file dialog asked off the window's thread is cancelled. Before the application
// object exists, the fallback answers.
#include "DialogService.h"

namespace tessura::ui {

class QtDialogService final : public DialogService {
  public:
    explicit QtDialogService(DialogService& fallback) : fallback_(fallback) {}

    Answer message(const MessageRequest& request) override;
    std::vector<std::string> chooseFiles(const FileRequest& request) override;
    std::optional<std::string> askText(const TextRequest& request) override;  // cancelled off the window's thread

  private:
    DialogService& fallback_;
};

}  // namespace tessura::ui
