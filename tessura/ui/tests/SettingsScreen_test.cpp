// The settings screen and the about box as the main window opens them (offscreen): Apply
// reaches the preferences and the window, Cancel leaves them, every tab and the about box
// grabbed to /tmp/tessura-grabs/ to look at.
#include "MainWindow.h"

#include "FrameChores.h"
#include "LanguageStore.h"
#include "PluginSettingsPage.h"
#include "RecordingPlayer.h"
#include "ScriptedDialogService.h"
#include "SettingsStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace tessura::ui {
namespace {

using test::RecordingPlayer;

const std::string kGrabs = "/tmp/tessura-grabs";

struct Fixture {
    explicit Fixture(int allowSkins = 1) {
        std::filesystem::create_directories(folder);
        std::filesystem::create_directories(kGrabs);
        texts.LoadLanguageList(TESSURA_LANGUAGE_DIR);
        texts.SelectLanguage("English");
        preferences.openWithSplash = false;
        preferences.windowState = 1;
        preferences.allowSkins = allowSkins;
        preferences.defaultSkin = "system/tessura.tgf";
        preferences.currentSkin = "system/tessura.tgf";
        WindowSetup setup{player, preferences, {}, nullptr, {}, {}};
        setup.loadSkin = [this] {
            return LoadSkin({settings, SkinSources{TESSURA_DEFAULT_SKIN, TESSURA_DEFAULT_SKIN, ""}, texts, dialogs});
        };
        setup.settings.programDir = TESSURA_PROGRAM_DIR;
        setup.settings.languages = &texts;
        setup.settings.applied = [this](const SettingsApplyResult& r, const SettingsValues&) { heard = r; };
        window = std::make_unique<MainWindow>(std::move(setup));
        window->start();
    }
    SettingsScreen& openSettings() {
        QTest::keyClick(window.get(), Qt::Key_K, Qt::ControlModifier);
        SettingsScreen* s = window->settingsScreen();
        if (s == nullptr) throw std::runtime_error("Ctrl+K opened no settings screen");
        return *s;
    }
    std::string folder = std::filesystem::temp_directory_path().string() + "/tessura-settings-test";
    SettingsStore settings{folder + "/settings.ini", folder};
    LanguageStore texts;
    ScriptedDialogService dialogs;
    RecordingPlayer player;
    Preferences preferences;
    std::unique_ptr<MainWindow> window;
    SettingsApplyResult heard;
};

template <typename T>
T& control(QWidget& screen, const char* key) {
    T* w = screen.findChild<T*>(key);
    if (w == nullptr) throw std::runtime_error(std::string("no control ") + key);
    return *w;
}

QPushButton& button(SettingsScreen& s, QDialogButtonBox::StandardButton which) {
    return *s.findChild<QDialogButtonBox*>()->button(which);
}

int frameInterval(MainWindow& w) {
    for (QTimer* t : w.findChildren<QTimer*>())
        if (!t->isSingleShot()) return t->interval();
    return -1;
}

TEST(SettingsScreen, ApplyReachesThePreferencesAndTheWindowAndCancelLeavesThem) {
    Fixture f;
    MainWindow& w = *f.window;
    ASSERT_FALSE(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    const int before = frameInterval(w);

    // Cancel: the edits are dropped.
    {
        SettingsScreen& s = f.openSettings();
        control<QCheckBox>(s, "settings/alwaysontop").click();
        control<QSlider>(s, "settings/framespersec").setValue(30);
        EXPECT_TRUE(button(s, QDialogButtonBox::Apply).isEnabled());
        button(s, QDialogButtonBox::Cancel).click();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_EQ(w.settingsScreen(), nullptr);
    EXPECT_EQ(f.preferences.alwaysOnTop, 0);
    EXPECT_EQ(f.preferences.displayFrameRate, 75);
    EXPECT_FALSE(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(frameInterval(w), before);

    // Apply: both reach the preferences, the window's flag and its frame timer.
    SettingsScreen& s = f.openSettings();
    EXPECT_FALSE(button(s, QDialogButtonBox::Apply).isEnabled());
    f.preferences.navWindowState = 7;  // the window's own change while the screen is open
    control<QCheckBox>(s, "settings/alwaysontop").click();
    control<QSlider>(s, "settings/framespersec").setValue(30);
    // The slider's label says the value it sets.
    bool shown = false;
    for (QLabel* l : s.findChildren<QLabel*>()) shown = shown || l->text() == "30";
    EXPECT_TRUE(shown);
    button(s, QDialogButtonBox::Apply).click();
    EXPECT_EQ(f.preferences.alwaysOnTop, 1);
    EXPECT_EQ(f.preferences.displayFrameRate, 30);
    EXPECT_EQ(f.preferences.navWindowState, 7);
    EXPECT_TRUE(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(frameInterval(w), framePeriodMs(30, false));
    EXPECT_NE(frameInterval(w), before);
    EXPECT_EQ(f.heard.changedKeys, (std::vector<std::string>{"settings/alwaysontop", "settings/framespersec"}));
    EXPECT_FALSE(button(s, QDialogButtonBox::Apply).isEnabled());

    // OK applies too and closes the screen: a skin chosen in the list is loaded.
    s.showPage(7);
    auto& skins = control<QListWidget>(s, "settings/tab/skins");
    ASSERT_GE(skins.count(), 2);
    skins.setCurrentRow(1);
    EXPECT_NE(control<QLabel>(s, "skinthumb").pixmap().toImage().isNull(), true);
    button(s, QDialogButtonBox::Ok).click();
    EXPECT_EQ(f.preferences.currentSkin, skins.item(1)->data(Qt::UserRole).toString().toStdString());
    EXPECT_EQ(f.player.calls.back(), "post " + std::to_string(thread_message::kLoadStoredSkin));
}

TEST(SettingsScreen, EveryTabIsGrabbedAndSevenWithoutSkins) {
    Fixture f;
    f.preferences.streamPreBufferSize = 0;
    SettingsScreen& s = f.openSettings();
    EXPECT_EQ(s.pageCount(), 8);
    EXPECT_EQ(s.windowTitle(), "Tessura settings");
    s.show();
    for (int i = 0; i < s.pageCount(); ++i) {
        s.showPage(i);
        QApplication::processEvents();
        const QString name = s.page(i)->objectName().section('/', -1);
        EXPECT_TRUE(s.grab().save(QString::fromStdString(kGrabs) + "/settings-" + QString::number(i) + "-" + name + ".png"));
    }
    // The pre-buffer at 0 reads "off"; the buffer size says its value.
    QStringList labels;
    for (QLabel* l : s.page(6)->findChildren<QLabel*>()) labels << l->text();
    EXPECT_TRUE(labels.contains("Pre-buffer: off")) << labels.join("|").toStdString();
    EXPECT_TRUE(labels.contains("Buffer size: 64 KB")) << labels.join("|").toStdString();
    // The list walks the tabs with the arrow keys and passes over the group headings.
    auto& tabs = control<QListWidget>(s, "tabs");
    tabs.setFocus();
    tabs.setCurrentRow(8);  // the last general tab
    QTest::keyClick(&tabs, Qt::Key_Up);
    EXPECT_EQ(tabs.currentRow(), 7);
    tabs.setCurrentRow(1);
    QTest::keyClick(&tabs, Qt::Key_Up);  // onto the heading: back to the first tab
    EXPECT_EQ(tabs.currentRow(), 1);

    Fixture without(0);
    EXPECT_EQ(without.openSettings().pageCount(), 7);

    // The plug-in group: a tab per input module with a page, from the last module to the first.
    SettingsSources sources;
    sources.inputModules = {{"Wave files", kModuleOffersSettingsPage}, {"Plain", 0}, {"Tracker", 0x12}};
    std::vector<std::size_t> configured;
    sources.configureModule = [&configured](std::size_t i) { configured.push_back(i); };
    Preferences preferences;
    SettingsScreen withModules(preferences, sources, [&f](const std::string& k) { return f.texts.Text(k); });
    ASSERT_EQ(withModules.pageCount(), 10);
    auto& rows = control<QListWidget>(withModules, "tabs");
    EXPECT_EQ(rows.item(9)->text().trimmed().toStdString(), "Audio plug-ins");
    EXPECT_EQ(rows.item(10)->text().trimmed().toStdString(), "Tracker");
    EXPECT_EQ(rows.item(11)->text().trimmed().toStdString(), "Wave files");
    withModules.page(8)->findChild<QPushButton*>()->click();
    withModules.page(9)->findChild<QPushButton*>()->click();
    EXPECT_EQ(configured, (std::vector<std::size_t>{2, 0}));
}

TEST(SettingsScreen, TheAboutBoxAndTheContextMenu) {
    Fixture f;
    MainWindow& w = *f.window;
    QTest::keyClick(&w, Qt::Key_F1);
    AboutBox* about = w.aboutBox();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->lines().contains("Version 1.96"));
    EXPECT_TRUE(about->lines().contains("Built March 1, 2002"));
    EXPECT_EQ(about->windowTitle(), "About Tessura");
    EXPECT_TRUE(about->grab().save(QString::fromStdString(kGrabs) + "/about.png"));

    QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, QPoint(10, 10), w.mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(&w, &menuEvent);
    ASSERT_NE(w.contextMenu(), nullptr);
    QStringList items;
    for (QAction* a : w.contextMenu()->actions())
        if (!a->isSeparator()) items << a->text();
    EXPECT_EQ(items, (QStringList{"Settings…", "About Tessura…", "Next window mode", "Quit"}));
    w.contextMenu()->actions().front()->trigger();
    EXPECT_NE(w.settingsScreen(), nullptr);
    w.contextMenu()->actions().back()->trigger();
    EXPECT_EQ(f.player.calls.back(), "post " + std::to_string(thread_message::kQuit));
    w.contextMenu()->hide();
}

// A plug-in's page as an output plug-in hands it over: a label, a slider and a list, and a
// handler that records what the screen tells it.
struct FakePage {
    SettingsPage page;
    char text[32];
};
std::vector<std::string> pageLog;

intptr_t fakeHandler(SettingsPage* page, int32_t message, int32_t control, intptr_t value,
                     SettingsRequestFunction request) {
    auto& fake = *reinterpret_cast<FakePage*>(page);
    switch (message) {
        case SETTINGS_PAGE_OPENED:
            request(page, 3, SETTINGS_REQUEST_PREPARE_LIST, 0);
            request(page, 3, SETTINGS_REQUEST_ADD_ITEM, reinterpret_cast<intptr_t>("Default device"));
            request(page, 3, SETTINGS_REQUEST_ADD_ITEM, reinterpret_cast<intptr_t>("Headphones"));
            request(page, 3, SETTINGS_REQUEST_SET_POSITION, 1);
            request(page, 2, SETTINGS_REQUEST_SET_RANGE, (32 << 16) | 4);
            request(page, 2, SETTINGS_REQUEST_SET_POSITION, 8);
            request(page, 1, SETTINGS_REQUEST_SET_TEXT, reinterpret_cast<intptr_t>("Fragment: 8k"));
            pageLog.push_back("opened");
            return 1;
        case SETTINGS_PAGE_CHANGED:
            std::snprintf(fake.text, sizeof fake.text, "Fragment: %dk", int(value));
            if (control == 2) request(page, 1, SETTINGS_REQUEST_SET_TEXT, reinterpret_cast<intptr_t>(fake.text));
            pageLog.push_back("changed " + std::to_string(control) + " " + std::to_string(value));
            return 1;
        case SETTINGS_PAGE_CLOSED:
            pageLog.push_back("closed, list at " + std::to_string(request(page, 3, SETTINGS_REQUEST_GET_SELECTION, 0)));
            std::free(page->controls);
            std::free(page);
            return 1;
        default: return 0;
    }
}

SettingsPage* fakePage() {
    auto* fake = static_cast<FakePage*>(std::calloc(1, sizeof(FakePage)));
    auto* controls = static_cast<SettingsControl*>(std::calloc(3, sizeof(SettingsControl)));
    controls[0].kind = SETTINGS_CONTROL_LABEL;
    controls[0].text = "Fragment:";
    controls[0].control = 1;
    controls[1].kind = SETTINGS_CONTROL_SLIDER;
    controls[1].control = 2;
    controls[2].kind = SETTINGS_CONTROL_LIST;
    controls[2].control = 3;
    fake->page = {controls, 3, &fakeHandler};
    return &fake->page;
}

TEST(SettingsScreen, AnOutputsOwnPageIsBuiltFromItsControlsAndToldOfChanges) {
    pageLog.clear();
    {
        PluginSettingsPage dialog(fakePage(), "Test output", "Close");
        auto* label = qobject_cast<QLabel*>(dialog.control(1));
        auto* slider = qobject_cast<QSlider*>(dialog.control(2));
        auto* list = qobject_cast<QComboBox*>(dialog.control(3));
        ASSERT_TRUE(label && slider && list);
        // What the plug-in set while opening is not reported back as a change.
        EXPECT_EQ(pageLog, (std::vector<std::string>{"opened"}));
        EXPECT_EQ(slider->minimum(), 4);
        EXPECT_EQ(slider->maximum(), 32);
        EXPECT_EQ(slider->value(), 8);
        EXPECT_EQ(list->count(), 2);
        EXPECT_EQ(list->currentIndex(), 1);
        EXPECT_EQ(label->text(), "Fragment: 8k");
        slider->setValue(16);
        EXPECT_EQ(label->text(), "Fragment: 16k");
        list->setCurrentIndex(0);
        dialog.show();
        EXPECT_TRUE(dialog.grab().save(QString::fromStdString(kGrabs) + "/settings-output-page.png"));
        dialog.reject();  // closing tells the plug-in once, which frees the page
    }
    EXPECT_EQ(pageLog, (std::vector<std::string>{"opened", "changed 2 16", "changed 3 0", "closed, list at 0"}));
}

}  // namespace
}  // namespace tessura::ui
