#include "Equaliser.h"

#include "LanguageStore.h"
#include "Preferences.h"

#include <cmath>

namespace tessura {

namespace {
constexpr const char* kBuiltinNameKeys[] = {
    "eq/preset_none_text", "eq/preset_pop_text",       "eq/preset_rock_text",
    "eq/preset_jazz_text", "eq/preset_classical_text", "eq/preset_dance_text",
};
constexpr const char* kBuiltinNames[] = {"None", "Pop", "Rock", "Jazz", "Classical", "Dance"};

bool isUserPreset(int id) {
    return id >= kFirstUserPreset && id <= kLastUserPreset;
}

std::size_t userRecord(int id) {
    return static_cast<std::size_t>(id - kFirstUserPreset);
}

const EqualiserFilterInterfaceTable* filterTable(ProcessorInterface* filter) {
    return reinterpret_cast<const EqualiserFilterInterfaceTable*>(filter->table);
}
}  // namespace

const std::array<std::array<double, Equaliser::kBands>, 6>& Equaliser::BuiltinGains() {
    static constexpr std::array<double, kBands> rock = {1.3, 1.3, 1.2, 1.1, 1.0, 1.2, 1.3,
                                                        1.3, 1.1, 1.0, 1.0, 1.0, 1.0, 1.0,
                                                        1.0, 1.0, 1.1, 1.2, 1.3, 1.4};
    static constexpr std::array<std::array<double, kBands>, 6> table = {{
        {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0,
         1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0},
        {1.0, 1.1, 1.2, 1.3, 1.4, 1.3, 1.2, 1.1, 1.1, 1.0,
         1.0, 1.0, 1.0, 1.1, 1.2, 1.3, 1.4, 1.3, 1.2, 1.1},
        rock,
        {1.1, 1.1, 1.2, 1.1, 1.0, 1.2, 1.0, 1.0, 1.3, 1.3,
         1.4, 1.2, 1.1, 1.0, 1.0, 1.0, 1.1, 1.2, 1.3, 1.2},
        rock,  // Classical shares Rock's curve
        {1.3, 1.25, 1.2, 1.15, 1.1, 1.05, 1.0, 1.0,  1.0, 1.0,
         1.0, 1.0,  1.0, 1.05, 1.1, 1.15, 1.2, 1.25, 1.3, 1.35},
    }};
    return table;
}

Equaliser::Equaliser(EqualiserPresetFile file, ProcessorInterface* filter,
                     const LanguageStore* language, Preferences* preferences, EqualiserHooks hooks)
    : file_(std::move(file)),
      filter_(filter),
      language_(language),
      preferences_(preferences),
      hooks_(std::move(hooks)) {
    enabled_ = preferences_ != nullptr && preferences_->enableEQ != 0;
    if (filter_ != nullptr) filterTable(filter_)->SetEnabled(filter_, enabled_ ? 1 : 0);
    SelectPreset(preferences_ != nullptr ? preferences_->eqPreset : kPresetNone);
}

std::string Equaliser::builtinName(int id) const {
    if (id == kPresetCustom) return "Custom";
    const char* key = kBuiltinNameKeys[id];
    std::string text = language_ != nullptr ? language_->Text(key) : std::string(key);
    if (text == key || text.empty()) text = kBuiltinNames[id];
    return firstUtf8Chars(text, kMaxNameChars);
}

void Equaliser::loadBuiltin(int id) {
    gains_ = BuiltinGains()[static_cast<std::size_t>(id)];
    presetId_ = id;
    presetName_ = builtinName(id);
}

bool Equaliser::SelectPreset(int id) {
    bool ok = true;
    if (id >= 0 && id <= 5) {
        loadBuiltin(id);
    } else if (id == kPresetCustom || isUserPreset(id)) {
        const std::size_t index =
            id == kPresetCustom ? EqualiserPresetFile::kCustomRecord : userRecord(id);
        if (auto record = file_.Read(index)) {
            for (int band = 0; band < kBands; ++band) gains_[band] = static_cast<double>(record->gains[band]);
            presetId_ = id;
            presetName_ = id == kPresetCustom ? builtinName(id) : record->name;
        } else {
            loadBuiltin(kPresetNone);
            ok = false;
        }
    } else {
        loadBuiltin(kPresetNone);
        ok = false;
    }
    if (preferences_ != nullptr) preferences_->eqPreset = presetId_;
    ApplyToFilter();
    return ok;
}

bool Equaliser::SetBandGain(int band, double value) {
    if (band < 0 || band >= kBands || !std::isfinite(value)) return false;
    gains_[band] = value;
    presetId_ = kPresetCustom;
    presetName_ = builtinName(kPresetCustom);
    if (preferences_ != nullptr) preferences_->eqPreset = presetId_;
    if (filter_ != nullptr) filterTable(filter_)->SetFilterGain(filter_, band, value);
    return true;
}

double Equaliser::BandGain(int band) const {
    if (band < 0 || band >= kBands) return 1.0;
    return gains_[band];
}

std::optional<std::string> Equaliser::PresetName(int id) {
    if (id >= 0 && id <= kPresetCustom) return builtinName(id);
    if (!isUserPreset(id)) return std::nullopt;
    if (auto record = file_.Read(userRecord(id))) return record->name;
    // What a fresh file would hold, rather than a placeholder the user cannot make sense of.
    return EqualiserPresetFile::DefaultRecord(userRecord(id)).name;
}

bool Equaliser::SaveUserPreset(int id, const std::string& name) {
    if (!isUserPreset(id)) return false;
    PresetRecord record;
    // The name ends at a NUL, as it will when read back.
    const std::string given = name.substr(0, name.find('\0'));
    record.name = given.empty() ? EqualiserPresetFile::DefaultRecord(userRecord(id)).name
                                : firstUtf8Chars(given, kMaxNameChars);
    for (int band = 0; band < kBands; ++band) record.gains[band] = static_cast<float>(gains_[band]);
    if (!file_.Write(userRecord(id), record)) return false;
    presetId_ = id;
    presetName_ = fitUtf8(record.name, EqualiserPresetFile::kNameBytes - 1);
    if (preferences_ != nullptr) preferences_->eqPreset = presetId_;
    return true;
}

bool Equaliser::SaveCustom() {
    PresetRecord record = EqualiserPresetFile::DefaultRecord(EqualiserPresetFile::kCustomRecord);
    for (int band = 0; band < kBands; ++band) record.gains[band] = static_cast<float>(gains_[band]);
    return file_.Write(EqualiserPresetFile::kCustomRecord, record);
}

void Equaliser::ApplyToFilter() {
    if (hooks_.redrawPanel) hooks_.redrawPanel();
    if (filter_ == nullptr) return;
    for (int band = 0; band < kBands; ++band)
        filterTable(filter_)->SetFilterGain(filter_, band, gains_[band]);
}

void Equaliser::EnableEqualiser(bool on, bool announce) {
    ApplyToFilter();
    enabled_ = on;
    if (filter_ != nullptr) filterTable(filter_)->SetEnabled(filter_, on ? 1 : 0);
    if (preferences_ != nullptr) preferences_->enableEQ = on ? 1 : 0;
    if (announce && hooks_.announce) {
        const char* key = on ? "main/eqenabled" : "main/eqdisabled";
        hooks_.announce(language_ != nullptr ? language_->Text(key) : std::string(key));
    }
}

}  // namespace tessura
