#include "SettingsScreen.h"

#include "LanguageStore.h"
#include "SkinList.h"
#include "SkinQt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace tessura::ui {

namespace {

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

constexpr const char* kFileTypeKeys[kFileTypeCount] = {"settings/filetype/mp3", "settings/filetype/wav",
                                                        "settings/filetype/m3u", "settings/filetype/pls",
                                                        "settings/filetype/skin"};

QLabel* headingLabel(const QString& text) {
    auto* label = new QLabel(text);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    return label;
}

}  // namespace

SettingsScreen::SettingsScreen(Preferences& live, SettingsSources sources, Text text, QWidget* parent)
    : QDialog(parent), live_(live), sources_(std::move(sources)), text_(std::move(text)) {
    edited_.preferences = live_;
    edited_.connectionType = sources_.connectionType;
    edited_.fileTypes = sources_.fileTypes;
    setObjectName("settings");
    setWindowTitle(tr8("settings/title"));

    tabs_ = new QListWidget;
    tabs_->setObjectName("tabs");
    tabs_->setFixedWidth(170);
    tabs_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tabs_->setSpacing(1);
    tabs_->setTextElideMode(Qt::ElideRight);
    pages_ = new QStackedWidget;
    const auto addHeading = [this](const std::string& key) {
        auto* item = new QListWidgetItem(tr8(key));
        QFont f = item->font();
        f.setBold(true);
        item->setFont(f);
        item->setFlags(Qt::ItemIsEnabled);  // a heading is not a tab
        tabs_->addItem(item);
        rowToPage_.push_back(-1);
    };
    const auto addTab = [this](const QString& title, QWidget* page) {
        auto* item = new QListWidgetItem("    " + title);
        tabs_->addItem(item);
        rowToPage_.push_back(pages_->addWidget(page));
    };

    addHeading(kGeneralGroupKey);
    for (const SettingsTabInfo& tab : GeneralSettingsTabs(live_)) addTab(tr8(tab.key), buildPage(tab));
    addHeading(kPluginGroupKey);
    const std::vector<std::size_t> modulePages = PluginSettingsTabs(sources_.inputModules);
    for (std::size_t i : modulePages)
        addTab(fromUtf8(sources_.inputModules[i].name), buildPluginPage(i));
    if (modulePages.empty()) {
        auto* item = new QListWidgetItem("    " + tr8("misc/none"));
        item->setFlags(Qt::NoItemFlags);
        tabs_->addItem(item);
        rowToPage_.push_back(-1);
    }
    connect(tabs_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0 || row >= int(rowToPage_.size())) return;
        if (rowToPage_[row] >= 0) {
            lastRow_ = row;
            pages_->setCurrentIndex(rowToPage_[row]);
            return;
        }
        // A heading: on to the nearest tab in the direction the selection moved.
        const int step = row < lastRow_ ? -1 : 1;
        for (int dir : {step, -step})
            for (int r = row + dir; r >= 0 && r < int(rowToPage_.size()); r += dir)
                if (rowToPage_[r] >= 0) {
                    tabs_->setCurrentRow(r);
                    return;
                }
    });

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply);
    buttons_->button(QDialogButtonBox::Ok)->setText(tr8("settings/ok"));
    buttons_->button(QDialogButtonBox::Cancel)->setText(tr8("settings/cancel"));
    buttons_->button(QDialogButtonBox::Apply)->setText(tr8("settings/apply"));
    buttons_->button(QDialogButtonBox::Apply)->setObjectName("settings/apply");
    buttons_->button(QDialogButtonBox::Apply)->setEnabled(false);
    connect(buttons_->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] { apply(); });
    connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
        apply();
        accept();
    });
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* body = new QHBoxLayout;
    body->addWidget(tabs_);
    auto* frame = new QFrame;
    frame->setFrameShape(QFrame::StyledPanel);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(pages_);
    body->addWidget(frame, 1);
    auto* all = new QVBoxLayout(this);
    all->addLayout(body, 1);
    all->addWidget(buttons_);
    resize(620, 430);
    tabs_->setCurrentRow(1);
    tabs_->setFocus();
    ready_ = true;
}

QString SettingsScreen::tr8(const std::string& key) const { return fromUtf8(text_(key)); }

int SettingsScreen::pageCount() const { return pages_->count(); }

void SettingsScreen::showPage(int index) {
    for (int row = 0; row < int(rowToPage_.size()); ++row)
        if (rowToPage_[row] == index) tabs_->setCurrentRow(row);
}

QWidget* SettingsScreen::page(int index) const { return pages_->widget(index); }

void SettingsScreen::changed() {
    SettingsValues probe;
    probe.preferences = live_;
    probe.connectionType = sources_.connectionType;
    probe.fileTypes = sources_.fileTypes;
    buttons_->button(QDialogButtonBox::Apply)->setEnabled(ApplySettings(probe, edited_).changed());
}

SettingsApplyResult SettingsScreen::apply() {
    // Over the live values as they are now, so that what the window changed meanwhile (its
    // position, its page) stays.
    SettingsValues now;
    now.preferences = live_;
    now.connectionType = sources_.connectionType;
    now.fileTypes = sources_.fileTypes;
    const SettingsApplyResult result = ApplySettings(now, edited_);
    live_ = now.preferences;
    sources_.connectionType = now.connectionType;
    sources_.fileTypes = now.fileTypes;
    if (result.changed() && sources_.applied) sources_.applied(result, now);
    buttons_->button(QDialogButtonBox::Apply)->setEnabled(false);
    return result;
}

QWidget* SettingsScreen::buildPage(const SettingsTabInfo& tab) {
    if (tab.tab == SettingsTab::Skins) return buildSkinsPage(tab.options.front());
    auto* page = new QWidget;
    page->setObjectName(tab.key);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(headingLabel(tr8(tab.key)));
    for (const SettingOption& option : tab.options) addOption(layout, option);
    layout->addStretch(1);
    return page;
}

void SettingsScreen::addOption(QVBoxLayout* layout, const SettingOption& option) {
    const QString label = tr8(option.key);
    switch (option.kind) {
        case OptionKind::Heading: {
            QLabel* h = headingLabel(label);
            h->setContentsMargins(0, 8, 0, 0);
            layout->addWidget(h);
            break;
        }
        case OptionKind::Check: {
            auto* box = new QCheckBox(label);
            box->setObjectName(option.key);
            box->setChecked(OptionValue(option, edited_) != 0);
            connect(box, &QCheckBox::toggled, this, [this, &option](bool on) {
                SetOptionValue(option, edited_, on ? 1 : 0);
                changed();
            });
            layout->addWidget(box);
            break;
        }
        case OptionKind::Slider: {
            auto* caption = new QLabel;
            auto* slider = new QSlider(Qt::Horizontal);
            slider->setObjectName(option.key);
            slider->setRange(option.minimum, option.maximum);
            slider->setInvertedAppearance(option.reversed);
            slider->setInvertedControls(option.reversed);
            slider->setPageStep(std::max(1, (option.maximum - option.minimum) / 10));
            auto* value = new QLabel;
            value->setMinimumWidth(36);
            value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            const auto show = [this, &option, caption, value](int v) {
                const SettingsTextLookup lookup = [this](std::string_view k) { return textOf(k); };
                if (option.valueKey != nullptr) {
                    caption->setText(fromUtf8(SliderValueText(option, v, lookup)));
                    value->hide();
                } else {
                    caption->setText(tr8(option.key));
                    value->setText(fromUtf8(SliderValueText(option, v, lookup)));
                }
            };
            // A value outside the range (as read from the file) is shown at the end it is
            // beyond, and only written when the slider is moved.
            slider->setValue(ClampOptionValue(option, OptionValue(option, edited_)));
            show(OptionValue(option, edited_));
            connect(slider, &QSlider::valueChanged, this, [this, &option, show](int v) {
                SetOptionValue(option, edited_, v);
                show(OptionValue(option, edited_));
                changed();
            });
            caption->setBuddy(slider);
            layout->addWidget(caption);
            auto* row = new QHBoxLayout;
            if (option.lowKey != nullptr) row->addWidget(new QLabel(tr8(option.lowKey)));
            row->addWidget(slider, 1);
            if (option.highKey != nullptr) row->addWidget(new QLabel(tr8(option.highKey)));
            row->addWidget(value);
            layout->addLayout(row);
            break;
        }
        case OptionKind::Choice: {
            auto* row = new QHBoxLayout;
            auto* caption = new QLabel(label);
            row->addWidget(caption);
            auto* button = new QPushButton;
            button->setObjectName(option.key);
            const auto show = [this, &option, button] {
                const int v = OptionValue(option, edited_);
                for (std::size_t i = 0; i < option.choiceValues.size(); ++i)
                    if (option.choiceValues[i] == ClampOptionValue(option, v)) button->setText(tr8(option.choices[i]));
            };
            show();
            connect(button, &QPushButton::clicked, this, [this, &option, show] {
                SetOptionValue(option, edited_, NextChoiceValue(option, OptionValue(option, edited_)));
                show();
                changed();
            });
            caption->setBuddy(button);
            row->addWidget(button);
            row->addStretch(1);
            layout->addLayout(row);
            break;
        }
        case OptionKind::Text: {
            auto* caption = new QLabel(label);
            auto* edit = new QLineEdit(fromUtf8(OptionText(option, edited_)));
            edit->setObjectName(option.key);
            edit->setMaxLength(option.maximum);
            connect(edit, &QLineEdit::textEdited, this, [this, &option](const QString& t) {
                SetOptionText(option, edited_, t.toUtf8().toStdString());
                changed();
            });
            caption->setBuddy(edit);
            layout->addWidget(caption);
            layout->addWidget(edit);
            break;
        }
        case OptionKind::Button: {
            auto* button = new QPushButton(label);
            button->setObjectName(option.key);
            button->setEnabled(static_cast<bool>(sources_.configureOutput));
            connect(button, &QPushButton::clicked, this, [this] {
                if (sources_.configureOutput) sources_.configureOutput(formatGuid(edited_.preferences.activeOutput));
            });
            auto* row = new QHBoxLayout;
            row->addWidget(button);
            row->addStretch(1);
            layout->addLayout(row);
            break;
        }
        case OptionKind::List: {
            if (option.list == OptionList::FileTypes) {
                layout->addWidget(new QLabel(label));
                for (int i = 0; i < kFileTypeCount; ++i) {
                    auto* box = new QCheckBox(tr8(kFileTypeKeys[i]));
                    box->setObjectName(kFileTypeMimeTypes[i]);
                    box->setChecked((OptionValue(option, edited_) & (1 << i)) != 0);
                    connect(box, &QCheckBox::toggled, this, [this, &option, i](bool on) {
                        const int bits = OptionValue(option, edited_);
                        SetOptionValue(option, edited_, on ? bits | (1 << i) : bits & ~(1 << i));
                        changed();
                    });
                    auto* indented = new QHBoxLayout;
                    indented->addSpacing(18);
                    indented->addWidget(box);
                    layout->addLayout(indented);
                }
                break;
            }
            auto* caption = new QLabel(label);
            auto* combo = new QComboBox;
            combo->setObjectName(option.key);
            std::vector<PluginChoice> items;
            if (option.list == OptionList::Languages) {
                if (sources_.languages != nullptr)
                    for (const auto& l : sources_.languages->Languages()) items.push_back({l.name, l.name});
                if (items.empty()) items.push_back({live_.language, live_.language});
            } else if (option.list == OptionList::Outputs) {
                items = sources_.outputs;
                if (items.empty()) items.push_back({formatGuid(kBuiltInOutputGuid), textOf("settings/builtinoutput")});
            } else if (option.list == OptionList::EffectPlugins) {
                items.push_back({formatGuid(Guid{}), textOf("misc/none")});
                items.insert(items.end(), sources_.effectPlugins.begin(), sources_.effectPlugins.end());
            }
            const std::string current = OptionText(option, edited_);
            int selected = -1;
            for (std::size_t i = 0; i < items.size(); ++i) {
                combo->addItem(fromUtf8(items[i].name), fromUtf8(items[i].guid));
                // Languages compare without case, GUID texts are all upper case already.
                if (QString::compare(fromUtf8(items[i].guid), fromUtf8(current), Qt::CaseInsensitive) == 0)
                    selected = int(i);
            }
            // An output no longer installed means the built-in one, which is listed first.
            combo->setCurrentIndex(selected >= 0 ? selected : 0);
            connect(combo, &QComboBox::currentIndexChanged, this, [this, &option, combo](int i) {
                if (i < 0) return;
                SetOptionText(option, edited_, combo->itemData(i).toString().toUtf8().toStdString());
                changed();
            });
            caption->setBuddy(combo);
            layout->addWidget(caption);
            layout->addWidget(combo);
            break;
        }
    }
}

QWidget* SettingsScreen::buildSkinsPage(const SettingOption& option) {
    auto* page = new QWidget;
    page->setObjectName("settings/tab/skins");
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(headingLabel(tr8("settings/tab/skins")));
    auto* row = new QHBoxLayout;
    auto* list = new QListWidget;
    list->setObjectName(option.key);
    const std::vector<SkinListEntry> skins =
        ListSkins(sources_.programDir, live_.defaultSkin, OptionText(option, edited_));
    int current = -1;
    for (const SkinListEntry& s : skins) {
        QString name = fromUtf8(s.fileName);
        if (name.endsWith(".tgf", Qt::CaseInsensitive)) name.chop(4);
        auto* item = new QListWidgetItem(name);
        item->setData(Qt::UserRole, fromUtf8(s.path));
        list->addItem(item);
        if (s.isCurrent) current = list->count() - 1;
    }
    row->addWidget(list, 1);

    auto* preview = new QVBoxLayout;
    auto* thumb = new QLabel;
    thumb->setObjectName("skinthumb");
    thumb->setFixedSize(164, 124);
    thumb->setAlignment(Qt::AlignCenter);
    thumb->setFrameShape(QFrame::StyledPanel);
    auto* title = headingLabel("");
    auto* author = new QLabel;
    author->setObjectName("settings/skinauthor");
    auto* contact = new QLabel;
    contact->setObjectName("settings/skincontact");
    contact->setOpenExternalLinks(true);
    contact->setTextInteractionFlags(Qt::TextBrowserInteraction);
    for (QLabel* l : {title, author, contact}) l->setWordWrap(true);
    preview->addWidget(thumb);
    preview->addWidget(title);
    preview->addWidget(author);
    preview->addWidget(contact);
    preview->addStretch(1);
    row->addLayout(preview);
    layout->addLayout(row, 1);

    connect(list, &QListWidget::currentRowChanged, this, [=, this, &option](int r) {
        if (r < 0) return;
        const std::string path = list->item(r)->data(Qt::UserRole).toString().toUtf8().toStdString();
        static const LanguageStore noTexts;
        const SkinPreviewInfo info =
            SkinPreview(path, sources_.programDir, sources_.languages ? *sources_.languages : noTexts);
        if (info.thumbnail) {
            thumb->setPixmap(QPixmap::fromImage(
                ToQImage(*info.thumbnail).scaled(thumb->size() - QSize(4, 4), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        } else {
            thumb->setPixmap({});
            thumb->setText(tr8("settings/nopreview"));
        }
        title->setText(fromUtf8(info.title));
        const SettingsTextLookup lookup = [this](std::string_view k) { return textOf(k); };
        const auto credit = [&](const char* key, const std::string& value) {
            const FormatArg args[] = {std::string_view(value)};
            const std::string format = textOf(key);
            return fromUtf8(formatChecked(format, args).value_or(format + " " + value));
        };
        author->setText(credit("settings/skinauthor", info.author));
        QString contactText = credit("settings/skincontact", info.urlText).toHtmlEscaped();
        if (!info.url.empty())
            contactText = credit("settings/skincontact", "").toHtmlEscaped() + "<a href=\"" +
                          fromUtf8(info.url).toHtmlEscaped() + "\">" + fromUtf8(info.urlText).toHtmlEscaped() + "</a>";
        contact->setText(contactText);
        if (ready_) {
            SetOptionText(option, edited_, path);
            changed();
        }
    });
    list->setCurrentRow(current >= 0 ? current : 0);
    return page;
}

QWidget* SettingsScreen::buildPluginPage(std::size_t module) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(headingLabel(fromUtf8(sources_.inputModules[module].name)));
    auto* button = new QPushButton(tr8("settings/configplugin"));
    button->setEnabled(static_cast<bool>(sources_.configureModule));
    connect(button, &QPushButton::clicked, this, [this, module] {
        if (sources_.configureModule) sources_.configureModule(module);
    });
    auto* row = new QHBoxLayout;
    row->addWidget(button);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addStretch(1);
    return page;
}

}  // namespace tessura::ui
