#pragma once
// The equaliser model behind the window's panel: twenty band gains (1.0 = flat, band 0 the
// lowest), the preset they came from and its name. Presets 0-5 are built in, 6 is the "Custom"
// curve and 100-109 the user presets, the last two kept in "TesEque.spf". The model reaches the
// filter only through the filter's processor table, as the output chain does.
#include "EqualiserFilter.h"
#include "EqualiserPresetFile.h"

#include <array>
#include <functional>
#include <optional>
#include <string>

namespace tessura {

class LanguageStore;
struct Preferences;

inline constexpr int kPresetNone = 0;
inline constexpr int kPresetCustom = 6;
inline constexpr int kFirstUserPreset = 100;
inline constexpr int kLastUserPreset = 109;

struct EqualiserHooks {
    std::function<void()> redrawPanel;                 // the gains changed
    std::function<void(const std::string&)> announce;  // a status-line text
};

class Equaliser {
  public:
    static constexpr int kBands = 20;
    static constexpr std::size_t kMaxNameChars = 20;

    // `filter`: the equaliser filter's interface (an EqualiserFilterInterfaceTable behind it).
    // `language` and `preferences` may be null (built-in names untranslated, nothing stored).
    Equaliser(EqualiserPresetFile file, ProcessorInterface* filter, const LanguageStore* language,
              Preferences* preferences, EqualiserHooks hooks = {});

    // Loads `id` (false, with preset 0 loaded, for an unknown id or an unreadable stored one)
    // and applies it to the filter.
    bool SelectPreset(int id);
    // Sets one band (false for a band outside 0-19 or a value that is not finite); the preset
    // becomes "Custom".
    bool SetBandGain(int band, double value);
    double BandGain(int band) const;
    // The preset's name; empty for an id that names no preset.
    std::optional<std::string> PresetName(int id);
    // Stores the current gains as user preset `id` (100-109) under `name` (cut to fit its
    // field; "UserPreset%d" when empty).
    bool SaveUserPreset(int id, const std::string& name);
    // Stores the current gains as the "Custom" curve (done at exit).
    bool SaveCustom();
    void ApplyToFilter();
    void EnableEqualiser(bool on, bool announce);

    int presetId() const { return presetId_; }
    const std::string& presetName() const { return presetName_; }
    bool enabled() const { return enabled_; }
    const std::array<double, kBands>& gains() const { return gains_; }

    // The built-in curves 0-5.
    static const std::array<std::array<double, kBands>, 6>& BuiltinGains();

  private:
    std::string builtinName(int id) const;
    void loadBuiltin(int id);

    EqualiserPresetFile file_;
    ProcessorInterface* filter_;
    const LanguageStore* language_;
    Preferences* preferences_;
    EqualiserHooks hooks_;
    std::array<double, kBands> gains_{};
    int presetId_ = kPresetNone;
    std::string presetName_;
    bool enabled_ = false;
};

}  // namespace tessura
