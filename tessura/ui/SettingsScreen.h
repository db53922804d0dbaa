#pragma once
// The settings screen: the general settings' tabs and the audio plug-ins' tabs in a list on
// the left, the chosen tab's page on the right, OK, Cancel and Apply below. The pages are
// built from the table in core/SettingsPages; the screen edits a copy and hands it to
// ApplySettings on OK and Apply, so Cancel changes nothing.
#include "SettingsPages.h"

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

class QDialogButtonBox;
class QListWidget;
class QStackedWidget;
class QVBoxLayout;

namespace tessura {
class LanguageStore;
}

namespace tessura::ui {

// A plug-in as the audio tab lists it: its identifier as GUID text and its name.
struct PluginChoice {
    std::string guid, name;
};

// What the program can tell the screen; all of it may be left empty.
struct SettingsSources {
    std::string programDir;                   // skins/ is listed below it
    const LanguageStore* languages = nullptr;  // the language list and the skin previews' defaults
    // Installed outputs and effect plug-ins. No outputs: the built-in one is the only choice.
    std::vector<PluginChoice> outputs, effectPlugins;
    std::vector<InputModuleEntry> inputModules;  // the plug-in group's tabs
    int connectionType = 0;                     // as the store holds it
    uint32_t fileTypes = 0;                     // which types are ours now
    // Opens the configuration page of the output with this GUID; none: the button is disabled.
    std::function<void(const std::string& guid)> configureOutput;
    // Opens the settings page of inputModules[index] (loaded without Initialise, then Configure).
    std::function<void(std::size_t index)> configureModule;
    // After OK or Apply wrote something: what changed and the values now in effect (the
    // connection type and the file types are for the program to store).
    std::function<void(const SettingsApplyResult&, const SettingsValues&)> applied;
};

class SettingsScreen final : public QDialog {
  public:
    using Text = std::function<std::string(const std::string& key)>;
    SettingsScreen(Preferences& live, SettingsSources sources, Text text, QWidget* parent = nullptr);

    // The pages in list order (general tabs first, then the plug-in tabs).
    int pageCount() const;
    void showPage(int index);
    QWidget* page(int index) const;
    const SettingsValues& edited() const { return edited_; }
    // OK/Apply's work; the result says what changed.
    SettingsApplyResult apply();

  private:
    QWidget* buildPage(const SettingsTabInfo& tab);
    QWidget* buildPluginPage(std::size_t module);
    QWidget* buildSkinsPage(const SettingOption& option);
    void addOption(QVBoxLayout* layout, const SettingOption& option);
    void changed();
    QString tr8(const std::string& key) const;
    std::string textOf(std::string_view key) const { return text_(std::string(key)); }

    Preferences& live_;
    SettingsSources sources_;
    Text text_;
    SettingsValues edited_;
    QListWidget* tabs_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
    std::vector<int> rowToPage_;  // -1 for the group headings
    int lastRow_ = 0;
    bool ready_ = false;  // the pages are built; selections from now on are the user's
};

}  // namespace tessura::ui
