// veloraplay: the player window, or with "/ENCODE" the encoder window alone.
#include "AppPaths.h"
#include "CloseSignals.h"
#include "EncoderWindow.h"
#include "FiletypeRegistrar.h"
#include "HelpTopics.h"
#include "InstanceChannel.h"
#include "MessageQueue.h"
#include "PlayerWindow.h"
#include "Processes.h"
#include "QtDialogService.h"
#include "ScriptedDialogService.h"
#include "SettingsStore.h"
#include "StartupSequence.h"

#include <unistd.h>
#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <cstdlib>
#include <memory>

namespace veloraplay {
namespace {

class QtDisplay final : public Display {
  public:
    int colourDepth() const override {
        const QScreen* screen = QGuiApplication::primaryScreen();
        return screen ? screen->depth() : 32;
    }
};

class RegistrarStep final : public StartupRegistrar {
  public:
    explicit RegistrarStep(FiletypeRegistrar& registrar) : registrar_(registrar) {}
    void check() override { registrar_.check(); }

  private:
    FiletypeRegistrar& registrar_;
};

// Drains the message queue on the interface thread and hands each message to the window.
class QtWindows final : public WindowFactory {
  public:
    QtWindows(QApplication& app, SettingsStore& settings, HelpTopics& help, MessageQueue& queue,
              DialogService& dialogs, QtDialogService* qtDialogs)
        : app_(app), settings_(settings), help_(help), queue_(queue), dialogs_(dialogs),
          qtDialogs_(qtDialogs) {}

    int runPlayer(const std::string& commandLine) override {
        PlayerWindow window(settings_, help_, commandLine, queue_, dialogs_);
        if (qtDialogs_) qtDialogs_->setParent(&window);
        // The listener thread wakes the pump; the drain runs here, on the interface thread.
        queue_.setWakeCallback([&window, this] {
            QMetaObject::invokeMethod(
                &pump_,
                [&window, this] {
                    queue_.drain([&window](const Message& m) { window.handle(m); });
                },
                Qt::QueuedConnection);
        });
        onCloseSignal(&window, [&window] { window.close(); });
        window.show();
        const int status = app_.exec();
        queue_.setWakeCallback({});
        if (qtDialogs_) qtDialogs_->setParent(nullptr);
        return status;
    }

    int runEncoder(int skinType, const std::string& inputFile) override {
        EncoderWindow window(skinType, inputFile, settings_, dialogs_, help_);
        if (qtDialogs_) qtDialogs_->setParent(&window);
        onCloseSignal(&window, [&window] { window.close(); });
        window.show();
        const int status = app_.exec();
        if (qtDialogs_) qtDialogs_->setParent(nullptr);
        return status;
    }

  private:
    QApplication& app_;
    SettingsStore& settings_;
    HelpTopics& help_;
    MessageQueue& queue_;
    DialogService& dialogs_;
    QtDialogService* qtDialogs_;
    QObject pump_;  // outlives the listener thread: main() stops the channel first
};

int run(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    // Qt sees only the program name: every other argument is a file name, even "-style".
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("veloraplay"));
    QApplication::setOrganizationName(QStringLiteral("Nordvale"));

    const AppPaths paths = AppPaths::fromEnvironment();
    SettingsStore settings(paths.settingsFile());
    settings.load();

    // Scripted answers when asked for, and on a platform where nobody could answer a dialog.
    std::unique_ptr<DialogService> dialogs;
    QtDialogService* qtDialogs = nullptr;
    const char* script = std::getenv("VELORAPLAY_DIALOGS");
    const QString platform = QGuiApplication::platformName();
    if ((script && *script) || platform == QLatin1String("offscreen") ||
        platform == QLatin1String("minimal")) {
        auto scripted = std::make_unique<ScriptedDialogService>(stderr);
        if (script && *script) scripted->loadScript(script);
        dialogs = std::move(scripted);
    } else {
        auto onScreen = std::make_unique<QtDialogService>();
        qtDialogs = onScreen.get();
        dialogs = std::move(onScreen);
    }

    SystemLauncher launcher;
    HelpTopics help(paths.programHome, launcher);
    MessageQueue queue;
    InstanceChannel channel(locateInstanceSocket(paths.runtimeDir, "/tmp", ::getuid()));
    QueueingInstanceGate gate(channel, queue);
    FiletypeRegistrar registrar(RegistrarPaths{paths.applicationsFolder(), paths.dataDirs,
                                               paths.mimeappsList(), paths.programPath},
                                settings, *dialogs, &launcher);
    RegistrarStep registrarStep(registrar);
    QtDisplay display;
    QtWindows windows(app, settings, help, queue, *dialogs, qtDialogs);

    const int status = runStartup(
        StartupParts{display, settings, *dialogs, gate, registrarStep, windows, stderr}, args);
    channel.stop();
    return status;
}

}  // namespace
}  // namespace veloraplay

int main(int argc, char** argv) {
    return veloraplay::run(argc, argv);
}
