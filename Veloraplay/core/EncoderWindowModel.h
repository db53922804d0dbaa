#pragma once
// The encoder window's behaviour without its widgets: the input and output choices with the
// WAVE check and the derived output path, the information line, the channel-mode and
// parameter lists, the options and their settings, the enable rules, the start checks and
// the job's reports. The window forwards input here and draws what it is told through
// EncoderView; dialogs, the player, the library and the sound output are interfaces.
#include "DialogService.h"
#include "EncodeJobThread.h"
#include "MonitorOutput.h"
#include "SettingsStore.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace veloraplay {

// The player the window was opened from, as the monitor playback needs it.
class EncoderPlayerLink {
  public:
    virtual ~EncoderPlayerLink() = default;
    virtual void stopPlaying() = 0;  // as the player's STOP button
    virtual bool stillPlaying() const = 0;
};

// The audio file library window, for the encoded file.
class EncoderLibraryLink {
  public:
    virtual ~EncoderLibraryLink() = default;
    virtual bool exists() const = 0;
    virtual void add(const std::string& path) = 0;
};

class EncoderView {
  public:
    virtual ~EncoderView() = default;
    // Every control from the model's fields and enable rules.
    virtual void refresh() = 0;
    virtual void showProgress(int position) = 0;  // 0..kProgressRange
    virtual void showStatus(const std::string& line) = 0;
    virtual void beep() = 0;
};

inline constexpr char kEncoderTitle[] = "Velora Encoder";
inline constexpr char kMonitorPlaybackKey[] = "Monitor Playback";
inline constexpr char kSelectSourceTitle[] = "Select Source File";
inline constexpr char kSelectOutputTitle[] = "Select Output File";
inline constexpr char kSelectDirectoryTitle[] = "Select Default Encoder Output Directory";
inline constexpr char kNoInputText[] = "Please select an input file for encoding.";
inline constexpr char kNoOutputText[] = "Please select an output file to be written\nor enable monitor playback.";

// Texts of the window's questions and refusals that name a file.
std::string unsupportedInputText(const std::string& path);
std::string overwriteQuestionText(const std::string& path);
std::string outputIsInputText(const std::string& path);

// The channel-mode list; entry i is the encoder's channel mode i + 1.
inline constexpr const char* kChannelModeNames[] = {"Mono", "Stereo", "LC Stereo", "Dual Mono"};

struct ParameterEntry {
    std::string text;  // "64 kbps - 44100 Hz Velora"
    int kbps = 0;
};

struct EncoderFields {
    std::string inputPath;
    std::string outputPath;
    std::string confirmedOutputPath;  // chosen in the save dialog, which asked about overwriting
    std::string infoLine;
    bool extraHighQuality = true;
    bool intensityStereo = true;
    bool monitorPlayback = false;
    bool addToLibrary = true;
    bool vbr = false;
    int vbrQuality = 50;    // 1..100
    int channelMode = 1;    // list index, 0..3
    std::vector<ParameterEntry> parameters;
    int parameter = -1;     // index into parameters, -1 none
    int inputRate = 0;      // of the validated input; 0 none
    int inputChannels = 0;
};

class EncoderWindowModel {
  public:
    static constexpr int kMinVbrQuality = 1;
    static constexpr int kMaxVbrQuality = 100;
    static constexpr int kPlayerWaitMs = 400;
    static constexpr int kPlayerWaits = 10;

    // Runs a task on the interface thread later (from any thread).
    using Post = std::function<void(std::function<void()>)>;
    using Sleep = std::function<void(int ms)>;

    // `player`, `library` and `monitor` may be null (a stand-alone encoder has no player or
    // library; no sound output, no monitor playback).
    EncoderWindowModel(SettingsStore& settings, DialogService& dialogs, EncoderPlayerLink* player,
                       EncoderLibraryLink* library, MonitorOutput* monitor, Post post, Sleep sleep);
    ~EncoderWindowModel();  // stops and waits for a running job

    void attach(EncoderView& view) { view_ = &view; }

    // The open dialog; then as setInput.
    void chooseInput();
    // A file dropped, handed in or chosen: taken when it is a PCM WAVE file, the output path
    // derived and the input validated. False when it was not taken (a message says why).
    bool setInput(const std::string& path);
    // The save dialog (which asks before overwriting): its answer is the confirmed output.
    void chooseOutput();
    void setOutputPath(const std::string& path) { fields_.outputPath = path; }
    // The folder browser for the default output directory, stored at once.
    void chooseDefaultDirectory();
    std::string defaultDirectory() const;

    void setExtraHighQuality(bool on) { fields_.extraHighQuality = on; }
    void setIntensityStereo(bool on) { fields_.intensityStereo = on; }
    void setMonitorPlayback(bool on) { fields_.monitorPlayback = on; }
    void setAddToLibrary(bool on) { fields_.addToLibrary = on; }
    void setVbr(bool on);
    void setVbrQuality(int quality);
    // Selects a channel mode (list index) and rebuilds the parameter list for it.
    void setChannelMode(int index);
    void setParameter(int index);

    // ENCODE: the checks, then the job; STOP: asks the job to stop.
    void startStop();
    // The window closes: a running job is stopped and waited for (it deletes its partial
    // output); "Monitor Playback" is saved.
    void close();

    const EncoderFields& fields() const { return fields_; }
    bool running() const { return running_; }
    // Enable rules of the controls.
    bool startEnabled() const { return running_ || (!fields_.inputPath.empty() && !fields_.parameters.empty()); }
    bool vbrSliderEnabled() const { return fields_.vbr && !running_; }
    bool parameterListEnabled() const { return !fields_.vbr && !running_; }
    bool addToLibraryEnabled() const { return !running_ && library_ && library_->exists(); }
    bool settingsEnabled() const { return !running_; }  // every choice but Start/Stop
    const char* startText() const { return running_ ? "STOP" : "ENCODE"; }
    int progress() const { return progress_; }
    const std::string& status() const { return status_; }

    // The job's settings as the fields give them now.
    EncodeJobSettings jobSettings() const;

  private:
    class Report;
    bool validateInput();
    void rebuildParameters();
    bool stopPlayerForMonitor();
    void error(const std::string& text);
    void refresh();
    void jobFinished();

    SettingsStore& settings_;
    DialogService& dialogs_;
    EncoderPlayerLink* player_;
    EncoderLibraryLink* library_;
    Post post_;
    Sleep sleep_;
    EncoderView* view_ = nullptr;
    EncoderFields fields_;
    bool running_ = false;
    int progress_ = 0;
    std::string status_;
    std::unique_ptr<Report> report_;
    // The job's posted reports find out through this whether the model is still there.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    EncodeJob job_;  // declared last, so it is stopped and joined before the rest goes
};

}  // namespace veloraplay
