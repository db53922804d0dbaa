#include "PluginSettingsPage.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace tessura::ui {

namespace {

// The request function has no context of its own: the open pages, by address (the windows'
// thread only).
std::map<SettingsPage*, PluginSettingsPage*>& openPages() {
    static std::map<SettingsPage*, PluginSettingsPage*> pages;
    return pages;
}

QString pluginText(intptr_t value) {
    const char* text = reinterpret_cast<const char*>(value);
    return text != nullptr ? QString::fromUtf8(text) : QString();
}

}  // namespace

PluginSettingsPage::PluginSettingsPage(SettingsPage* page, const QString& title, const QString& closeText,
                                       QWidget* parent)
    : QDialog(parent), page_(page) {
    setWindowTitle(title);
    setObjectName("pluginpage");
    auto* layout = new QVBoxLayout(this);
    QLabel* lastLabel = nullptr;
    for (int32_t i = 0; page_ != nullptr && i < page_->count; ++i) {
        const SettingsControl& c = page_->controls[i];
        QWidget* w = nullptr;
        switch (c.kind) {
            case SETTINGS_CONTROL_LABEL: {
                lastLabel = new QLabel(pluginText(reinterpret_cast<intptr_t>(c.text)));
                w = lastLabel;
                break;
            }
            case SETTINGS_CONTROL_SLIDER: {
                auto* slider = new QSlider(Qt::Horizontal);
                const int32_t number = c.control;
                connect(slider, &QSlider::valueChanged, this, [this, number](int v) {
                    if (opened_ && page_ && page_->handler)
                        page_->handler(page_, SETTINGS_PAGE_CHANGED, number, v, &PluginSettingsPage::request);
                });
                w = slider;
                break;
            }
            case SETTINGS_CONTROL_LIST: {
                auto* list = new QComboBox;
                const int32_t number = c.control;
                connect(list, &QComboBox::currentIndexChanged, this, [this, number](int v) {
                    if (opened_ && page_ && page_->handler && v >= 0)
                        page_->handler(page_, SETTINGS_PAGE_CHANGED, number, v, &PluginSettingsPage::request);
                });
                w = list;
                break;
            }
            default: continue;  // a kind this screen does not know is left out
        }
        // A label just before a control names it, for the keyboard and screen readers.
        if (lastLabel != nullptr && w != lastLabel) lastLabel->setBuddy(w);
        w->setObjectName(QString("control%1").arg(c.control));
        controls_[c.control] = w;
        layout->addWidget(w);
    }
    layout->addStretch(1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->button(QDialogButtonBox::Close)->setText(closeText);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(340);

    if (page_ != nullptr && page_->handler != nullptr) {
        openPages()[page_] = this;
        page_->handler(page_, SETTINGS_PAGE_OPENED, 0, 0, &PluginSettingsPage::request);
        opened_ = true;
    }
}

PluginSettingsPage::~PluginSettingsPage() { closePage(); }

QWidget* PluginSettingsPage::control(int32_t number) const {
    const auto at = controls_.find(number);
    return at == controls_.end() ? nullptr : at->second;
}

void PluginSettingsPage::done(int result) {
    closePage();
    QDialog::done(result);
}

void PluginSettingsPage::closePage() {
    if (!opened_) return;
    opened_ = false;
    SettingsPage* page = page_;
    page_->handler(page, SETTINGS_PAGE_CLOSED, 0, 0, &PluginSettingsPage::request);  // frees the page
    openPages().erase(page);
    page_ = nullptr;
}

intptr_t PluginSettingsPage::request(SettingsPage* page, int32_t control, int32_t request, intptr_t value) {
    const auto at = openPages().find(page);
    return at == openPages().end() ? 0 : at->second->handleRequest(control, request, value);
}

intptr_t PluginSettingsPage::handleRequest(int32_t number, int32_t request, intptr_t value) {
    QWidget* w = control(number);
    auto* label = qobject_cast<QLabel*>(w);
    auto* slider = qobject_cast<QSlider*>(w);
    auto* list = qobject_cast<QComboBox*>(w);
    const bool wasOpened = opened_;
    opened_ = false;  // what the plug-in sets itself is not a change to report back
    intptr_t result = 0;
    switch (request) {
        case SETTINGS_REQUEST_SET_POSITION:
            if (slider) slider->setValue(static_cast<int>(value));
            if (list) list->setCurrentIndex(static_cast<int>(value));
            result = 1;
            break;
        case SETTINGS_REQUEST_GET_SELECTION:
            result = slider ? slider->value() : list ? list->currentIndex() : 0;
            break;
        case SETTINGS_REQUEST_SET_RANGE:
            if (slider) slider->setRange(static_cast<int>(value & 0xFFFF), static_cast<int>((value >> 16) & 0xFFFF));
            result = 1;
            break;
        case SETTINGS_REQUEST_ADD_ITEM:
            if (list) list->addItem(pluginText(value));
            result = list ? list->count() - 1 : 0;
            break;
        case SETTINGS_REQUEST_PREPARE_LIST:
            if (list) list->clear();
            result = 1;
            break;
        case SETTINGS_REQUEST_PREPARE_LIST_2:
        case SETTINGS_REQUEST_PREPARE_LIST_3: result = 1; break;
        case SETTINGS_REQUEST_SET_TEXT:
            if (label) label->setText(pluginText(value));
            result = 1;
            break;
        default: break;
    }
    opened_ = wasOpened;
    return result;
}

}  // namespace tessura::ui
