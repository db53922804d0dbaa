#include "QtDialogService.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

namespace tessura::ui {

namespace {

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

bool onWindowThread() { return qApp && QThread::currentThread() == qApp->thread(); }

QMessageBox::StandardButtons standardButtons(Buttons buttons) {
    switch (buttons) {
        case Buttons::Ok: return QMessageBox::Ok;
        case Buttons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
        case Buttons::YesNo: return QMessageBox::Yes | QMessageBox::No;
        case Buttons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

Answer answerOf(int button, Buttons buttons) {
    switch (button) {
        case QMessageBox::Ok: return Answer::Ok;
        case QMessageBox::Yes: return Answer::Yes;
        case QMessageBox::No: return Answer::No;
        case QMessageBox::Cancel: return Answer::Cancel;
        default: return safeAnswer(buttons);  // closed with Esc or the title bar
    }
}

// A box in the style of the desktop: errors warn, questions ask, the rest inform.
QMessageBox* makeBox(const MessageRequest& request) {
    auto* box = new QMessageBox(QApplication::activeWindow());
    box->setWindowTitle(fromUtf8(request.title));
    box->setText(fromUtf8(request.text));
    box->setStandardButtons(standardButtons(request.buttons));
    const bool error = request.titleKey.rfind("errors/", 0) == 0 || request.textKey.rfind("errors/", 0) == 0;
    box->setIcon(request.buttons == Buttons::Ok ? (error ? QMessageBox::Warning : QMessageBox::Information)
                                                : QMessageBox::Question);
    if (request.buttons == Buttons::YesNo || request.buttons == Buttons::YesNoCancel)
        box->setDefaultButton(QMessageBox::Yes);
    return box;
}

}  // namespace

Answer QtDialogService::message(const MessageRequest& request) {
    if (!qApp) return fallback_.message(request);
    if (!onWindowThread()) {
        QMetaObject::invokeMethod(
            qApp,
            [request] {
                QMessageBox* box = makeBox(request);
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->open();
            },
            Qt::QueuedConnection);
        return safeAnswer(request.buttons);
    }
    QPointer<QMessageBox> box = makeBox(request);
    const int button = box->exec();
    delete box.data();
    return answerOf(button, request.buttons);
}

std::vector<std::string> QtDialogService::chooseFiles(const FileRequest& request) {
    if (!qApp) return fallback_.chooseFiles(request);
    if (!onWindowThread()) return {};
    QStringList filters;
    for (const std::string& filter : request.filters) filters << fromUtf8(filter);
    QFileDialog dialog(QApplication::activeWindow(), fromUtf8(request.title), fromUtf8(request.initialPath));
    dialog.setNameFilters(filters);
    if (request.save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFiles);
    }
    std::vector<std::string> chosen;
    if (dialog.exec() != QDialog::Accepted) return chosen;
    for (const QString& file : dialog.selectedFiles()) chosen.push_back(file.toStdString());
    return chosen;
}

std::optional<std::string> QtDialogService::askText(const TextRequest& request) {
    if (!qApp) return fallback_.askText(request);
    if (!onWindowThread()) return std::nullopt;
    QInputDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(fromUtf8(request.title));
    dialog.setLabelText(fromUtf8(request.text));
    dialog.setTextValue(fromUtf8(request.initial));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.textValue().toStdString();
}

}  // namespace tessura::ui
