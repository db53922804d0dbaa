#pragma once
// The decode-to-file progress dialog: modeless, no caption, the frame reached and the stream
// kind over the input and output paths. It disables the player window while open; closing it
// stops the decode. The logic is ProgressDialogModel's.
#include "ProgressDialogModel.h"

#include <QDialog>
#include <functional>

class QLabel;

namespace veloraplay {

class ProgressDialog final : public QDialog {
  public:
    // `owner` is disabled now and enabled again when the model says so; `closed` runs (once)
    // when the dialog is to go, by the worker's close or the user's.
    ProgressDialog(QWidget* owner, MessageQueue& playerQueue, const std::string& source,
                   const std::string& destination, std::function<void()> closed);

    // ProgressFrame and ProgressClose.
    void handle(const Message& message);
    const ProgressDialogModel& model() const { return model_; }

    QString frameText() const;
    QString streamText() const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    void apply(const ProgressReaction& reaction);
    void refresh();

    QWidget* owner_;
    MessageQueue& playerQueue_;
    ProgressDialogModel model_;
    std::function<void()> closed_;
    QLabel* frame_ = nullptr;
    QLabel* stream_ = nullptr;
};

}  // namespace veloraplay
