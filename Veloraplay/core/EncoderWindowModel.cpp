#include "EncoderWindowModel.h"

#include <sys/stat.h>

#include <algorithm>

#include "EncoderTexts.h"
#include "PlayerWindowModel.h"
#include "WaveInputFile.h"

namespace veloraplay {
namespace {

constexpr int kDefaultKbps = EncodeOptions{}.bitrateKbps;

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The same file under any name (or the same name, for a file not there yet).
bool sameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

std::string unsupportedInputText(const std::string& path) {
    return path +
           " is not in a file format supported by this software.\nOnly 16bit Linear PCM RIFF/WAV input files are "
           "accepted for Velora encoding.";
}

std::string overwriteQuestionText(const std::string& path) {
    return path + " already exists.\nDo you want to overwrite this file?";
}

std::string outputIsInputText(const std::string& path) {
    return path + " is the input file.\nPlease select another output file to be written.";
}

// Brings the job's reports to the interface thread.
class EncoderWindowModel::Report final : public EncodeJobReport {
  public:
    explicit Report(EncoderWindowModel& model) : model_(model) {}

    void started() override {}
    void progress(int position) override {
        later([position](EncoderWindowModel& m) {
            m.progress_ = position;
            if (m.view_) m.view_->showProgress(position);
        });
    }
    void status(const std::string& line) override {
        later([line](EncoderWindowModel& m) {
            m.status_ = line;
            if (m.view_) m.view_->showStatus(line);
        });
    }
    void message(const std::string& text) override {
        later([text](EncoderWindowModel& m) { m.error(text); });
    }
    void beep() override {
        later([](EncoderWindowModel& m) {
            if (m.view_) m.view_->beep();
        });
    }
    void handOver(const std::string& path) override {
        later([path](EncoderWindowModel& m) {
            if (m.library_ && m.library_->exists()) m.library_->add(path);
        });
    }
    void finished() override {
        later([](EncoderWindowModel& m) { m.jobFinished(); });
    }

  private:
    void later(std::function<void(EncoderWindowModel&)> task) {
        std::weak_ptr<int> alive = model_.alive_;
        EncoderWindowModel* model = &model_;
        model_.post_([alive, model, task = std::move(task)] {
            if (alive.lock()) task(*model);
        });
    }

    EncoderWindowModel& model_;
};

EncoderWindowModel::EncoderWindowModel(SettingsStore& settings, DialogService& dialogs, EncoderPlayerLink* player,
                                       EncoderLibraryLink* library, MonitorOutput* monitor, Post post, Sleep sleep)
    : settings_(settings), dialogs_(dialogs), player_(player), library_(library), post_(std::move(post)),
      sleep_(std::move(sleep)), report_(std::make_unique<Report>(*this)), job_(monitor) {
    fields_.monitorPlayback = settings_.getInt(kEncoderSection, kMonitorPlaybackKey, 0) != 0;
}

EncoderWindowModel::~EncoderWindowModel() {
    job_.stop();
    job_.join();
}

void EncoderWindowModel::refresh() {
    if (view_) view_->refresh();
}

void EncoderWindowModel::error(const std::string& text) {
    dialogs_.messageBox({kEncoderTitle, text, DialogButtons::Ok, DialogIcon::Error});
}

std::string EncoderWindowModel::defaultDirectory() const {
    return settings_.getString(kEncoderSection, kDefaultDirectoryKey, "");
}

void EncoderWindowModel::chooseInput() {
    FileDialogRequest request;
    request.title = kSelectSourceTitle;
    request.filters = {{"Wave Files (*.wav)", "*.wav"}, {"All Files (*.*)", "*"}};
    request.defaultExtension = "wav";
    request.initialPath = fields_.inputPath;
    request.mustExist = true;
    const std::optional<std::string> chosen = dialogs_.chooseFile(request);
    if (chosen && !chosen->empty()) setInput(*chosen);
}

bool EncoderWindowModel::setInput(const std::string& path) {
    if (path.empty()) return false;
    if (!velora::IsPcmWaveFile(path)) {
        error(unsupportedInputText(path));
        return false;
    }
    fields_.inputPath = path;
    fields_.outputPath = derivedOutputPath(path, defaultDirectory());
    validateInput();
    refresh();
    return true;
}

bool EncoderWindowModel::validateInput() {
    velora::WaveInputFile wave;
    fields_.infoLine.clear();
    fields_.parameters.clear();
    fields_.parameter = -1;
    fields_.inputRate = fields_.inputChannels = 0;
    if (!wave.Open(fields_.inputPath)) {
        error(unsupportedInputText(fields_.inputPath));
        return false;
    }
    fields_.inputRate = wave.SampleRate();
    fields_.inputChannels = wave.Channels();
    fields_.infoLine = encoderInfoLine(fields_.inputRate, fields_.inputChannels, wave.DataBytes());
    fields_.channelMode = fields_.inputChannels == 2 ? 1 : 0;
    rebuildParameters();
    return true;
}

void EncoderWindowModel::rebuildParameters() {
    const int keptKbps =
        fields_.parameter >= 0 ? fields_.parameters[static_cast<size_t>(fields_.parameter)].kbps : 0;
    fields_.parameters.clear();
    fields_.parameter = -1;
    if (fields_.inputRate == 0) return;
    std::vector<OperatingPoint> points;
    if (!OfferedOperatingPoints(fields_.inputRate, fields_.inputChannels,
                                static_cast<uint32_t>(fields_.channelMode + 1), points)) {
        if (view_) view_->beep();
        return;
    }
    for (const OperatingPoint& p : points) {
        fields_.parameters.push_back({parameterEntryText(p.kbps, fields_.inputRate, p.sbr), p.kbps});
        if (p.kbps == keptKbps) fields_.parameter = static_cast<int>(fields_.parameters.size()) - 1;
    }
    if (fields_.parameter >= 0 || fields_.parameters.empty()) return;
    // The encode command's own bit rate, so that the defaults make the same file.
    fields_.parameter = 0;
    for (size_t i = 0; i < fields_.parameters.size(); ++i) {
        if (fields_.parameters[i].kbps == kDefaultKbps) fields_.parameter = static_cast<int>(i);
    }
}

void EncoderWindowModel::chooseOutput() {
    FileDialogRequest request;
    request.title = kSelectOutputTitle;
    request.filters = {{"MPEG Layer-3 Files (*.mp3)", "*.mp3"}, {"All Files (*.*)", "*"}};
    request.defaultExtension = "mp3";
    request.initialPath = fields_.outputPath;
    request.save = true;
    const std::optional<std::string> chosen = dialogs_.chooseFile(request);
    if (!chosen || chosen->empty()) return;
    fields_.outputPath = withDefaultExtension(*chosen, "mp3");
    fields_.confirmedOutputPath = fields_.outputPath;
    refresh();
}

void EncoderWindowModel::chooseDefaultDirectory() {
    const std::optional<std::string> chosen = dialogs_.chooseFolder(kSelectDirectoryTitle, defaultDirectory());
    if (!chosen || chosen->empty()) return;
    settings_.setString(kEncoderSection, kDefaultDirectoryKey, *chosen);
    settings_.save();
}

void EncoderWindowModel::setVbr(bool on) {
    fields_.vbr = on;
    refresh();
}

void EncoderWindowModel::setVbrQuality(int quality) {
    // 0 would mean constant bit rate to the encoder: the slider starts at 1.
    fields_.vbrQuality = std::clamp(quality, kMinVbrQuality, kMaxVbrQuality);
}

void EncoderWindowModel::setChannelMode(int index) {
    const int mode = std::clamp(index, 0, 3);
    if (mode == fields_.channelMode) return;
    fields_.channelMode = mode;
    rebuildParameters();
    refresh();
}

void EncoderWindowModel::setParameter(int index) {
    if (index >= 0 && index < static_cast<int>(fields_.parameters.size())) fields_.parameter = index;
}

EncodeJobSettings EncoderWindowModel::jobSettings() const {
    EncodeJobSettings s;
    s.inputPath = fields_.inputPath;
    s.outputPath = fields_.outputPath;
    s.monitor = fields_.monitorPlayback;
    s.addToLibrary = fields_.addToLibrary && library_ && library_->exists();
    s.options.channelMode = static_cast<uint32_t>(fields_.channelMode + 1);
    s.options.sbr = true;
    s.options.bitrateKbps =
        fields_.parameter >= 0 ? fields_.parameters[static_cast<size_t>(fields_.parameter)].kbps : 0;
    s.options.vbrQuality = fields_.vbr ? fields_.vbrQuality : 0;
    s.options.qualityMode = fields_.extraHighQuality ? 2 : 0;
    s.options.intensityStereo = fields_.intensityStereo;
    return s;
}

bool EncoderWindowModel::stopPlayerForMonitor() {
    if (!player_) return true;
    player_->stopPlaying();
    for (int wait = 0; wait < kPlayerWaits; ++wait) {
        if (!player_->stillPlaying()) return true;
        sleep_(kPlayerWaitMs);
    }
    return !player_->stillPlaying();
}

void EncoderWindowModel::startStop() {
    if (running_) {
        job_.stop();
        return;
    }
    if (!startEnabled() && !fields_.inputPath.empty()) return;
    if (fields_.inputPath.empty()) {
        error(kNoInputText);
        return;
    }
    if (fields_.outputPath.empty() && !fields_.monitorPlayback) {
        error(kNoOutputText);
        return;
    }
    if (!fields_.outputPath.empty() && sameFile(fields_.outputPath, fields_.inputPath)) {
        error(outputIsInputText(fields_.outputPath));
        return;
    }
    if (!fields_.outputPath.empty() && fields_.outputPath != fields_.confirmedOutputPath &&
        fileExists(fields_.outputPath)) {
        const DialogButton answer = dialogs_.messageBox(
            {kEncoderTitle, overwriteQuestionText(fields_.outputPath), DialogButtons::YesNo, DialogIcon::Warning});
        if (answer != DialogButton::Yes) return;
    }
    EncodeJobSettings settings = jobSettings();
    // The sound output is one per process: the player lets go of it first, or this job is
    // not heard.
    if (settings.monitor && !stopPlayerForMonitor()) settings.monitor = false;
    running_ = true;
    progress_ = 0;
    status_.clear();
    job_.start(settings, *report_);
    refresh();
}

void EncoderWindowModel::jobFinished() {
    job_.join();
    running_ = false;
    progress_ = 0;
    if (view_) view_->showProgress(0);
    refresh();
}

void EncoderWindowModel::close() {
    job_.stop();
    job_.join();
    running_ = false;
    settings_.setInt(kEncoderSection, kMonitorPlaybackKey, fields_.monitorPlayback ? 1 : 0);
    settings_.save();
}

}  // namespace veloraplay
