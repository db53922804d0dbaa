#include "QtDialogService.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QMessageBox>

namespace veloraplay {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// Mnemonic markers of the captions are Qt's too ('&'); the texts stay as they are.
QMessageBox::StandardButtons standardButtons(DialogButtons buttons) {
    switch (buttons) {
        case DialogButtons::Ok:
            return QMessageBox::Ok;
        case DialogButtons::OkCancel:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case DialogButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case DialogButtons::YesNoCancel:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case DialogButtons::RetryCancel:
            return QMessageBox::Retry | QMessageBox::Cancel;
        case DialogButtons::AbortRetryIgnore:
            return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    }
    return QMessageBox::Ok;
}

DialogButton fromStandard(int button, DialogButtons offered) {
    switch (button) {
        case QMessageBox::Ok:
            return DialogButton::Ok;
        case QMessageBox::Cancel:
            return DialogButton::Cancel;
        case QMessageBox::Yes:
            return DialogButton::Yes;
        case QMessageBox::No:
            return DialogButton::No;
        case QMessageBox::Retry:
            return DialogButton::Retry;
        case QMessageBox::Abort:
            return DialogButton::Abort;
        case QMessageBox::Ignore:
            return DialogButton::Ignore;
        default:
            return safeDefault(offered);  // closed without a button
    }
}

QMessageBox::Icon icon(DialogIcon value) {
    switch (value) {
        case DialogIcon::None:
            return QMessageBox::NoIcon;
        case DialogIcon::Information:
            return QMessageBox::Information;
        case DialogIcon::Warning:
            return QMessageBox::Warning;
        case DialogIcon::Error:
            return QMessageBox::Critical;
        case DialogIcon::Question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QString filterText(const std::vector<FileFilter>& filters) {
    QStringList parts;
    for (const FileFilter& f : filters) {
        QString pattern = q(f.pattern);
        pattern.replace(QStringLiteral("*.*"), QStringLiteral("*"));
        QString label = q(f.label);
        // Qt reads the patterns from the parentheses of the label.
        if (!label.contains('('))
            label += QStringLiteral(" (") + pattern + QStringLiteral(")");
        else
            label.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
        parts << label;
    }
    return parts.join(QStringLiteral(";;"));
}

}  // namespace

DialogButton QtDialogService::messageBox(const MessageBoxRequest& request) {
    QMessageBox box(icon(request.icon), q(request.title), q(request.text),
                    standardButtons(request.buttons), parent_);
    return fromStandard(box.exec(), request.buttons);
}

QuestionAnswer QtDialogService::question(const QuestionRequest& request) {
    QMessageBox box(QMessageBox::Question, q(request.title), q(request.text),
                    standardButtons(request.buttons), parent_);
    auto* check = new QCheckBox(q(request.checkBoxText));
    if (!request.checkBoxText.empty())
        box.setCheckBox(check);
    else
        delete check;
    const DialogButton button = fromStandard(box.exec(), request.buttons);
    return QuestionAnswer{button, box.checkBox() && box.checkBox()->isChecked()};
}

std::optional<std::string> QtDialogService::chooseFile(const FileDialogRequest& request) {
    QFileDialog dialog(parent_, q(request.title), q(request.initialPath),
                       filterText(request.filters));
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save || !request.mustExist ? QFileDialog::AnyFile
                                                          : QFileDialog::ExistingFile);
    if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(q(request.defaultExtension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> QtDialogService::chooseFolder(const std::string& title,
                                                         const std::string& initialFolder) {
    const QString folder = QFileDialog::getExistingDirectory(parent_, q(title), q(initialFolder));
    if (folder.isEmpty()) return std::nullopt;
    return folder.toStdString();
}

}  // namespace veloraplay
