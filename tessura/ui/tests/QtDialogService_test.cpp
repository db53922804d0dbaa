// The window run's dialogs: the buttons a person presses come back as answers, file dialogs
// give the chosen files, and a message from another thread neither waits nor is lost.
#include "QtDialogService.h"

#include "ScriptedDialogService.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace tessura::ui {
namespace {

// Runs `act` on the first modal dialog of type T once it is up.
template <typename T, typename Act>
void whenShown(Act act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<T*>(w); dialog && dialog->isVisible()) {
                poll->stop();
                poll->deleteLater();
                act(*dialog);
                return;
            }
    });
    poll->start(10);
}

TEST(QtDialogService, TheButtonPressedIsTheAnswerAndEscapeGivesTheSafeOne) {
    ScriptedDialogService fallback(nullptr);
    QtDialogService dialogs(fallback);
    struct Case {
        Buttons buttons;
        QMessageBox::StandardButton press;  // NoButton: Escape
        Answer expected;
    };
    const Case cases[] = {{Buttons::YesNo, QMessageBox::Yes, Answer::Yes},
                          {Buttons::YesNo, QMessageBox::No, Answer::No},
                          {Buttons::YesNoCancel, QMessageBox::Cancel, Answer::Cancel},
                          {Buttons::OkCancel, QMessageBox::NoButton, Answer::Cancel},
                          {Buttons::Ok, QMessageBox::Ok, Answer::Ok}};
    for (const Case& c : cases) {
        std::string shownText;
        whenShown<QMessageBox>([&](QMessageBox& box) {
            shownText = box.text().toStdString();
            if (c.press == QMessageBox::NoButton) box.reject();
            else box.button(c.press)->click();
        });
        MessageRequest request;
        request.title = "Tessura";
        request.text = "Replace the playlist?";
        request.buttons = c.buttons;
        EXPECT_EQ(dialogs.message(request), c.expected) << int(c.buttons) << " " << int(c.press);
        EXPECT_EQ(shownText, "Replace the playlist?");
    }
    EXPECT_TRUE(fallback.shown().empty());
}

TEST(QtDialogService, TheOpenDialogGivesTheChosenFilesAndCancelGivesNone) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "tessura-dialog-test";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "harbour.mp3") << "x";
    ScriptedDialogService fallback(nullptr);
    QtDialogService dialogs(fallback);
    FileRequest request;
    request.title = "Open files";
    request.initialPath = folder.string();
    request.filters = {"Audio files (*.mp3 *.wav)"};
    std::string title;
    whenShown<QFileDialog>([&](QFileDialog& dialog) {
        title = dialog.windowTitle().toStdString();
        dialog.selectFile("harbour.mp3");
        static_cast<QDialog&>(dialog).accept();  // QFileDialog's own accept, as the Open button
    });
    EXPECT_EQ(dialogs.chooseFiles(request), std::vector<std::string>{(folder / "harbour.mp3").string()});
    EXPECT_EQ(title, "Open files");
    whenShown<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_TRUE(dialogs.chooseFiles(request).empty());
}

TEST(QtDialogService, AQuestionGivesTheLineTypedAndNothingWhenCancelled) {
    ScriptedDialogService fallback(nullptr);
    QtDialogService dialogs(fallback);
    const TextRequest request{"Save preset", "Enter Preset Name", "", "", "UserPreset0"};
    std::string offered;
    whenShown<QInputDialog>([&](QInputDialog& dialog) {
        offered = dialog.textValue().toStdString();
        dialog.setTextValue("Evening");
        dialog.accept();
    });
    EXPECT_EQ(dialogs.askText(request), std::optional<std::string>("Evening"));
    EXPECT_EQ(offered, "UserPreset0");
    whenShown<QInputDialog>([](QInputDialog& dialog) { dialog.reject(); });
    EXPECT_EQ(dialogs.askText(request), std::nullopt);
}

TEST(QtDialogService, AMessageFromAnotherThreadReturnsAtOnceAndIsShownOnTheWindowThread) {
    ScriptedDialogService fallback(nullptr);
    QtDialogService dialogs(fallback);
    MessageRequest request;
    request.title = "Stream";
    request.text = "Could not connect to the stream's server.";
    request.titleKey = "errors/tessuraerror";
    Answer answer = Answer::No;
    std::vector<std::string> files{"untouched"};
    std::thread reader([&] {
        answer = dialogs.message(request);
        files = dialogs.chooseFiles(FileRequest{});
    });
    reader.join();  // it did not wait for anyone to press OK
    EXPECT_EQ(answer, Answer::Ok);
    EXPECT_TRUE(files.empty());
    QMessageBox* shown = nullptr;
    for (int i = 0; i < 50 && !shown; ++i) {
        QApplication::processEvents();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) shown = box;
    }
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text().toStdString(), request.text);
    EXPECT_EQ(shown->icon(), QMessageBox::Warning);
    shown->button(QMessageBox::Ok)->click();
}

}  // namespace
}  // namespace tessura::ui
