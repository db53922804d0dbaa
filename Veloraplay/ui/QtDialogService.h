#pragma once
// The dialog service on screen: message boxes, the question with its check box, and the
// file and folder choosers, as Qt dialogs.
#include "DialogService.h"

class QWidget;

namespace veloraplay {

class QtDialogService final : public DialogService {
  public:
    void setParent(QWidget* parent) { parent_ = parent; }

    DialogButton messageBox(const MessageBoxRequest& request) override;
    QuestionAnswer question(const QuestionRequest& request) override;
    std::optional<std::string> chooseFile(const FileDialogRequest& request) override;
    std::optional<std::string> chooseFolder(const std::string& title,
                                            const std::string& initialFolder) override;

  private:
    QWidget* parent_ = nullptr;
};

}  // namespace veloraplay
